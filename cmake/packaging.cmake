# `cpack` in a build directory: a .deb of everything `cmake --install`
# puts in place, or, from the Windows build, a .zip of the three programs
# and the README.
set(CPACK_PACKAGE_NAME tuk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pack and unpack .tuk archives of asset files")
set(CPACK_PACKAGE_CONTACT "tuk developers <tuk-dev@example.org>")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tuk-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "TukPack, tukUnpack and tuk, with the tuk archive library (static), its headers, CMake package and pkg-config file, man pages and shell completion.")
  # The runtime libraries the programs link come from dpkg-shlibdeps
  # (package dpkg-dev) when it is there; else they are named here.
  find_program(TUK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(TUK_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
    if(TUK_XXHASH_LIBRARY)
      string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libxxhash0")
    endif()
  endif()
  # tuk convert loads libarchive when it runs, where dpkg-shlibdeps does not
  # look: libarchive.so.13 comes in the package libarchive13.
  if(TUK_LIBARCHIVE_SONAME)
    string(REGEX REPLACE "^(lib.*)\\.so\\.([0-9]+)$" "\\1\\2" libarchive_package
           "${TUK_LIBARCHIVE_SONAME}")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${libarchive_package}")
  endif()
  # Linking a program against the library takes xxHash's development files.
  if(TUK_XXHASH_LIBRARY)
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libxxhash-dev")
  endif()
endif()

include(CPack)

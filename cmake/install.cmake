# What `cmake --install` puts under the prefix: the three programs, and on
# systems other than Windows the library with its public headers, a CMake
# package (find_package(tuk), target tuk::tuk), a pkg-config file, the man
# pages and the shell completion.
include(CMakePackageConfigHelpers)

set(tuk_programs tukUnpack TukPack)
if(TARGET tuk)
  list(APPEND tuk_programs tuk)
endif()
if(WIN32)
  # The Windows zip holds the programs and the README, side by side.
  install(TARGETS ${tuk_programs} RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  return()
endif()
install(TARGETS ${tuk_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The library is installed as static archives. tukarchive needs the codec
# and platform archives beside it; they carry no headers of their own.
set_target_properties(tukarchive PROPERTIES EXPORT_NAME tuk)
install(TARGETS tukarchive tukcodec tukplatform EXPORT tukTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/tuk DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

set(tuk_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tuk)
install(EXPORT tukTargets NAMESPACE tuk:: DESTINATION ${tuk_cmake_dir})
configure_package_config_file(cmake/tukConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/tukConfig.cmake
                              INSTALL_DESTINATION ${tuk_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tukConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tukConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/tukConfigVersion.cmake
        DESTINATION ${tuk_cmake_dir})

# Only static archives are installed, so every link dependency belongs in
# Libs (and xxHash in Requires): a plain `pkg-config --libs tuk` links.
if(TUK_XXHASH_LIBRARY)
  set(TUK_PC_REQUIRES "libxxhash")
endif()
# The prefix is found from the file's own place, so the package can be
# installed under any prefix.
file(RELATIVE_PATH TUK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/tuk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tuk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tuk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES man/TukPack.1 man/tukUnpack.1 man/tuk.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES completion/tuk.bash RENAME tuk
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES completion/_tuk DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

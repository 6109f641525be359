# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix). The "posix" variant brings std::thread and
# the other C++11 threading pieces, which the win32 variant lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TUK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TUK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TUK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TUK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TUK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets try_run and the like start the built programs through Wine.
find_program(TUK_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(TUK_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TUK_WINE64})
endif()

# Cross-builds for 64-bit Windows with Debian's mingw-w64, and runs what it builds (tests, test
# discovery) under Wine. The -posix compilers carry std::thread over winpthreads; the -win32
# ones have no std::thread in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLNET_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLNET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLNET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLNET_MINGW_TRIPLET}-windres)

# Headers and libraries come from the mingw-w64 tree only, never from the build machine's
# /usr/include or /usr/lib; programs (wine, the compilers) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLNET_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(QUILLNET_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLNET_WINE})

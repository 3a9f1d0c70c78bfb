# Cross-builds the Windows executable with Debian's MinGW-w64 (posix threads):
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Everything is linked statically, so ulvtool.exe needs no DLL beside it. With
# Wine installed, the tests run under it through ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ULVTOOL_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ULVTOOL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ULVTOOL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ULVTOOL_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ULVTOOL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Wine runs the test programs, in a prefix of the build's own; quiet, since its
# own messages would land among the tests' output.
find_program(ULVTOOL_ENV env)
find_program(ULVTOOL_WINE NAMES wine wine64)
if(ULVTOOL_ENV AND ULVTOOL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${ULVTOOL_ENV} WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix ${ULVTOOL_WINE})
endif()

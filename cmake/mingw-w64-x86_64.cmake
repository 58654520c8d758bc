# Cross build for 64-bit Windows with Debian's mingw-w64.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix-threads variant of the compiler: GoogleTest needs std::mutex, which the win32
# variant lacks. -static links its run-time too, so the .exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test programs under Wine when it is there.
find_program(QUELMAR_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(QUELMAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELMAR_WINE})
endif()

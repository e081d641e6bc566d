# Cross-build for 64-bit x86 Windows, which the tests run under wine64 where
# the system runs no 32-bit code: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(VENTRIM_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

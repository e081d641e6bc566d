# Cross-build for 32-bit x86 Windows with Debian's mingw-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# mingw-x86_64.cmake sets VENTRIM_MINGW_ARCH first, for 64-bit Windows.
if(NOT VENTRIM_MINGW_ARCH)
  set(VENTRIM_MINGW_ARCH i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VENTRIM_MINGW_ARCH})
set(CMAKE_C_COMPILER ${VENTRIM_MINGW_ARCH}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${VENTRIM_MINGW_ARCH}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${VENTRIM_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VENTRIM_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# What it links runs on a plain Windows: GCC's support library and the C++
# runtime go into each executable and DLL instead of being imported from
# mingw-w64's own DLLs (libgcc_s_dw2-1.dll and libstdc++-6.dll), which no
# Windows ships. Only the 32-bit compiler imports libgcc_s by default.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
endforeach()

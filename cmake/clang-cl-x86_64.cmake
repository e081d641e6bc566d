# Cross-build for 64-bit x86 Windows with clang-cl, the compiler that takes
# cl's options, and LLVM's linker and librarian: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/clang-cl-x86_64.cmake
# With no MSVC runtime or Windows SDK on the machine, programs built with it
# use no C runtime: their entry is mainCRTStartup (a DLL has none), and
# mingw-w64's kernel32 import library is the one library they link.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
foreach(lang C CXX)
  set(CMAKE_${lang}_COMPILER clang-cl-14)
  set(CMAKE_${lang}_COMPILER_TARGET x86_64-pc-windows-msvc)
  set(CMAKE_${lang}_STANDARD_LIBRARIES /usr/x86_64-w64-mingw32/lib/libkernel32.a CACHE STRING "")
endforeach()
set(CMAKE_LINKER lld-link)
set(CMAKE_AR llvm-lib)
set(CMAKE_MT llvm-mt)
set(CMAKE_RC_COMPILER llvm-rc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "/nodefaultlib /entry:mainCRTStartup /WX")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "/nodefaultlib /noentry /WX")

# 32-bit Linux build on a 64-bit Debian host: g++ -m32 with SSE2 floating point,
# i386 multiarch libraries. No CMAKE_SYSTEM_NAME: this is not a cross build.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(KTX_X86_FLAGS "-m32 -msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "${KTX_X86_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${KTX_X86_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")

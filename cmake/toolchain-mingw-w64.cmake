# What both Windows cross builds share; the including toolchain file sets
# KTX_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) first. The -posix
# compilers are required: the win32 thread model of GCC 12 has no std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KTX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KTX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KTX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KTX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static runtime: the DLL and the test programs import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows x64 cross build with mingw-w64: the same sources on the Windows
# runtime, with tests that run under wine64 (wine32 cannot start on a kernel
# without 32-bit programs).
set(KTX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64.cmake)
# Tests run under wine64 with a prefix inside the build tree (see cmake/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;--win64")

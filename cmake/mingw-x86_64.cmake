# Cross-compiles the same sources for 64-bit Windows with mingw-w64: the build
# the Windows tests run under 64-bit Wine on machines that cannot run 32-bit
# programs. The product itself is the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)

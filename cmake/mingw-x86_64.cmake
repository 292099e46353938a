# Cross-compiling for 64-bit Windows with mingw-w64 (posix thread model): the test build on
# machines that cannot run 32-bit code or have no 32-bit Wine. The shipped programs are always the
# 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZUL_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

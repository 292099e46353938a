# Cross-compiling for 64-bit Windows with mingw-w64 (posix thread model): the test build on
# machines whose kernel cannot run 32-bit code. The shipped programs are always the 32-bit build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZUL_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${ZUL_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZUL_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZUL_TRIPLE}-windres)
set(CMAKE_AR           ${ZUL_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${ZUL_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ZUL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything is linked statically: the .exe and .dll files need nothing beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

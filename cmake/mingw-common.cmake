# Shared part of the mingw-w64 toolchain files (posix thread model); the including file sets
# CMAKE_SYSTEM_PROCESSOR and ZUL_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

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

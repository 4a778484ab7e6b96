# Shared by both toolchain files; ORV_TARGET names the triplet. The posix thread model gives
# std::thread and std::mutex.
set(CMAKE_C_COMPILER ${ORV_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORV_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORV_TARGET}-windres)
set(CMAKE_AR ${ORV_TARGET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORV_TARGET}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${ORV_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

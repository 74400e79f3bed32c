# What both Windows targets share: the -posix compilers (their C++ runtime
# has std::thread), windres, and the target's own headers and libraries only.
set(CMAKE_C_COMPILER ${NOCTIL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOCTIL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NOCTIL_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NOCTIL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

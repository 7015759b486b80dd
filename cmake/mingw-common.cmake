# Shared by the two MinGW-w64 toolchains; KVL_MINGW_TRIPLE and
# KVL_DEPS_SUBDIR are set by the including toolchain file.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KVL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVL_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KVL_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KVL_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(KVL_DLLTOOL ${KVL_MINGW_TRIPLE}-dlltool CACHE FILEPATH "")
set(KVL_OBJDUMP ${KVL_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

if(NOT KVL_DEPS_PREFIX)
  if(DEFINED ENV{KVL_DEPS_DIR})
    set(KVL_DEPS_PREFIX "$ENV{KVL_DEPS_DIR}/${KVL_DEPS_SUBDIR}")
  else()
    set(KVL_DEPS_PREFIX "/var/cache/kvl-deps/${KVL_DEPS_SUBDIR}")
  endif()
endif()
set(KVL_DEPS_PREFIX "${KVL_DEPS_PREFIX}" CACHE PATH "Prefix of the cross-built dependencies")

set(CMAKE_FIND_ROOT_PATH /usr/${KVL_MINGW_TRIPLE} "${KVL_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs each .exe through this wrapper, which keeps a private Wine prefix
# inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;--prefix=${CMAKE_BINARY_DIR}/wineprefix")

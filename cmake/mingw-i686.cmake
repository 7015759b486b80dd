# Cross toolchain for the product: 32-bit Windows with MinGW-w64 (posix threads).
# Test executables run under Wine in the build tree's own prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_AR i686-w64-mingw32-ar CACHE FILEPATH "")
set(CMAKE_RANLIB i686-w64-mingw32-ranlib CACHE FILEPATH "")
set(CMAKE_DLLTOOL i686-w64-mingw32-dlltool CACHE FILEPATH "")

if(NOT KVL_DEPS_PREFIX)
  if(DEFINED ENV{KVL_DEPS_DIR})
    set(KVL_DEPS_PREFIX "$ENV{KVL_DEPS_DIR}/mingw32")
  else()
    set(KVL_DEPS_PREFIX "/var/cache/kvl-deps/mingw32")
  endif()
endif()
set(KVL_DEPS_PREFIX "${KVL_DEPS_PREFIX}" CACHE PATH "Prefix of the cross-built dependencies")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 "${KVL_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs each .exe through this wrapper, which keeps a private Wine prefix
# inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;--prefix=${CMAKE_BINARY_DIR}/wineprefix")

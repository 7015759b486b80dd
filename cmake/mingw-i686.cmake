# The product's toolchain: 32-bit Windows with MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KVL_MINGW_TRIPLE i686-w64-mingw32)
set(KVL_DEPS_SUBDIR mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

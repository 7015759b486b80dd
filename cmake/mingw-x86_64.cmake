# The same sources for 64-bit Windows. The Windows tests run this build under
# Wine: the machines we build on cannot execute 32-bit programs, and Wine runs
# 32-bit Windows programs only through its 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KVL_MINGW_TRIPLE x86_64-w64-mingw32)
set(KVL_DEPS_SUBDIR mingw64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

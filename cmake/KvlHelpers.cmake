# jsmn: header-only, from Debian's libjsmn-dev, for both configurations.
find_path(KVL_JSMN_INCLUDE jsmn.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(kvl_jsmn INTERFACE)
# Only the header is copied into the build tree: adding /usr/include itself
# would put the host's C library headers before MinGW's in a cross build.
file(COPY "${KVL_JSMN_INCLUDE}/jsmn.h" DESTINATION "${CMAKE_BINARY_DIR}/kvl_jsmn")
target_include_directories(kvl_jsmn SYSTEM INTERFACE "${CMAKE_BINARY_DIR}/kvl_jsmn")

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # MD5 on the host comes from Debian's libmbedtls-dev.
  find_library(KVL_MBEDCRYPTO_LIB mbedcrypto REQUIRED)
  add_library(kvl_mbedcrypto INTERFACE)
  target_link_libraries(kvl_mbedcrypto INTERFACE "${KVL_MBEDCRYPTO_LIB}")
endif()

# kvl_add_gtest(NAME SOURCES... LIBS ...): one GoogleTest executable whose
# cases ctest lists one by one, linked with the tests' shared support
# (tests/support). Windows tests run under Wine in the build tree's prefix and
# share it, so they take the wine_prefix fixture and never run two at a time.
function(kvl_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kvl_test_support GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix
                 TIMEOUT ${ARG_TIMEOUT} LABELS windows ${ARG_PROPERTIES})
  else()
    # Listing runs at build time; a sanitized program on a loaded machine can
    # take longer than the default 5 s to start, which fails the build.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS host ${ARG_PROPERTIES})
  endif()
endfunction()

# kvl_put_beside(TARGET PROGRAM...): the files of the other targets copied
# beside TARGET's program after each build, where the loader and the tests
# look for them.
function(kvl_put_beside target)
  add_dependencies(${target} ${ARGN})
  set(files "")
  foreach(program ${ARGN})
    list(APPEND files $<TARGET_FILE:${program}>)
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${files} $<TARGET_FILE_DIR:${target}>)
endfunction()

# Ferolin.dll, which a program importing the library needs at load time, and
# FerolinRun.exe.
function(kvl_put_ferolin_beside target)
  kvl_put_beside(${target} Ferolin FerolinRun)
endfunction()

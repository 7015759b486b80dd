# Cross-built libcurl (on OpenSSL) and mbed TLS from the bootstrap prefix;
# jsmn is header-only and comes from Debian's libjsmn-dev.
if(NOT EXISTS "${KVL_DEPS_PREFIX}/lib/libcurl.a")
  message(FATAL_ERROR "No cross-built libcurl in ${KVL_DEPS_PREFIX}: run scripts/bootstrap.sh first")
endif()

add_library(kvl_curl INTERFACE)
target_include_directories(kvl_curl SYSTEM INTERFACE "${KVL_DEPS_PREFIX}/include")
target_link_libraries(kvl_curl INTERFACE
  "${KVL_DEPS_PREFIX}/lib/libcurl.a"
  "${KVL_DEPS_PREFIX}/lib/libssl.a"
  "${KVL_DEPS_PREFIX}/lib/libcrypto.a"
  ws2_32 crypt32 bcrypt)

add_library(kvl_mbedcrypto INTERFACE)
target_include_directories(kvl_mbedcrypto SYSTEM INTERFACE "${KVL_DEPS_PREFIX}/include")
target_link_libraries(kvl_mbedcrypto INTERFACE "${KVL_DEPS_PREFIX}/lib/libmbedcrypto.a")

# The test PKI of the build tree, and the signing of what the build ships.
#
# test-pki/ in the build tree is made by scripts/make-test-pki.sh: the tests'
# publishers, and the test publisher that signs a build configured without a
# certificate of its own.
set(KVL_TEST_PKI_DIR ${CMAKE_BINARY_DIR}/test-pki)
set(kvl_test_pki_files
  ${KVL_TEST_PKI_DIR}/ca.pem ${KVL_TEST_PKI_DIR}/other_ca.pem
  ${KVL_TEST_PKI_DIR}/publisher_cert.pem ${KVL_TEST_PKI_DIR}/publisher_key.pem)
add_custom_command(OUTPUT ${kvl_test_pki_files}
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/make-test-pki.sh ${KVL_TEST_PKI_DIR}
  # The script leaves a complete folder alone; the outputs must still look
  # newer than the script that made them.
  COMMAND ${CMAKE_COMMAND} -E touch ${kvl_test_pki_files}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-test-pki.sh
  COMMENT "Test PKI in test-pki/")
add_custom_target(kvl_test_pki DEPENDS ${kvl_test_pki_files})

# The provider's code-signing certificate (PEM, with any intermediate CAs
# after it) and key come from the build's configuration: these cache
# variables, which take the environment's values of the same names at the
# first configure. Never from the repository.
set(KVL_SIGN_CERT "$ENV{KVL_SIGN_CERT}" CACHE FILEPATH "PEM code-signing certificate (and chain) that signs the shipped files")
set(KVL_SIGN_KEY "$ENV{KVL_SIGN_KEY}" CACHE FILEPATH "PEM private key of KVL_SIGN_CERT")
set(KVL_SIGN_PASS_FILE "$ENV{KVL_SIGN_PASS_FILE}" CACHE FILEPATH "File whose first line is the key's pass phrase (empty: the key is not encrypted)")
set(KVL_SIGN_TIMESTAMP_URL "$ENV{KVL_SIGN_TIMESTAMP_URL}" CACHE STRING "RFC 3161 timestamp server (empty: no timestamp)")

find_program(KVL_OSSLSIGNCODE osslsigncode)
set(kvl_sign_depends)
if(KVL_SIGN_CERT OR KVL_SIGN_KEY)
  if(NOT KVL_SIGN_CERT OR NOT KVL_SIGN_KEY)
    message(FATAL_ERROR "KVL_SIGN_CERT and KVL_SIGN_KEY: give both or neither")
  endif()
  set(kvl_sign_cert ${KVL_SIGN_CERT})
  set(kvl_sign_key ${KVL_SIGN_KEY})
  set(kvl_sign_said "Signing the shipped files with ${KVL_SIGN_CERT}")
else()
  set(kvl_sign_cert ${KVL_TEST_PKI_DIR}/publisher_cert.pem)
  set(kvl_sign_key ${KVL_TEST_PKI_DIR}/publisher_key.pem)
  set(kvl_sign_depends ${kvl_test_pki_files})
  set(kvl_sign_said "Signing the shipped files with the TEST publisher (test-pki/): set KVL_SIGN_CERT and KVL_SIGN_KEY for a release")
endif()

# kvl_signed_packages(PACKAGE TARGET): signed/ beside the caller's binaries,
# the variants of the unsigned installer PACKAGE that the publisher check's
# tests use (tests/install/make-signed-packages.sh lists them), made by
# TARGET.
function(kvl_signed_packages package target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/signed)
  set(made)
  foreach(name good good_ex other expired nocodesign unsigned cut)
    list(APPEND made ${dir}/${name}.msi)
  endforeach()
  add_custom_command(OUTPUT ${made}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install/make-signed-packages.sh ${dir} ${KVL_TEST_PKI_DIR} ${package}
    DEPENDS ${package} ${CMAKE_SOURCE_DIR}/tests/install/make-signed-packages.sh ${kvl_test_pki_files}
    COMMENT "Signed test packages in signed/")
  add_custom_target(${target} DEPENDS ${made})
endfunction()

# kvl_sign_commands(OUT FILE DESCRIPTION): in OUT the COMMAND lines that sign
# FILE (a PE file or an installer package) in place; with a timestamp when a
# server is configured.
function(kvl_sign_commands out file description)
  if(NOT KVL_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found (Debian package osslsigncode): the shipped files are signed")
  endif()
  set(options -h sha256 -n "${description}" -certs ${kvl_sign_cert} -key ${kvl_sign_key})
  if(KVL_SIGN_PASS_FILE)
    list(APPEND options -readpass ${KVL_SIGN_PASS_FILE})
  endif()
  if(KVL_SIGN_TIMESTAMP_URL)
    list(APPEND options -ts ${KVL_SIGN_TIMESTAMP_URL})
  endif()
  set(${out}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${file}.signed
    COMMAND ${KVL_OSSLSIGNCODE} sign ${options} -in ${file} -out ${file}.signed
    COMMAND ${CMAKE_COMMAND} -E rename ${file}.signed ${file}
    PARENT_SCOPE)
endfunction()

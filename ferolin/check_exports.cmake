# Checks a PE file's export or import table with objdump:
#   cmake -DOBJDUMP=... -DFILE=... -DMODE=exports|imports [-DEXPECTED=a;b] -P check_exports.cmake
# exports: the file exports exactly the names in EXPECTED, in any order
# (no decorated or plain twin beside them).
# imports: the file imports "Ferolin" by name from Ferolin.dll.
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p ${FILE} failed")
endif()

if(MODE STREQUAL "exports")
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${dump}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
  list(TRANSFORM entries REPLACE "^\\[ *[0-9]+\\] " "")
  set(names "${entries}")
  list(SORT names)
  set(expected "${EXPECTED}")
  list(SORT expected)
  if(NOT names STREQUAL expected)
    message(FATAL_ERROR "${FILE} exports '${names}', expected exactly '${expected}'")
  endif()
elseif(MODE STREQUAL "imports")
  string(REGEX MATCH "DLL Name: Ferolin\\.dll\n[^\n]*\n([^\n]+\n)*" table "${dump}")
  if(NOT table MATCHES "[0-9a-f]+[ \t]+[0-9]+[ \t]+Ferolin\n")
    message(FATAL_ERROR "${FILE} does not import the plain name Ferolin from Ferolin.dll:\n${table}")
  endif()
else()
  message(FATAL_ERROR "MODE must be exports or imports")
endif()

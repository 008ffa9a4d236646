# cmake -DPROGRAM=... -DNM=... -DFUNCTIONS=a;b;... -P CheckTimeImports.cmake
# Fails when PROGRAM imports one of FUNCTIONS (gSOAP's functions that take a time_t, whose width
# differs between the library and the project on a 32-bit target).
execute_process(COMMAND ${NM} -D --undefined-only ${PROGRAM} OUTPUT_VARIABLE imports RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${PROGRAM}")
endif()
set(found)
foreach(function IN LISTS FUNCTIONS)
  if(imports MATCHES "[ \n]${function}(@[^\n]*)?\n")
    list(APPEND found ${function})
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "${PROGRAM} calls gSOAP functions that take a time_t (${found}): the library's "
                      "time_t may be narrower than the project's (_TIME_BITS=64)")
endif()

# Adds to the generated readers the type checks that gSOAP leaves out and that
# a hand-written serialiser cannot take over without copying the whole reader.
# Run by the build after soapcpp2:
#   cmake -DSOAPC=<generated soapC.cpp> -P PatchGenerated.cmake
# Each change names the one function it changes and the one statement in it
# that it follows; any other number of matches fails the build here.

file(READ "${SOAPC}" code)

# Inserts <check> after the element is entered in the reader soap_in_<type>.
function(check_after_element_begin type check)
  set(header "[^\n]* soap_in_${type}\\(struct soap \\*soap, const char \\*tag, [^\n]*\\)\n{\n")
  string(REGEX MATCHALL "${header}" headers "${code}")
  list(LENGTH headers count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "soapC.cpp: ${count} readers soap_in_${type}, expected 1")
  endif()
  string(FIND "${code}" "${headers}" start)
  string(SUBSTRING "${code}" ${start} -1 rest)
  string(FIND "${rest}" "\n}\n" length)
  string(SUBSTRING "${rest}" 0 ${length} body)

  set(enter "if \\(soap_element_begin_in\\(soap, tag, [01], NULL\\)\\)")
  set(begin "(${enter}[ \t\n]*return NULL;\n)")
  string(REGEX MATCHALL "${enter}" begins "${body}")  # (no ';' in a match: one list item each)
  list(LENGTH begins count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "soapC.cpp: soap_in_${type} enters its element ${count} times, expected 1")
  endif()
  string(REGEX REPLACE "${begin}" "\\1${check}" patched "${body}")

  string(SUBSTRING "${code}" 0 ${start} before)
  string(SUBSTRING "${rest}" ${length} -1 after)
  set(code "${before}${patched}${after}" PARENT_SCOPE)
endfunction()

# A response element that carries xsi:type must name its own type.
foreach(response ns0__logonResponse ns0__logonAsRootResponse ns0__getCMSConfigPathResponse
                 ns5__invokeResponse ns5__statusResponse)
  string(REPLACE "__" ":" qname "${response}")
  check_after_element_begin(${response}
"	if (*soap->type && soap_match_tag(soap, soap->type, \"${qname}\"))
	{	soap->error = SOAP_TYPE;
		return NULL;
	}
")
endforeach()

# The status record is read only as ns1:clifstatus: a record that names another
# xsi:type is a type error, not a record of that shape read as a status.
check_after_element_begin(ns1__clifstatus
"	if (*soap->type && soap_match_tag(soap, soap->type, \"ns1:clifstatus\"))
	{	soap->error = SOAP_TYPE;
		return NULL;
	}
")

file(WRITE "${SOAPC}" "${code}")

# Adjusts the generated serialisers to the reading and writing rules the
# client keeps with the CMS's services. Run by the build after soapcpp2:
#   cmake -DSOAPC=<generated soapC.cpp> -P PatchGenerated.cmake
# Every rule must apply; a changed generator output fails the build here.

file(READ "${SOAPC}" code)

function(patch description old new)
  string(FIND "${code}" "${old}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "soapC.cpp: cannot apply: ${description}")
  endif()
  string(REPLACE "${old}" "${new}" patched "${code}")
  set(code "${patched}" PARENT_SCOPE)
endfunction()

# Booleans and numbers go out without xsi:type; strings, bytes, the map and
# the array keep theirs.
string(REGEX REPLACE "(soap_out_(bool|int|LONG64)\\(soap, \"[A-Za-z0-9_]+\", -1, [^;]*), \"xsd:(boolean|int|long)\"\\)"
       "\\1, \"\")" code "${code}")
# (checks only: the replacement above must have reached these members)
patch("untyped in4" "&a->in4, \"\")" "&a->in4, \"\")")
patch("untyped pollPeriod" "&a->ns1__clifstatus::pollPeriod, \"\")" "&a->ns1__clifstatus::pollPeriod, \"\")")

# SOAP-encoded arrays carry xsi:type "SOAP-ENC:Array" beside their arrayType.
patch("typed arrays"
  "if (soap_array_begin_out(soap, tag, id, t, NULL))"
  "if ((t && soap_set_attr(soap, \"xsi:type\", \"SOAP-ENC:Array\", 1)) || soap_array_begin_out(soap, tag, id, t, NULL))")

# A string element typed as anything but xsd:string is a type error; Axis
# servers type their strings SOAP-ENC:string, the same type in SOAP encoding.
patch("string type check"
  "	(void)type; /* appease -Wall -Werror */
	if (soap_element_begin_in(soap, tag, 1, NULL))
		return NULL;
	if (!s)
		s = soap_new_std__string(soap, -1);"
  "	(void)type; /* appease -Wall -Werror */
	if (soap_element_begin_in(soap, tag, 1, NULL))
		return NULL;
	if (*soap->type && soap_match_tag(soap, soap->type, \"xsd:string\") && soap_match_tag(soap, soap->type, \"SOAP-ENC:string\"))
	{	soap->error = SOAP_TYPE;
		return NULL;
	}
	if (!s)
		s = soap_new_std__string(soap, -1);")

# The status record is read only as ns1:clifstatus: a record that names another xsi:type is a
# type error, not a record of that shape read as a status.
patch("type check of ns1__clifstatus"
  "ns1__clifstatus *a, const char *type)
{
	(void)type; /* appease -Wall -Werror */
	if (soap_element_begin_in(soap, tag, 0, NULL))
		return NULL;"
  "ns1__clifstatus *a, const char *type)
{
	(void)type; /* appease -Wall -Werror */
	if (soap_element_begin_in(soap, tag, 0, NULL))
		return NULL;
	if (*soap->type && soap_match_tag(soap, soap->type, \"ns1:clifstatus\"))
	{	soap->error = SOAP_TYPE;
		return NULL;
	}")

# A boolean is read whatever its xsi:type says.
patch("untyped boolean input"
  "if (*soap->type && soap_match_tag(soap, soap->type, type) && soap_match_tag(soap, soap->type, \":boolean\"))"
  "if (0)")

# A response element that carries xsi:type must name its own type.
foreach(response ns0__logonResponse ns0__logonAsRootResponse ns0__getCMSConfigPathResponse
                 ns5__invokeResponse ns5__statusResponse)
  string(REPLACE "__" ":" qname "${response}")
  patch("type check of ${response}"
    "struct ${response} *a, const char *type)
{"
    "struct ${response} *a, const char *type)
{
	if (!soap_peek_element(soap) && *soap->type && soap_match_tag(soap, soap->type, \"${qname}\"))
	{	soap->error = SOAP_TYPE;
		return NULL;
	}")
endforeach()

# The return value is the first child of the response element, whatever its
# name; only getCMSConfigPath's must be named getCMSConfigPathReturn.
patch("any name for logonReturn" "soap_in_std__string(soap, \"logonReturn\"" "soap_in_std__string(soap, NULL")
patch("any name for logonAsRootReturn" "soap_in_std__string(soap, \"logonAsRootReturn\"" "soap_in_std__string(soap, NULL")
patch("any name for invokeReturn" "soap_in_PointerTons1__clifstatus(soap, \"invokeReturn\"" "soap_in_PointerTons1__clifstatus(soap, NULL")
patch("any name for statusReturn" "soap_in_PointerTons1__clifstatus(soap, \"statusReturn\"" "soap_in_PointerTons1__clifstatus(soap, NULL")

file(WRITE "${SOAPC}" "${code}")

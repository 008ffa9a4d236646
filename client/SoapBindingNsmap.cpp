// The global namespace table, generated from the service definition so that
// the namespace URIs are written down in one place only. Both services share
// it: every message declares all eight prefixes.
#include "soapH.h"
#include "clifserviceSoapBinding.nsmap"

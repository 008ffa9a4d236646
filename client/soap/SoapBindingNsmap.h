#ifndef SOAP_BINDING_NSMAP_H
#define SOAP_BINDING_NSMAP_H

// The namespace table that the SOAP runtime consults for both services, the
// global `namespaces` (declared by the runtime's header, defined in
// SoapBindingNsmap.cpp).
#include "stdsoap2.h"

#endif

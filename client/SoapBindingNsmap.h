#ifndef SOAP_BINDING_NSMAP_H
#define SOAP_BINDING_NSMAP_H

// The namespace table that the SOAP runtime consults for both services.
extern struct Namespace namespaces[];

#endif

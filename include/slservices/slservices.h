/* Everything a host needs to talk to the module through its plain C interface. */
#ifndef SLSERVICES_SLSERVICES_H_
#define SLSERVICES_SLSERVICES_H_

#include "slservices/sl_result.h"
#include "slservices/sl_object.h"
#include "slservices/sl_filesystem.h"
#include "slservices/sl_stream.h"
#include "slservices/sl_module.h"

#endif /* SLSERVICES_SLSERVICES_H_ */

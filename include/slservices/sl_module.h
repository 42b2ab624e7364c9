/* What a host finds in the module: its five exports and the class list. The host loads the
 * module dynamically and resolves these names; hosts also provide the atom library's
 * SLGetAtomFromString (atom.dll / libatom.so), which the module binds on first use. */
#ifndef SLSERVICES_SL_MODULE_H_
#define SLSERVICES_SL_MODULE_H_

#include "slservices/sl_object.h"

SL_EXTERN_C_BEGIN

/* One class of the module; the array ends with an all-zero record that is not counted. */
typedef struct ServiceObjectInfo {
  uint32_t classAtom; /* as it stood when the list was built: 0xFFFFFFFF if unresolved */
  uint32_t padding;
  const char* className;
} ServiceObjectInfo;

SL_STATIC_ASSERT(sizeof(ServiceObjectInfo) == 16, "ServiceObjectInfo is 16 bytes");
SL_STATIC_ASSERT(offsetof(ServiceObjectInfo, className) == 8, "className at 8");

#define SL_CLASS_FILE_SYSTEM_SERVICE "FileSystemService"
#define SL_CLASS_STREAM_SERVICE "StreamService"

/* [thread-safe] 0; 3 for a null pointer; 11 when the module has no classes. */
typedef SLResult (*SLReflectServiceObjectInfoFn)(const ServiceObjectInfo** info, uint32_t* count);
/* [thread-safe] 0; 3 for atom 0 or a null pointer; 11 for an unknown atom; 22 no object. */
typedef SLResult (*SLCreateServiceObjectFn)(uint32_t classAtom, ServiceObject** object);
/* The three notifications do nothing and return 0. */
typedef SLResult (*SLModuleNotificationFn)(void);
/* The atom library's one function: the same name always gives the same atom. */
typedef uint32_t (*SLGetAtomFromStringFn)(const char* name, uint32_t* atom);

#define SL_EXPORT_REFLECT "ReflectServiceObjectInfo"
#define SL_EXPORT_CREATE "CreateServiceObject"
#define SL_EXPORT_INITIALIZE "ServiceObjectModuleInitialize"
#define SL_EXPORT_ON_CLEANUP "ServiceObjectModuleOnCleanup"
#define SL_EXPORT_ON_FREE "ServiceObjectModuleOnFree"
#define SL_ATOM_FUNCTION "SLGetAtomFromString"

/* Declarations for code that links the module or the atom library directly. */
SLResult ReflectServiceObjectInfo(const ServiceObjectInfo** info, uint32_t* count);
SLResult CreateServiceObject(uint32_t classAtom, ServiceObject** object);
SLResult ServiceObjectModuleInitialize(void);
SLResult ServiceObjectModuleOnCleanup(void);
SLResult ServiceObjectModuleOnFree(void);
uint32_t SLGetAtomFromString(const char* name, uint32_t* atom);

SL_EXTERN_C_END

#endif /* SLSERVICES_SL_MODULE_H_ */

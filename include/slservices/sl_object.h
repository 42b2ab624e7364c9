/* The header every service object starts with, the weak-reference block and the failure
 * record a caller reads back. Hosts see objects only through these layouts.
 *
 * Thread safety: the base entries may be called from any thread at any time while the caller
 * holds a reference. Calling rules for any object reached through its table:
 *   1. call a base entry only when its pointer is non-null;
 *   2. call interface entry i (from 0) only when tableSize > 8 * i and its pointer is non-null;
 *      test the size before reading the pointer. */
#ifndef SLSERVICES_SL_OBJECT_H_
#define SLSERVICES_SL_OBJECT_H_

#include "slservices/sl_result.h"

SL_EXTERN_C_BEGIN

typedef struct ServiceObject ServiceObject;
typedef struct ServiceObjectWeakRef ServiceObjectWeakRef;

/* Filled by GetErrorInfo: the calling thread's last failure on the object. */
typedef struct SLErrorInfo {
  uint32_t code;
  uint32_t line;                /* line of the generated entry in its source header */
  const SLChar16* message;      /* NUL-terminated, owned by the object */
  const char* functionName;     /* static string */
  const char* sourceFile;       /* static string */
} SLErrorInfo;

typedef uint32_t (*SLAddRefFn)(ServiceObject* self);          /* [thread-safe] new count */
typedef uint32_t (*SLReleaseFn)(ServiceObject* self);         /* [thread-safe] 0 = destroyed */
typedef uint32_t (*SLGetRefCountFn)(ServiceObject* self);     /* [thread-safe] */
typedef SLResult (*SLGetWeakRefFn)(ServiceObject* self, ServiceObjectWeakRef** weak);
/* The third argument is reserved: callers pass 0, the module ignores it. */
typedef SLResult (*SLGetErrorInfoFn)(ServiceObject* self, SLErrorInfo* info, uint64_t reserved);

/* The first 56 bytes of every object; the interface entries follow, then "EOFT" and a stamp. */
typedef struct ServiceFunctionTable {
  uint32_t interfaceId;         /* low 32 bits of the 64-bit FNV-1a hash of interfaceName */
  uint32_t tableSize;           /* bytes of interface entries: 8 * N */
  const char* interfaceName;
  SLAddRefFn AddRef;
  SLReleaseFn Release;
  SLGetRefCountFn GetRefCount;
  SLGetWeakRefFn GetWeakRef;
  SLGetErrorInfoFn GetErrorInfo;
} ServiceFunctionTable;

/* Any object, seen through its header only. */
struct ServiceObject {
  ServiceFunctionTable header;
};

/* A weak reference: Lock hands out a new strong reference while the object lives. */
struct ServiceObjectWeakRef {
  uint32_t (*AddRef)(ServiceObjectWeakRef* self);       /* [thread-safe] new weak count */
  uint32_t (*Release)(ServiceObjectWeakRef* self);      /* [thread-safe] 0 = block freed */
  uint32_t (*GetRefCount)(ServiceObjectWeakRef* self);  /* [thread-safe] */
  uint8_t (*IsAlive)(ServiceObjectWeakRef* self);       /* [thread-safe] 1 while attached */
  ServiceObject* (*Lock)(ServiceObjectWeakRef* self);   /* [thread-safe] new reference or null */
};

#define SL_END_OF_TABLE_MARKER "EOFT"
#define SL_HEADER_SIZE(entryCount) (64u + 8u * (entryCount))

SL_STATIC_ASSERT(sizeof(SLErrorInfo) == 32, "SLErrorInfo is 32 bytes");
SL_STATIC_ASSERT(offsetof(SLErrorInfo, message) == 8, "SLErrorInfo.message at 8");
SL_STATIC_ASSERT(offsetof(SLErrorInfo, functionName) == 16, "SLErrorInfo.functionName at 16");
SL_STATIC_ASSERT(offsetof(SLErrorInfo, sourceFile) == 24, "SLErrorInfo.sourceFile at 24");
SL_STATIC_ASSERT(sizeof(ServiceFunctionTable) == 56, "the common header is 56 bytes");
SL_STATIC_ASSERT(offsetof(ServiceFunctionTable, tableSize) == 4, "tableSize at 4");
SL_STATIC_ASSERT(offsetof(ServiceFunctionTable, interfaceName) == 8, "interfaceName at 8");
SL_STATIC_ASSERT(offsetof(ServiceFunctionTable, AddRef) == 16, "AddRef at 16");
SL_STATIC_ASSERT(offsetof(ServiceFunctionTable, Release) == 24, "Release at 24");
SL_STATIC_ASSERT(offsetof(ServiceFunctionTable, GetRefCount) == 32, "GetRefCount at 32");
SL_STATIC_ASSERT(offsetof(ServiceFunctionTable, GetWeakRef) == 40, "GetWeakRef at 40");
SL_STATIC_ASSERT(offsetof(ServiceFunctionTable, GetErrorInfo) == 48, "GetErrorInfo at 48");
SL_STATIC_ASSERT(sizeof(ServiceObjectWeakRef) == 40, "weak-reference entries are 40 bytes");
SL_STATIC_ASSERT(offsetof(ServiceObjectWeakRef, IsAlive) == 24, "IsAlive at 24");
SL_STATIC_ASSERT(offsetof(ServiceObjectWeakRef, Lock) == 32, "Lock at 32");

SL_EXTERN_C_END

#endif /* SLSERVICES_SL_OBJECT_H_ */

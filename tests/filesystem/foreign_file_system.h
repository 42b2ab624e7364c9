/* A file system made by a host in plain C: a hand-written SLFileSystem table whose size and
 * entries each test may change, counted AddRef/Release, and a name entry that can fail with or
 * without a failure record. Only the name entry and the base entries are filled in. */
#ifndef FSTEST_FOREIGN_FILE_SYSTEM_H_
#define FSTEST_FOREIGN_FILE_SYSTEM_H_

#include "slservices/sl_filesystem.h"

SL_EXTERN_C_BEGIN

typedef struct ForeignFileSystem {
  SLFileSystem table; /* first: the object's address is the table's */
  uint32_t atom;      /* written by GetFileSystemName when writesAtom is set */
  int writesAtom;
  SLResult nameResult; /* returned by GetFileSystemName */
  int hasRecord;       /* GetErrorInfo yields a record (code nameResult) */
  int32_t refCount;    /* starts at 1, the test's own reference */
  uint32_t addRefCalls;
  uint32_t releaseCalls;
  uint32_t nameCalls;
} ForeignFileSystem;

/* A full 17-entry table reporting `atom`; every entry but the name entry is null. */
void ForeignFileSystemInit(ForeignFileSystem* fs, uint32_t atom);

/* The message of the record GetErrorInfo yields. */
extern const SLChar16 kForeignFailureMessage[];

SL_EXTERN_C_END

#endif /* FSTEST_FOREIGN_FILE_SYSTEM_H_ */

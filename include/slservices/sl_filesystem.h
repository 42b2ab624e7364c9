/* The file-system service, file systems and folder-search results.
 *
 * Paths are NUL-terminated UTF-16. An object handed out through an out pointer carries one
 * reference that the receiver gives back with Release; objects passed in are borrowed. */
#ifndef SLSERVICES_SL_FILESYSTEM_H_
#define SLSERVICES_SL_FILESYSTEM_H_

#include "slservices/sl_object.h"

SL_EXTERN_C_BEGIN

/* An open file of one file system; the default file system hands out the OS handle itself. */
typedef void* SLFileHandle;

/* OpenFile mode bits, examined in the order 4, 2, 1; the first present decides. */
#define SL_OPEN_READ 1u     /* read an existing file; others may read or delete it */
#define SL_OPEN_WRITE 2u    /* read and write an existing file, no sharing */
#define SL_OPEN_CREATE 4u   /* create or truncate, read and write, no sharing */

typedef struct SLFileSystem SLFileSystem;
typedef struct SLFileSystemSearchResult SLFileSystemSearchResult;
typedef struct SLFileSystemService SLFileSystemService;

#define SL_FILESYSTEM_ID 0xA3A0DE85u
#define SL_FILESYSTEM_TABLE_SIZE 136u
#define SL_FILESYSTEM_STAMP 0x124A777Fu

/* [thread-safe] every entry; calls on one handle share that handle's position. */
struct SLFileSystem {
  ServiceFunctionTable header;
  SLResult (*GetFileSystemName)(SLFileSystem* self, uint32_t* atom);
  SLResult (*CreateFolder)(SLFileSystem* self, const SLChar16* path);
  SLResult (*CreateAllFolders)(SLFileSystem* self, const SLChar16* path);
  SLResult (*RemoveFolder)(SLFileSystem* self, const SLChar16* path);
  SLResult (*OpenFile)(SLFileSystem* self, const SLChar16* path, uint32_t mode,
                       SLFileHandle* file);
  SLResult (*CloseFile)(SLFileSystem* self, SLFileHandle file);
  SLResult (*IsFileExists)(SLFileSystem* self, const SLChar16* path, uint8_t* exists);
  SLResult (*ReadFile)(SLFileSystem* self, SLFileHandle file, void* buffer, uint64_t size,
                       uint64_t* done);
  SLResult (*WriteFile)(SLFileSystem* self, SLFileHandle file, const void* buffer,
                        uint64_t size, uint64_t* done);
  SLResult (*FlushFile)(SLFileSystem* self, SLFileHandle file);
  SLResult (*GetFilePos)(SLFileSystem* self, SLFileHandle file, uint64_t* position);
  SLResult (*SetFilePos)(SLFileSystem* self, SLFileHandle file, int64_t position);
  SLResult (*GetFileSize)(SLFileSystem* self, SLFileHandle file, uint64_t* size);
  SLResult (*RemoveFile)(SLFileSystem* self, const SLChar16* path);
  /* The default file system maps no paths: both return 1 and look at nothing. */
  SLResult (*MakeDIPathFromPath)(SLFileSystem* self, const SLChar16* path, SLChar16* out,
                                 uint64_t outSize);
  SLResult (*MakePathFromDIPath)(SLFileSystem* self, const SLChar16* path, SLChar16* out,
                                 uint64_t outSize);
  SLResult (*Search)(SLFileSystem* self, const SLChar16* pattern,
                     SLFileSystemSearchResult** result);
  char endMarker[4];
  uint32_t tableStamp;
};

#define SL_FILESYSTEM_SEARCH_RESULT_ID 0x856FD608u
#define SL_FILESYSTEM_SEARCH_RESULT_TABLE_SIZE 16u
#define SL_FILESYSTEM_SEARCH_RESULT_STAMP 0xB1C0C294u

/* A frozen list of names. [thread-safe] */
struct SLFileSystemSearchResult {
  ServiceFunctionTable header;
  SLResult (*GetCount)(SLFileSystemSearchResult* self, uint64_t* count);
  /* The name belongs to the result object and stays valid until it is destroyed. */
  SLResult (*GetFileInfo)(SLFileSystemSearchResult* self, uint32_t index,
                          const SLChar16** name);
  char endMarker[4];
  uint32_t tableStamp;
};

#define SL_FILESYSTEM_SERVICE_ID 0x56000904u
#define SL_FILESYSTEM_SERVICE_TABLE_SIZE 32u
#define SL_FILESYSTEM_SERVICE_STAMP 0xEAAA3D38u

/* Registry of file systems by the name atom each reports about itself. GetDefaultFileSystem
 * and GetRegisteredFileSystemByName may run concurrently; Register/Unregister must not overlap
 * any other call on the same service object. */
struct SLFileSystemService {
  ServiceFunctionTable header;
  SLResult (*GetDefaultFileSystem)(SLFileSystemService* self, SLFileSystem** fileSystem);
  SLResult (*RegisterFileSystem)(SLFileSystemService* self, SLFileSystem* fileSystem);
  SLResult (*UnregisterFileSystem)(SLFileSystemService* self, SLFileSystem* fileSystem);
  SLResult (*GetRegisteredFileSystemByName)(SLFileSystemService* self, uint32_t name,
                                            SLFileSystem** fileSystem);
  char endMarker[4];
  uint32_t tableStamp;
};

SL_STATIC_ASSERT(sizeof(SLFileSystem) == SL_HEADER_SIZE(17), "SLFileSystem header size");
SL_STATIC_ASSERT(offsetof(SLFileSystem, GetFileSystemName) == 56, "first entry at 56");
SL_STATIC_ASSERT(offsetof(SLFileSystem, OpenFile) == 56 + 8 * 4, "OpenFile is slot 4");
SL_STATIC_ASSERT(offsetof(SLFileSystem, CloseFile) == 56 + 8 * 5, "CloseFile is slot 5");
SL_STATIC_ASSERT(offsetof(SLFileSystem, ReadFile) == 56 + 8 * 7, "ReadFile is slot 7");
SL_STATIC_ASSERT(offsetof(SLFileSystem, WriteFile) == 56 + 8 * 8, "WriteFile is slot 8");
SL_STATIC_ASSERT(offsetof(SLFileSystem, FlushFile) == 56 + 8 * 9, "FlushFile is slot 9");
SL_STATIC_ASSERT(offsetof(SLFileSystem, Search) == 56 + 8 * 16, "Search is slot 16");
SL_STATIC_ASSERT(offsetof(SLFileSystem, endMarker) == 56 + SL_FILESYSTEM_TABLE_SIZE, "EOFT");
SL_STATIC_ASSERT(offsetof(SLFileSystem, tableStamp) == 60 + SL_FILESYSTEM_TABLE_SIZE, "stamp");
SL_STATIC_ASSERT(sizeof(SLFileSystemSearchResult) == SL_HEADER_SIZE(2), "search result size");
SL_STATIC_ASSERT(offsetof(SLFileSystemSearchResult, GetFileInfo) == 64, "GetFileInfo slot 1");
SL_STATIC_ASSERT(offsetof(SLFileSystemSearchResult, endMarker) == 72, "EOFT");
SL_STATIC_ASSERT(sizeof(SLFileSystemService) == SL_HEADER_SIZE(4), "service header size");
SL_STATIC_ASSERT(offsetof(SLFileSystemService, GetRegisteredFileSystemByName) == 80, "slot 3");
SL_STATIC_ASSERT(offsetof(SLFileSystemService, endMarker) == 88, "EOFT");
SL_STATIC_ASSERT(offsetof(SLFileSystemService, tableStamp) == 92, "stamp");

SL_EXTERN_C_END

#endif /* SLSERVICES_SL_FILESYSTEM_H_ */

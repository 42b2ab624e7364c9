/* The stream service: buffered read streams over memory, files or callbacks, and write
 * streams over files or callbacks. A stream handle is used by one thread at a time; the
 * service object itself is [thread-safe]. */
#ifndef SLSERVICES_SL_STREAM_H_
#define SLSERVICES_SL_STREAM_H_

#include "slservices/sl_filesystem.h"

SL_EXTERN_C_BEGIN

/* Opaque: the address of the stream record. Valid from a successful Open to CloseStream. */
typedef struct SLStream* SLStreamHandle;

/* Callbacks of a read stream; the record is copied at open, the context is passed back. */
typedef struct SLReadHandler {
  /* Bytes placed at the start of buffer, at most capacity; 0 or all ones end the data. */
  uint64_t (*Read)(void* context, void* buffer, uint64_t capacity);
  uint8_t (*Flush)(void* context); /* success flag; only the low byte counts */
  void (*Close)(void* context);    /* the last call made with the context */
} SLReadHandler;

/* Callbacks of a write stream. */
typedef struct SLWriteHandler {
  /* Bytes taken from the start of source, 0 to size. */
  uint64_t (*Write)(void* context, const void* source, uint64_t size);
  uint8_t (*Flush)(void* context);
  void (*Close)(void* context);
} SLWriteHandler;

#define SL_STREAM_SERVICE_ID 0xD107D9F9u
#define SL_STREAM_SERVICE_TABLE_SIZE 72u
#define SL_STREAM_SERVICE_STAMP 0x5224169Bu

typedef struct SLStreamService SLStreamService;

struct SLStreamService {
  ServiceFunctionTable header;
  SLResult (*OpenMemReadStream)(SLStreamService* self, const void* data, uint64_t size,
                                SLStreamHandle* stream);
  /* The stream takes over the file handle and holds one reference to the file system. */
  SLResult (*OpenFileReadStream)(SLStreamService* self, SLFileSystem* fileSystem,
                                 SLFileHandle file, SLStreamHandle* stream);
  SLResult (*OpenFileWriteStream)(SLStreamService* self, SLFileSystem* fileSystem,
                                  SLFileHandle file, SLStreamHandle* stream);
  SLResult (*OpenReadStream)(SLStreamService* self, const SLReadHandler* handler,
                             void* context, SLStreamHandle* stream);
  SLResult (*OpenWriteStream)(SLStreamService* self, const SLWriteHandler* handler,
                              void* context, SLStreamHandle* stream);
  /* A count below size means the data ended or the device failed; the stream stays so. */
  SLResult (*ReadStream)(SLStreamService* self, SLStreamHandle stream, void* buffer,
                         uint64_t size, uint64_t* done);
  /* done always receives size; device failures show only as a bad stream. */
  SLResult (*WriteStream)(SLStreamService* self, SLStreamHandle stream, const void* buffer,
                          uint64_t size, uint64_t* done);
  SLResult (*FlushStream)(SLStreamService* self, SLStreamHandle stream);
  SLResult (*CloseStream)(SLStreamService* self, SLStreamHandle stream); /* always 0 */
  char endMarker[4];
  uint32_t tableStamp;
};

SL_STATIC_ASSERT(sizeof(SLReadHandler) == 24, "SLReadHandler is three pointers");
SL_STATIC_ASSERT(sizeof(SLWriteHandler) == 24, "SLWriteHandler is three pointers");
SL_STATIC_ASSERT(sizeof(SLStreamService) == SL_HEADER_SIZE(9), "stream service header size");
SL_STATIC_ASSERT(offsetof(SLStreamService, ReadStream) == 56 + 8 * 5, "ReadStream is slot 5");
SL_STATIC_ASSERT(offsetof(SLStreamService, CloseStream) == 56 + 8 * 8, "CloseStream slot 8");
SL_STATIC_ASSERT(offsetof(SLStreamService, endMarker) == 128, "EOFT");
SL_STATIC_ASSERT(offsetof(SLStreamService, tableStamp) == 132, "stamp");

SL_EXTERN_C_END

#endif /* SLSERVICES_SL_STREAM_H_ */

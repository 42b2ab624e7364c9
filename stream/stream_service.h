// SLStreamServiceImpl: the "StreamService" class. It hands out stream handles (the addresses of
// stream records, see stream_records.h) and runs the nine entries on them. The object keeps no
// state of its own: a handle is self-contained, may be passed to any stream service object,
// and outlives the object that opened it.
//
// Each stream is a filtering stream with exactly one device: basic_array_source for memory,
// or one of the three adaptors nested here (file_adaptor.h, handler_adaptors.h).
//
// Thread safety: the entries take no lock; one handle is used by one thread at a time, and
// calls on different handles may run at once.
#pragma once

#include <cstdint>

#include "runtime/service_object_ptr.h"
#include "support/details/StreamServiceCalls"

struct SLStreamServiceImpl
    : SOImpl::CppSLStreamServiceBase<SLStreamServiceImpl, SODetails::ServiceObjectTraits> {
  class _FileAdaptor;
  class _ReadHandlerAdaptor;
  class _WriteHandlerAdaptor;

  SLResult OpenMemReadStream(const void* data, uint64_t size, SLStreamHandle* stream);
  SLResult OpenFileReadStream(SLFileSystem* fileSystem, SLFileHandle file, SLStreamHandle* stream);
  SLResult OpenFileWriteStream(SLFileSystem* fileSystem, SLFileHandle file, SLStreamHandle* stream);
  SLResult OpenReadStream(const SLReadHandler* handler, void* context, SLStreamHandle* stream);
  SLResult OpenWriteStream(const SLWriteHandler* handler, void* context, SLStreamHandle* stream);
  SLResult ReadStream(SLStreamHandle stream, void* buffer, uint64_t size, uint64_t* done);
  SLResult WriteStream(SLStreamHandle stream, const void* buffer, uint64_t size, uint64_t* done);
  SLResult FlushStream(SLStreamHandle stream);
  SLResult CloseStream(SLStreamHandle stream);
};

namespace sl::stream {

// The "StreamService" class's factory: a new stream service; the reference holds its one count.
SODetails::BasicServiceObjectPtr<ServiceObject> CreateStreamService();

}  // namespace sl::stream

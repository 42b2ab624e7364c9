#include "stream/stream_service.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include "runtime/service_object_ptr.h"
#include "stream/file_adaptor.h"
#include "stream/handler_adaptors.h"
#include "stream/opening_stream.h"
#include "stream/partial_write_fix.h"
#include "stream/stream_records.h"

namespace {

namespace io = boost::iostreams;

// Opens a stream of the record's kind over one device, with the library's default buffer and
// putback sizes. If memory runs out on the way, everything built so far is taken down again
// without a single device call, and the allocation failure goes on to the caller: the record
// comes first, since dropping a finished stream would flush and close its device, and the
// guard keeps the library's own clean-up of a half-inserted link from doing so.
template <class Record, class Mode, class Device>
std::unique_ptr<Record> OpenStream(const Device& device) {
  auto record = std::make_unique<Record>();
  {
    sl::stream::OpeningStream opening;
    record->stream = std::make_shared<io::filtering_stream<Mode, char>>(device);
  }
  return record;
}

// A read stream over a file or callbacks, which may also be read past its buffer (see
// ReadWholeBuffers).
template <class Device>
SLStreamHandle OpenDeviceReadStream(const Device& device) {
  std::unique_ptr<_SLInputStreamRec> record = OpenStream<_SLInputStreamRec, io::input>(device);
  auto& filtering = static_cast<io::filtering_istream&>(*record->stream);
  record->device = filtering.component<Device>(0);
  record->readDevice = [](void* self, char* buffer, std::streamsize n) {
    return static_cast<Device*>(self)->read(buffer, n);
  };
  return record.release()->AsHandle();
}

// What one refill asks the device for: the library's default buffer, less nothing (the putback
// area comes on top of it).
constexpr std::streamsize kRefillSize = io::default_device_buffer_size;

// A read of at least one whole buffer on a good device stream, done as the stream buffer would
// do it but without the copy through the buffer: first what the buffer holds, then one device
// read of kRefillSize bytes at a time straight into the caller's memory while a whole buffer is
// still wanted, then the rest through the stream as usual. The device sees the same reads, of
// the same size, in the same order as through the buffer, and the stream ends in the state a
// plain read would leave: end of data sets eof and fail; a device that throws sets bad, and the
// call then counts 0 bytes.
std::streamsize ReadWholeBuffers(std::istream& in, const _SLInputStreamRec& record, char* out,
                                 std::streamsize wanted) {
  std::streambuf* buffered = in.rdbuf();
  std::streamsize done = 0;
  const std::streamsize held = buffered->in_avail();
  if (held > 0) done = buffered->sgetn(out, std::min(held, wanted));
  while (wanted - done >= kRefillSize) {
    std::streamsize got = -1;
    try {
      got = record.readDevice(record.device, out + done, kRefillSize);
    } catch (...) {
      in.setstate(std::ios_base::badbit);
      return 0;  // as a plain read counts it: nothing, whatever was already copied
    }
    if (got <= 0) {  // 0 or -1: the end of the data, as the stream buffer takes either
      in.setstate(std::ios_base::eofbit | std::ios_base::failbit);
      return done;
    }
    done += got;
  }
  if (done < wanted) {
    in.read(out + done, wanted - done);
    done = in.bad() ? 0 : done + in.gcount();
  }
  return done;
}

// A read that the stream's buffer does not hold: whole buffers straight from the device when
// that is possible, else the stream's own read. Kept out of line, so that the reads the buffer
// holds (every small read of a memory stream) pay for none of it.
__attribute__((noinline)) std::streamsize ReadPastBuffer(std::istream& in,
                                                         const _SLInputStreamRec& record, char* out,
                                                         std::streamsize wanted) {
  if (in.good() && record.readDevice != nullptr && wanted >= kRefillSize) {
    return ReadWholeBuffers(in, record, out, wanted);
  }
  in.read(out, wanted);
  return in.gcount();
}

// Byte counts beyond what a stream can take in one call are cut to that; no caller buffer is
// that large.
std::streamsize StreamSize(uint64_t size) {
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<std::streamsize>::max());
  return static_cast<std::streamsize>(std::min(size, kMax));
}

}  // namespace

SLResult SLStreamServiceImpl::OpenMemReadStream(const void* data, uint64_t size,
                                                SLStreamHandle* stream) {
  if (data == nullptr || stream == nullptr) return SL_INVALID_ARGUMENT;
  // The caller's bytes become the stream's read area: nothing is copied.
  const char* begin = static_cast<const char*>(data);
  *stream =
      OpenStream<_SLInputStreamRec, io::input>(io::basic_array_source<char>(begin, begin + size))
          .release()
          ->AsHandle();
  return SL_OK;
}

SLResult SLStreamServiceImpl::OpenFileReadStream(SLFileSystem* fileSystem, SLFileHandle file,
                                                 SLStreamHandle* stream) {
  if (fileSystem == nullptr || stream == nullptr) return SL_INVALID_ARGUMENT;
  // The stream buffer's copy of the device keeps the one reference that outlives this call.
  *stream = OpenDeviceReadStream(
      _FileAdaptor(SODetails::BasicServiceObjectPtr<SLFileSystem>::Share(fileSystem), file));
  return SL_OK;
}

SLResult SLStreamServiceImpl::OpenFileWriteStream(SLFileSystem* fileSystem, SLFileHandle file,
                                                  SLStreamHandle* stream) {
  if (fileSystem == nullptr || stream == nullptr) return SL_INVALID_ARGUMENT;
  *stream =
      OpenStream<_SLOutputStreamRec, io::output>(
          _FileAdaptor(SODetails::BasicServiceObjectPtr<SLFileSystem>::Share(fileSystem), file))
          .release()
          ->AsHandle();
  return SL_OK;
}

SLResult SLStreamServiceImpl::OpenReadStream(const SLReadHandler* handler, void* context,
                                             SLStreamHandle* stream) {
  if (handler == nullptr || stream == nullptr) return SL_INVALID_ARGUMENT;
  *stream = OpenDeviceReadStream(_ReadHandlerAdaptor(*handler, context));
  return SL_OK;
}

SLResult SLStreamServiceImpl::OpenWriteStream(const SLWriteHandler* handler, void* context,
                                              SLStreamHandle* stream) {
  if (handler == nullptr || stream == nullptr) return SL_INVALID_ARGUMENT;
  *stream = OpenStream<_SLOutputStreamRec, io::output>(_WriteHandlerAdaptor(*handler, context))
                .release()
                ->AsHandle();
  return SL_OK;
}

SLResult SLStreamServiceImpl::ReadStream(SLStreamHandle stream, void* buffer, uint64_t size,
                                         uint64_t* done) {
  if (stream == nullptr || done == nullptr) return SL_INVALID_ARGUMENT;
  _SLStreamRec* record = _SLStreamRec::FromHandle(stream);
  if (!record->IsInput()) return SL_INVALID_ARGUMENT;
  // The unformatted read stops at the end of the data and turns a device failure into a bad
  // stream with a count of 0; once at end, failed or bad, the stream reads nothing more.
  const auto& input = *static_cast<_SLInputStreamRec*>(record);
  std::istream& in = *input.stream;
  const std::streamsize wanted = StreamSize(size);
  // When the stream is good and its buffer (for a memory stream: the caller's whole block)
  // already holds the request, taking it straight from the buffer is all that read would do:
  // nothing can end, fail or throw on the way, so the state stays as it is. Small reads skip
  // the stream's sentry this way.
  std::streambuf* buffered = in.rdbuf();
  if (in.good() && buffered->in_avail() >= wanted) {
    *done = static_cast<uint64_t>(buffered->sgetn(static_cast<char*>(buffer), wanted));
    return SL_OK;
  }
  *done = static_cast<uint64_t>(ReadPastBuffer(in, input, static_cast<char*>(buffer), wanted));
  return SL_OK;
}

SLResult SLStreamServiceImpl::WriteStream(SLStreamHandle stream, const void* buffer, uint64_t size,
                                          uint64_t* done) {
  if (stream == nullptr || done == nullptr) return SL_INVALID_ARGUMENT;
  _SLStreamRec* record = _SLStreamRec::FromHandle(stream);
  if (record->IsInput()) return SL_INVALID_ARGUMENT;
  // A device that takes less than a full buffer makes the stream bad; a bad stream passes
  // nothing on. Neither shows here: the caller is told the size it asked for.
  std::ostream& out = *static_cast<_SLOutputStreamRec*>(record)->stream;
  out.write(static_cast<const char*>(buffer), StreamSize(size));
  *done = size;
  return SL_OK;
}

SLResult SLStreamServiceImpl::FlushStream(SLStreamHandle stream) {
  if (stream == nullptr) return SL_INVALID_ARGUMENT;
  _SLStreamRec* record = _SLStreamRec::FromHandle(stream);
  // A read stream has nothing to hand over; flushing it does nothing at all.
  if (record->IsInput()) return SL_OK;
  // Buffered bytes go to the device, then the device flushes; a bad stream does nothing.
  static_cast<_SLOutputStreamRec*>(record)->stream->flush();
  return SL_OK;
}

SLResult SLStreamServiceImpl::CloseStream(SLStreamHandle stream) {
  delete _SLStreamRec::FromHandle(stream);
  return SL_OK;
}

namespace sl::stream {

SODetails::BasicServiceObjectPtr<ServiceObject> CreateStreamService() {
  return SODetails::BasicServiceObjectPtr<ServiceObject>::Adopt(
      reinterpret_cast<ServiceObject*>(SODetails::MakeServiceObject<SLStreamServiceImpl>()));
}

}  // namespace sl::stream

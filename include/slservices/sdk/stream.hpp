// The module's streams as C++ streams: a std::streambuf over ReadStream / WriteStream /
// FlushStream that closes with CloseStream, and std::istream / std::ostream owning one.
//
//   sl::sdk::InputStream in(streams, handle);        // takes over the stream handle
//   for (std::string line; std::getline(in, line);) ...
//   sl::sdk::OutputStream out(streams, other);
//   out << "text\n";
//   out.Close();                                     // or let it go out of scope
//
// The other way round, IstreamReader() and OstreamWriter() are callback records that let the
// module read from a std::istream or write to a std::ostream (the stream's address is the
// context): streams->OpenReadStream(streams, &sl::sdk::IstreamReader(), &std::cin, &handle).
//
// A module stream reports a short read as its end, whether the data ran out or the device
// failed. Over a file (StreamService::OpenRead of a File or a path) the buffer tells the two
// apart: where the data ends before the size the file system gave for the file, or where the
// file system recorded a failure during the read, the stream is not at its end but broken. The
// InputStream then gets badbit, and the buffer raises ServiceError to whoever reads it (the
// istream turns it into badbit, and rethrows it when its exceptions() hold badbit); error()
// keeps it. So `out << in.rdbuf()` of a damaged file leaves `in.bad()` true and `out.fail()`
// true, never a clean short copy. A failure recorded during a read is told by the calling
// thread's record on the file system, read before and after the read: one that changed came
// from that read; where the data ends short, a ReadFile failure already there (the same file
// read again) is taken as the reason too.
// Write failures are not visible through the module's entries; close the stream and look at the
// result (for a file, its size) when it matters.
#ifndef SLSERVICES_SDK_STREAM_HPP_
#define SLSERVICES_SDK_STREAM_HPP_

#include <algorithm>
#include <cstring>
#include <istream>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <utility>

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/ref.hpp"

namespace sl::sdk {

namespace stream_detail {

// The file under a read stream, watched so that the stream's end can be told from a failure.
// Before each read the file system's record for the calling thread is noted; a record that
// differs after the read that ended the data is a failure of that read. Otherwise the data must
// have reached the file's size (the smaller of its size at the open and at the end, so a file
// that grows or shrinks meanwhile is not taken for a damaged one). Only the entries a reader
// calls anyway are called, each with its arguments.
class FileWatch {
 public:
  FileWatch() = default;
  FileWatch(Ref<SLFileSystem> fs, SLFileHandle file) : fs_(std::move(fs)), file_(file) {
    uint64_t size = 0;
    if (fs_->GetFileSize(fs_.get(), file_, &size) == SL_OK) size_ = size;
  }
  explicit operator bool() const { return static_cast<bool>(fs_); }

  void BeforeRead() { before_ = Mark(); }
  // After the read that ended the data: why it ended early, if it did.
  std::optional<ServiceError> AtEnd() const {
    const bool changed = !(Mark() == before_);
    uint64_t position = 0, size = 0;
    const bool cutShort = fs_->GetFilePos(fs_.get(), file_, &position) == SL_OK &&
                          fs_->GetFileSize(fs_.get(), file_, &size) == SL_OK &&
                          position < std::min(size, size_);
    // The record says why: one this read left, or, for data cut short, a read's failure that
    // repeats one already there (the same damaged file read twice).
    if (changed || cutShort) {
      std::optional<ErrorRecord> record = ReadErrorRecord(object());
      if (record && (changed || record->message.find("::ReadFile()") != std::string::npos)) {
        return ServiceError(record->code, record->message, record);
      }
    }
    if (cutShort) {
      return ServiceError(SL_OS_FAILURE, "the file's data ends at byte " +
                                             std::to_string(position) + " of " +
                                             std::to_string(std::min(size, size_)));
    }
    return std::nullopt;
  }

 private:
  // What tells one record from another; the message may live in one buffer for all.
  struct Marked {
    bool kept = false;
    SLResult code = SL_OK;
    uint32_t line = 0;
    const char* function = nullptr;
    const char* source = nullptr;
    bool operator==(const Marked& other) const {
      return kept == other.kept && code == other.code && line == other.line &&
             function == other.function && source == other.source;
    }
  };
  ServiceObject* object() const { return reinterpret_cast<ServiceObject*>(fs_.get()); }
  Marked Mark() const {
    SLErrorInfo info{};
    if (object()->header.GetErrorInfo(object(), &info, 0) != SL_OK) return {};
    return {true, info.code, info.line, info.functionName, info.sourceFile};
  }

  Ref<SLFileSystem> fs_;
  SLFileHandle file_ = nullptr;
  uint64_t size_ = UINT64_MAX;
  Marked before_;
};

}  // namespace stream_detail

class StreamBuffer : public std::streambuf {
 public:
  StreamBuffer(Ref<SLStreamService> service, SLStreamHandle handle, bool input,
               stream_detail::FileWatch watch = {})
      : service_(std::move(service)), handle_(handle), input_(input), watch_(std::move(watch)) {
    if (!input_) setp(buffer_, buffer_ + sizeof(buffer_));
  }
  StreamBuffer(const StreamBuffer&) = delete;
  StreamBuffer& operator=(const StreamBuffer&) = delete;
  ~StreamBuffer() override { Close(); }

  bool is_open() const { return handle_ != nullptr; }
  SLStreamHandle handle() const { return handle_; }
  // Why a watched read stream broke off, if it did.
  const std::optional<ServiceError>& error() const { return error_; }
  // The stream that gets badbit when the data breaks off (InputStream sets itself).
  void SetOwner(std::istream* owner) { owner_ = owner; }

  // Hands over buffered output, then closes the module's stream (which flushes and closes its
  // device: the file, or the callbacks' Close).
  void Close() {
    if (handle_ == nullptr) return;
    if (!input_) Drain();
    service_->CloseStream(service_.get(), std::exchange(handle_, nullptr));
    service_.reset();
    setg(nullptr, nullptr, nullptr);
    setp(nullptr, nullptr);
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (!input_ || handle_ == nullptr) return traits_type::eof();
    if (ended_) return Ended();
    if (watch_) watch_.BeforeRead();
    uint64_t done = 0;
    const SLResult code =
        service_->ReadStream(service_.get(), handle_, buffer_, sizeof(buffer_), &done);
    if (SL_FAILED(code) || done < sizeof(buffer_)) {  // the module's stream ended
      ended_ = true;
      if (watch_ && !SL_FAILED(code)) error_ = watch_.AtEnd();
    }
    if (SL_FAILED(code) || done == 0) return Ended();
    setg(buffer_, buffer_, buffer_ + done);
    return traits_type::to_int_type(*gptr());
  }

  int_type overflow(int_type c) override {
    if (input_ || handle_ == nullptr || !Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }

  std::streamsize xsputn(const char* data, std::streamsize size) override {
    if (size < static_cast<std::streamsize>(sizeof(buffer_))) {
      return std::streambuf::xsputn(data, size);
    }
    // Large writes go straight to the module's stream, which buffers on its own.
    if (input_ || handle_ == nullptr || !Drain()) return 0;
    return Write(data, static_cast<uint64_t>(size)) ? size : 0;
  }

  int sync() override {
    if (input_ || handle_ == nullptr) return 0;
    if (!Drain()) return -1;
    return SL_FAILED(service_->FlushStream(service_.get(), handle_)) ? -1 : 0;
  }

 private:
  // At the end: eof, or the failure that ended the data, raised (after the bytes that came).
  int_type Ended() {
    if (!error_) return traits_type::eof();
    // A stream that raises on badbit gets it from its own catch, and rethrows this error:
    // setting it here would raise std::ios_base::failure instead.
    if (owner_ != nullptr && (owner_->exceptions() & std::ios_base::badbit) == 0) {
      owner_->setstate(std::ios_base::badbit);  // also when the buffer is read directly
    }
    throw *error_;
  }
  bool Write(const char* data, uint64_t size) {
    uint64_t done = 0;
    return !SL_FAILED(service_->WriteStream(service_.get(), handle_, data, size, &done));
  }
  bool Drain() {
    const uint64_t pending = static_cast<uint64_t>(pptr() - pbase());
    const bool ok = pending == 0 || Write(pbase(), pending);
    setp(buffer_, buffer_ + sizeof(buffer_));
    return ok;
  }

  Ref<SLStreamService> service_;
  SLStreamHandle handle_ = nullptr;
  bool input_ = true;
  bool ended_ = false;
  stream_detail::FileWatch watch_;
  std::optional<ServiceError> error_;
  std::istream* owner_ = nullptr;
  char buffer_[4096];
};

namespace stream_detail {
// Constructed before the std::istream / std::ostream base that points at it.
struct BufferHolder {
  BufferHolder(Ref<SLStreamService> service, SLStreamHandle handle, bool input,
               FileWatch watch = {})
      : buffer(std::move(service), handle, input, std::move(watch)) {}
  StreamBuffer buffer;
};
}  // namespace stream_detail

// A read stream of the module as a std::istream. Not movable: return it by value from a
// function (`return InputStream(...)`) and C++17 builds it in place. Given the file under the
// stream (StreamService::OpenRead does), a failure that ends the data sets badbit (see above).
class InputStream : private stream_detail::BufferHolder, public std::istream {
 public:
  InputStream(Ref<SLStreamService> service, SLStreamHandle handle,
              stream_detail::FileWatch watch = {})
      : BufferHolder(std::move(service), handle, true, std::move(watch)), std::istream(&buffer) {
    buffer.SetOwner(this);
  }
  void Close() { buffer.Close(); }
  SLStreamHandle handle() const { return buffer.handle(); }
  // Why the data broke off before the file's end, if it did.
  const std::optional<ServiceError>& error() const { return buffer.error(); }
};

// A write stream of the module as a std::ostream; closing flushes it into its device.
class OutputStream : private stream_detail::BufferHolder, public std::ostream {
 public:
  OutputStream(Ref<SLStreamService> service, SLStreamHandle handle)
      : BufferHolder(std::move(service), handle, false), std::ostream(&buffer) {}
  ~OutputStream() override { buffer.Close(); }
  void Close() { buffer.Close(); }
  SLStreamHandle handle() const { return buffer.handle(); }
};

// Callbacks that read from the std::istream given as context. No exception reaches the module.
inline const SLReadHandler& IstreamReader() {
  static const SLReadHandler handler{
      [](void* context, void* buffer, uint64_t capacity) -> uint64_t {
        try {
          auto& in = *static_cast<std::istream*>(context);
          in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(capacity));
          return static_cast<uint64_t>(in.gcount());
        } catch (...) {
          return 0;  // ends the data
        }
      },
      [](void*) -> uint8_t { return 1; }, [](void*) {}};
  return handler;
}

// Callbacks that write to the std::ostream given as context; Close flushes it.
inline const SLWriteHandler& OstreamWriter() {
  static const SLWriteHandler handler{
      [](void* context, const void* source, uint64_t size) -> uint64_t {
        try {
          auto& out = *static_cast<std::ostream*>(context);
          out.write(static_cast<const char*>(source), static_cast<std::streamsize>(size));
          return out ? size : 0;
        } catch (...) {
          return 0;
        }
      },
      [](void* context) -> uint8_t {
        try {
          return static_cast<std::ostream*>(context)->flush() ? 1 : 0;
        } catch (...) {
          return 0;
        }
      },
      [](void* context) {
        try {
          static_cast<std::ostream*>(context)->flush();
        } catch (...) {
        }
      }};
  return handler;
}

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_STREAM_HPP_

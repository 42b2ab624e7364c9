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
// A module stream reports a short read as its end: the buffer then delivers what came and
// ends. Write failures are not visible through the module's entries; close the stream and
// look at the result (for a file, its size) when it matters.
#ifndef SLSERVICES_SDK_STREAM_HPP_
#define SLSERVICES_SDK_STREAM_HPP_

#include <cstring>
#include <istream>
#include <ostream>
#include <streambuf>
#include <utility>

#include "slservices/sdk/ref.hpp"

namespace sl::sdk {

class StreamBuffer : public std::streambuf {
 public:
  StreamBuffer(Ref<SLStreamService> service, SLStreamHandle handle, bool input)
      : service_(std::move(service)), handle_(handle), input_(input) {
    if (!input_) setp(buffer_, buffer_ + sizeof(buffer_));
  }
  StreamBuffer(const StreamBuffer&) = delete;
  StreamBuffer& operator=(const StreamBuffer&) = delete;
  ~StreamBuffer() override { Close(); }

  bool is_open() const { return handle_ != nullptr; }
  SLStreamHandle handle() const { return handle_; }

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
    if (!input_ || handle_ == nullptr || ended_) return traits_type::eof();
    uint64_t done = 0;
    const SLResult code =
        service_->ReadStream(service_.get(), handle_, buffer_, sizeof(buffer_), &done);
    if (SL_FAILED(code) || done < sizeof(buffer_)) ended_ = true;  // the module's stream ended
    if (SL_FAILED(code) || done == 0) return traits_type::eof();
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
  char buffer_[4096];
};

namespace stream_detail {
// Constructed before the std::istream / std::ostream base that points at it.
struct BufferHolder {
  BufferHolder(Ref<SLStreamService> service, SLStreamHandle handle, bool input)
      : buffer(std::move(service), handle, input) {}
  StreamBuffer buffer;
};
}  // namespace stream_detail

// A read stream of the module as a std::istream. Not movable: return it by value from a
// function (`return InputStream(...)`) and C++17 builds it in place.
class InputStream : private stream_detail::BufferHolder, public std::istream {
 public:
  InputStream(Ref<SLStreamService> service, SLStreamHandle handle)
      : BufferHolder(std::move(service), handle, true), std::istream(&buffer) {}
  void Close() { buffer.Close(); }
  SLStreamHandle handle() const { return buffer.handle(); }
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

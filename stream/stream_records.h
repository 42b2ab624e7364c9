// The records behind stream handles. A handle is the address of a _SLStreamRec; the entries
// reach the record by casting the handle, tell the two kinds apart with IsInput and delete the
// record through its virtual destructor, which is how a stream is closed.
//
// Each record is the only owner of its filtering stream. Destroying it runs the library's close
// protocol, so the device sees exactly:
//   read stream:  flush, flush, close of the device;
//   write stream: buffered bytes handed over, flush three times, close of the device;
// then the stream buffer drops its copy of the device (a file device releases its file system
// last). Every failure raised on the way is absorbed.
#pragma once

#include <istream>
#include <memory>
#include <ostream>

#include "slservices/sl_stream.h"

struct _SLStreamRec {
  _SLStreamRec() = default;
  _SLStreamRec(const _SLStreamRec&) = delete;
  _SLStreamRec& operator=(const _SLStreamRec&) = delete;
  virtual ~_SLStreamRec() = default;

  // True for a read stream, false for a write stream.
  virtual bool IsInput() const = 0;

  static _SLStreamRec* FromHandle(SLStreamHandle handle) {
    return reinterpret_cast<_SLStreamRec*>(handle);
  }
  SLStreamHandle AsHandle() { return reinterpret_cast<SLStreamHandle>(this); }
};

// A read stream: a filtering input stream, held as its std::istream part.
struct _SLInputStreamRec final : _SLStreamRec {
  bool IsInput() const override { return true; }

  std::shared_ptr<std::istream> stream;
  // The stream's device, for reads that fill whole buffers straight into the caller's memory
  // (stream_service.cpp). Null for memory streams, which have no buffer of their own.
  std::streamsize (*readDevice)(void* device, char* buffer, std::streamsize n) = nullptr;
  void* device = nullptr;
};

// A write stream: a filtering output stream, held as its std::ostream part.
struct _SLOutputStreamRec final : _SLStreamRec {
  ~_SLOutputStreamRec() override;
  bool IsInput() const override { return false; }

  std::shared_ptr<std::ostream> stream;
};

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
//
// Its one field of record is the stream. readDevice and device are an addition for the
// whole-buffer read: a ReadStream that asks for at least a whole buffer takes what the stream's
// buffer holds, then has the device fill the caller's memory directly, one buffer-sized read at
// a time, instead of copying through the 4096-byte buffer (ReadWholeBuffers in
// stream_service.cpp). The device sees the same reads either way. Both are null for memory
// streams, which have no buffer of their own.
struct _SLInputStreamRec final : _SLStreamRec {
  bool IsInput() const override { return true; }

  std::shared_ptr<std::istream> stream;
  // Added for the whole-buffer read: the device's read function and the device it reads.
  std::streamsize (*readDevice)(void* device, char* buffer, std::streamsize n) = nullptr;
  void* device = nullptr;
};

// A write stream: a filtering output stream, held as its std::ostream part.
struct _SLOutputStreamRec final : _SLStreamRec {
  ~_SLOutputStreamRec() override;
  bool IsInput() const override { return false; }

  std::shared_ptr<std::ostream> stream;
};

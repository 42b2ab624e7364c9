// A stream service object for tests, made by the class's own factory, with short helpers that
// call its entries through the table the way a host does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/service_object_ptr.h"
#include "slservices/sl_stream.h"
#include "stream/factory.h"

namespace streamtest {

class StreamService {
 public:
  StreamService() : object_(sl::stream::CreateStreamService()) {}

  SLStreamService* get() const { return reinterpret_cast<SLStreamService*>(object_.get()); }
  SLStreamService* operator->() const { return get(); }
  ServiceObject* object() const { return object_.AsObject(); }
  void Release() { object_.Reset(); }

  SLStreamHandle OpenMem(const void* data, uint64_t size) const {
    SLStreamHandle handle = nullptr;
    EXPECT_EQ(get()->OpenMemReadStream(get(), data, size, &handle), SL_OK);
    return handle;
  }
  // The stream reads the string in place: it must outlive the stream.
  SLStreamHandle OpenMem(const std::string& data) const {
    return OpenMem(data.data(), data.size());
  }
  SLStreamHandle OpenMem(std::string&& data) const = delete;
  SLStreamHandle OpenRead(const SLReadHandler& handler, void* context) const {
    SLStreamHandle handle = nullptr;
    EXPECT_EQ(get()->OpenReadStream(get(), &handler, context, &handle), SL_OK);
    return handle;
  }
  SLStreamHandle OpenWrite(const SLWriteHandler& handler, void* context) const {
    SLStreamHandle handle = nullptr;
    EXPECT_EQ(get()->OpenWriteStream(get(), &handler, context, &handle), SL_OK);
    return handle;
  }
  SLStreamHandle OpenFileRead(SLFileSystem* fs, SLFileHandle file) const {
    SLStreamHandle handle = nullptr;
    EXPECT_EQ(get()->OpenFileReadStream(get(), fs, file, &handle), SL_OK);
    return handle;
  }
  SLStreamHandle OpenFileWrite(SLFileSystem* fs, SLFileHandle file) const {
    SLStreamHandle handle = nullptr;
    EXPECT_EQ(get()->OpenFileWriteStream(get(), fs, file, &handle), SL_OK);
    return handle;
  }

  // The count of one ReadStream call (which must return 0); the bytes go to `into` if given.
  uint64_t Read(SLStreamHandle handle, uint64_t size, std::string* into = nullptr) const {
    std::string buffer(size, '\0');
    uint64_t done = ~uint64_t{0};
    EXPECT_EQ(get()->ReadStream(get(), handle, buffer.data(), size, &done), SL_OK);
    if (into != nullptr) *into = buffer.substr(0, done);
    return done;
  }
  uint64_t Write(SLStreamHandle handle, const std::string& data) const {
    uint64_t done = ~uint64_t{0};
    EXPECT_EQ(get()->WriteStream(get(), handle, data.data(), data.size(), &done), SL_OK);
    return done;
  }
  void Flush(SLStreamHandle handle) const { EXPECT_EQ(get()->FlushStream(get(), handle), SL_OK); }
  void Close(SLStreamHandle handle) const { EXPECT_EQ(get()->CloseStream(get(), handle), SL_OK); }

  // GetErrorInfo on the service object for the calling thread.
  SLResult ErrorInfo(SLErrorInfo* info) const {
    return object()->header.GetErrorInfo(object(), info, 0);
  }

 private:
  SODetails::BasicServiceObjectPtr<ServiceObject> object_;
};

// Bytes 0, 1, 2, ... 255, 0, 1, ... : every offset holds a known value.
inline std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
  return bytes;
}

}  // namespace streamtest

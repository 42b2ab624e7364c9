// File streams over the module's own default file system, from the file-system service to the
// disk and back: a host's whole request, end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "filesystem/factory.h"
#include "runtime/service_object_ptr.h"
#include "stream_fakes.h"
#include "stream_test_support.h"

namespace streamtest {
namespace {

// The default file system of a new file-system service; the service stays alive beside it.
class DefaultFileSystem {
 public:
  DefaultFileSystem() : service_(sl::filesystem::CreateFileSystemService()) {
    auto* service = reinterpret_cast<SLFileSystemService*>(service_.get());
    SLFileSystem* fs = nullptr;
    EXPECT_EQ(service->GetDefaultFileSystem(service, &fs), SL_OK);
    fs_ = SODetails::BasicServiceObjectPtr<SLFileSystem>::Adopt(fs);
  }
  SLFileSystem* get() const { return fs_.get(); }
  ServiceObject* object() const { return fs_.AsObject(); }
  uint32_t refCount() const { return object()->header.GetRefCount(object()); }

  SLResult Open(const std::u16string& path, uint32_t mode, SLFileHandle* file) const {
    return get()->OpenFile(get(), path.c_str(), mode, file);
  }
  SLResult Close(SLFileHandle file) const { return get()->CloseFile(get(), file); }

 private:
  SODetails::BasicServiceObjectPtr<ServiceObject> service_;
  SODetails::BasicServiceObjectPtr<SLFileSystem> fs_;
};

std::string ReadWholeFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(StreamDefaultFileSystem, ReadsAFileOpenedForReadingAndClosesIt) {
  const char* name = "stream_default_fs_read.bin";
  const std::u16string path = u"stream_default_fs_read.bin";
  const std::string content = Pattern(10000);
  std::ofstream(name, std::ios::binary) << content;

  StreamService streams;
  DefaultFileSystem fs;
  SLFileHandle file = nullptr;
  ASSERT_EQ(fs.Open(path, SL_OPEN_READ, &file), SL_OK);
  const uint32_t before = fs.refCount();
  const SLStreamHandle handle = streams.OpenFileRead(fs.get(), file);
  EXPECT_EQ(fs.refCount(), before + 1);

  std::string text;
  std::string all;
  EXPECT_EQ(streams.Read(handle, 6000, &text), 6000u);
  all += text;
  EXPECT_EQ(streams.Read(handle, 6000, &text), 4000u);
  all += text;
  EXPECT_EQ(all.size(), content.size());
  EXPECT_TRUE(all == content);
  EXPECT_EQ(streams.Read(handle, 1), 0u);
  streams.Close(handle);
  EXPECT_EQ(fs.refCount(), before);

  // Both flushes of the close reached FlushFile with the read handle, which refuses them; the
  // stream absorbed that, and the failure stays on the file system for this thread.
  SLErrorInfo info{};
  ASSERT_EQ(fs.object()->header.GetErrorInfo(fs.object(), &info, 0), SL_OK);
  EXPECT_EQ(info.code, SL_ACCESS_DENIED);
  EXPECT_EQ(info.line, 20u);

  // The handle is closed: a file opened for reading shares no writing, yet this opens now.
  SLFileHandle again = nullptr;
  ASSERT_EQ(fs.Open(path, SL_OPEN_WRITE, &again), SL_OK);
  EXPECT_EQ(fs.Close(again), SL_OK);
  std::remove(name);
}

TEST(StreamDefaultFileSystem, WritesAFileCreatedForWritingAndClosesIt) {
  const char* name = "stream_default_fs_write.bin";
  const std::u16string path = u"stream_default_fs_write.bin";
  const std::string content = Pattern(10000);

  StreamService streams;
  DefaultFileSystem fs;
  SLFileHandle file = nullptr;
  ASSERT_EQ(fs.Open(path, SL_OPEN_CREATE, &file), SL_OK);
  const SLStreamHandle handle = streams.OpenFileWrite(fs.get(), file);
  EXPECT_EQ(streams.Write(handle, content.substr(0, 3000)), 3000u);
  // After FlushStream the bytes are in the file (nothing else may open it meanwhile: mode 4
  // shares nothing).
  uint64_t size = 0;
  EXPECT_EQ(fs.get()->GetFileSize(fs.get(), file, &size), SL_OK);
  EXPECT_EQ(size, 0u);
  streams.Flush(handle);
  EXPECT_EQ(fs.get()->GetFileSize(fs.get(), file, &size), SL_OK);
  EXPECT_EQ(size, 3000u);
  EXPECT_EQ(streams.Write(handle, content.substr(3000)), 7000u);
  streams.Close(handle);
  const std::string written = ReadWholeFile(name);
  EXPECT_EQ(written.size(), content.size());
  EXPECT_TRUE(written == content);

  SLErrorInfo info{};
  EXPECT_EQ(fs.object()->header.GetErrorInfo(fs.object(), &info, 0), SL_NOT_FOUND)
      << "every write, flush and the close succeeded";
  SLFileHandle again = nullptr;
  ASSERT_EQ(fs.Open(path, SL_OPEN_WRITE, &again), SL_OK) << "the stream closed its handle";
  EXPECT_EQ(fs.Close(again), SL_OK);
  std::remove(name);
}

TEST(StreamDefaultFileSystem, AStreamKeepsAnUnregisteredAndReleasedFileSystemAlive) {
  auto service = sl::filesystem::CreateFileSystemService();
  auto* registry = reinterpret_cast<SLFileSystemService*>(service.get());
  FakeFileSystem fake;
  fake.content = "still readable";
  ASSERT_EQ(registry->RegisterFileSystem(registry, fake.fs()), SL_OK);
  StreamService streams;
  const SLStreamHandle handle = streams.OpenFileRead(fake.fs(), fake.file());
  EXPECT_EQ(fake.refCount, 3);

  // The registry and the caller let go; only the stream's reference is left.
  ASSERT_EQ(registry->UnregisterFileSystem(registry, fake.fs()), SL_OK);
  fake.table().header.Release(reinterpret_cast<ServiceObject*>(fake.fs()));
  EXPECT_EQ(fake.refCount, 1);
  std::string text;
  EXPECT_EQ(streams.Read(handle, 14, &text), 14u);
  EXPECT_EQ(text, "still readable");

  fake.calls.clear();
  streams.Close(handle);
  EXPECT_EQ(fake.calls, (CallLog{"FlushFile", "FlushFile", "CloseFile", "Release"}));
  EXPECT_EQ(fake.refCount, 0);
}

}  // namespace
}  // namespace streamtest

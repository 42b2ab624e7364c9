#include "stream/file_adaptor.h"

#include <cstdint>

#include "runtime/calling_rules.h"
#include "stream/opening_stream.h"

using FileAdaptor = SLStreamServiceImpl::_FileAdaptor;

std::streamsize FileAdaptor::read(char* buffer, std::streamsize n) {
  SLResult result = SL_OK;
  uint64_t done = 0;
  SL_CALL_ENTRY(fileSystem_.get(), SLFileSystem, ReadFile, &result, file_, buffer,
                static_cast<uint64_t>(n), &done);
  return static_cast<std::streamsize>(done);
}

std::streamsize FileAdaptor::write(const char* buffer, std::streamsize n) {
  SLResult result = SL_OK;
  uint64_t done = 0;
  SL_CALL_ENTRY(fileSystem_.get(), SLFileSystem, WriteFile, &result, file_, buffer,
                static_cast<uint64_t>(n), &done);
  return static_cast<std::streamsize>(done);
}

bool FileAdaptor::flush() {
  if (sl::stream::OpeningStream::InProgress()) return false;
  SLResult result = SL_OK;
  return SL_CALL_ENTRY(fileSystem_.get(), SLFileSystem, FlushFile, &result, file_) &&
         result == SL_OK;
}

void FileAdaptor::close() {
  if (sl::stream::OpeningStream::InProgress()) return;
  SLResult result = SL_OK;
  SL_CALL_ENTRY(fileSystem_.get(), SLFileSystem, CloseFile, &result, file_);
}

std::streampos FileAdaptor::seek(boost::iostreams::stream_offset offset,
                                 std::ios_base::seekdir way) {
  SLFileSystem* fs = fileSystem_.get();
  SLResult result = SL_OK;
  uint64_t origin = 0;
  if (way == std::ios_base::cur) {
    if (!SL_CALL_ENTRY(fs, SLFileSystem, GetFilePos, &result, file_, &origin) ||
        SL_FAILED(result)) {
      return std::streampos(-1);
    }
  } else if (way == std::ios_base::end) {
    if (!SL_CALL_ENTRY(fs, SLFileSystem, GetFileSize, &result, file_, &origin) ||
        SL_FAILED(result)) {
      return std::streampos(-1);
    }
  }
  const int64_t target = static_cast<int64_t>(origin) + offset;
  if (!SL_CALL_ENTRY(fs, SLFileSystem, SetFilePos, &result, file_, target) || SL_FAILED(result)) {
    return std::streampos(-1);
  }
  return std::streampos(target);
}

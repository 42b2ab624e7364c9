// SLStreamServiceImpl::_FileAdaptor: the device of file streams. It reads and writes one open
// file of any object that carries an SLFileSystem table, always through that table and by the
// calling rules (an entry is called only when the table is long enough and the pointer is set;
// a failing result with error information is raised as ServiceObjectException, which the
// stream absorbs).
//
// Each copy holds one counted reference to the file system; the copy inside the stream buffer
// lives from the Open until the stream is destroyed, so the file system outlives every call the
// stream makes. The device serves both directions through one position, so the library closes
// it when the output side of its stream buffer closes, for read and write streams alike.
// A translation unit that pushes one onto an output chain includes partial_write_fix.h first.
//
// Thread safety: none of its own; a stream is used by one thread at a time.
#pragma once

#include <ios>
#include <utility>

#include <boost/iostreams/categories.hpp>
#include <boost/iostreams/positioning.hpp>

#include "runtime/service_object_ptr.h"
#include "stream/stream_service.h"

class SLStreamServiceImpl::_FileAdaptor {
 public:
  using char_type = char;
  struct category : boost::iostreams::seekable_device_tag,
                    boost::iostreams::closable_tag,
                    boost::iostreams::flushable_tag {};

  _FileAdaptor(SODetails::BasicServiceObjectPtr<SLFileSystem> fileSystem, SLFileHandle file)
      : fileSystem_(std::move(fileSystem)), file_(file) {}

  // One ReadFile call for up to n bytes; the count it reports, or 0 when it is not called.
  std::streamsize read(char* buffer, std::streamsize n);
  // One WriteFile call with n bytes; the count it reports, or 0 when it is not called.
  std::streamsize write(const char* buffer, std::streamsize n);
  // FlushFile; true only when it was called and returned 0.
  bool flush();
  // CloseFile; when the table has no such entry the file stays open.
  void close();
  // Both do nothing while the stream is still being opened (opening_stream.h).
  // Never reached by the stream service; positions through GetFilePos, GetFileSize and
  // SetFilePos, and gives -1 when one of them is missing or fails without error information.
  std::streampos seek(boost::iostreams::stream_offset offset, std::ios_base::seekdir way);

  SLFileSystem* fileSystem() const { return fileSystem_.get(); }
  SLFileHandle file() const { return file_; }

 private:
  SODetails::BasicServiceObjectPtr<SLFileSystem> fileSystem_;
  SLFileHandle file_;
};

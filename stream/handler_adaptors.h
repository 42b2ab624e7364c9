// SLStreamServiceImpl::_ReadHandlerAdaptor and _WriteHandlerAdaptor: the devices of callback
// streams. Each holds a copy of the caller's three function pointers and the context, passes
// every request to the callbacks exactly once and returns their results unchanged. Copying one
// copies the four values; destroying one calls nothing.
//
// Neither calls anything while its stream is still being opened (opening_stream.h).
//
// A read adaptor is an input-only device, so the library closes it with the input side of its
// stream buffer; a write adaptor is output-only and is closed with the output side.
//
// A translation unit that pushes a write adaptor onto a chain includes partial_write_fix.h first.
//
// The callbacks are trusted: Read returns 0..n or all ones (the end of the data), Write 0..n,
// and all three pointers stay valid until Close has been called.
#pragma once

#include <ios>

#include <boost/iostreams/categories.hpp>

#include "stream/opening_stream.h"
#include "stream/stream_service.h"

class SLStreamServiceImpl::_ReadHandlerAdaptor {
 public:
  using char_type = char;
  struct category : boost::iostreams::source_tag,
                    boost::iostreams::closable_tag,
                    boost::iostreams::flushable_tag {};

  _ReadHandlerAdaptor(const SLReadHandler& handler, void* context)
      : read_(handler.Read), flush_(handler.Flush), close_(handler.Close), context_(context) {}

  // All ones from Read comes back as -1, which the library takes as a definite end of data.
  std::streamsize read(char* buffer, std::streamsize n) {
    return static_cast<std::streamsize>(read_(context_, buffer, static_cast<uint64_t>(n)));
  }
  bool flush() { return !sl::stream::OpeningStream::InProgress() && flush_(context_) != 0; }
  void close() {
    if (!sl::stream::OpeningStream::InProgress()) close_(context_);
  }

 private:
  decltype(SLReadHandler::Read) read_;
  decltype(SLReadHandler::Flush) flush_;
  decltype(SLReadHandler::Close) close_;
  void* context_;
};

class SLStreamServiceImpl::_WriteHandlerAdaptor {
 public:
  using char_type = char;
  struct category : boost::iostreams::sink_tag,
                    boost::iostreams::closable_tag,
                    boost::iostreams::flushable_tag {};

  _WriteHandlerAdaptor(const SLWriteHandler& handler, void* context)
      : write_(handler.Write), flush_(handler.Flush), close_(handler.Close), context_(context) {}

  std::streamsize write(const char* buffer, std::streamsize n) {
    return static_cast<std::streamsize>(write_(context_, buffer, static_cast<uint64_t>(n)));
  }
  bool flush() { return !sl::stream::OpeningStream::InProgress() && flush_(context_) != 0; }
  void close() {
    if (!sl::stream::OpeningStream::InProgress()) close_(context_);
  }

 private:
  decltype(SLWriteHandler::Write) write_;
  decltype(SLWriteHandler::Flush) flush_;
  decltype(SLWriteHandler::Close) close_;
  void* context_;
};

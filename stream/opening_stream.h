// Keeps the devices of a stream that is still being opened from acting.
//
// When the library runs out of memory while inserting a freshly built link into a chain, it
// destroys the link, and destroying an open link closes its device: a file stream would call
// CloseFile on the caller's handle, a callback stream the caller's Flush and Close, all for a
// stream that was never handed out. An Open therefore marks its thread while it builds the
// stream, and a device flushed or closed on a marked thread does nothing. Opens make no device
// calls of their own, so nothing legitimate is suppressed.
#pragma once

namespace sl::stream {

class OpeningStream {
 public:
  OpeningStream();
  ~OpeningStream();
  OpeningStream(const OpeningStream&) = delete;
  OpeningStream& operator=(const OpeningStream&) = delete;

  // True while an Open is building a stream on the calling thread.
  static bool InProgress();
};

}  // namespace sl::stream

#include "stream/stream_records.h"

#include <boost/iostreams/filtering_stream.hpp>

namespace {

// Closes a write stream's chain while the stream still exists.
//
// Left to its own destructor, a filtering output stream synchronises its device four times at
// close: once in the stream's destructor, once when the chain starts closing, and twice more
// when the link is closed for output (once by the chain's closer, once by the stream buffer
// itself). Popping the link first runs the same close protocol minus the stream's own
// synchronisation, so the device sees three, then its close; the stream destructor then finds
// an empty chain and leaves it alone.
//
// A device close that fails (a file system's CloseFile with error information) throws out of
// the first pop with the link still in place; the chain is already marked closed by then, so
// the second pop only frees the link, without synchronising again.
void CloseOutputChain(std::ostream& stream) noexcept {
  auto* filtering = dynamic_cast<boost::iostreams::filtering_ostream*>(&stream);
  if (filtering == nullptr) return;
  for (int attempt = 0; attempt < 2 && !filtering->empty(); ++attempt) {
    try {
      filtering->pop();
    } catch (...) {
      // Nothing that happens during a close is reported.
    }
  }
}

}  // namespace

_SLOutputStreamRec::~_SLOutputStreamRec() {
  if (stream != nullptr) CloseOutputChain(*stream);
}

#include "stream/partial_write_fix.h"

// Boost 1.74's sync_impl, word for word but for the setp after a partial write. The library
// writes `setp(out().begin() + amt, out().end())`: it restarts from the buffer's beginning plus
// the last count, although the bytes just offered started at pbase(), which a previous partial
// write may already have moved on. Starting from pbase() keeps the first byte not taken first.
#define SL_DEFINE_SYNC_IMPL(Device)                                                               \
  template <>                                                                                     \
  void                                                                                            \
  indirect_streambuf<Device, std::char_traits<char>, std::allocator<char>, output>::sync_impl() { \
    std::streamsize avail, amt;                                                                   \
    if ((avail = static_cast<std::streamsize>(pptr() - pbase())) > 0) {                           \
      if ((amt = obj().write(pbase(), avail, next())) == avail)                                   \
        setp(out().begin(), out().end());                                                         \
      else {                                                                                      \
        const char_type* ptr = pptr();                                                            \
        setp(pbase() + amt, out().end());                                                         \
        pbump(static_cast<int>(ptr - pptr()));                                                    \
      }                                                                                           \
    }                                                                                             \
  }

namespace boost::iostreams::detail {

SL_DEFINE_SYNC_IMPL(SLStreamServiceImpl::_WriteHandlerAdaptor)
SL_DEFINE_SYNC_IMPL(SLStreamServiceImpl::_FileAdaptor)

}  // namespace boost::iostreams::detail

#undef SL_DEFINE_SYNC_IMPL

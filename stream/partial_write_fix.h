// Partly taken synchronisations on write streams.
//
// When a device takes fewer bytes than a synchronisation offers, the library's stream buffer
// keeps the rest and offers it again at the next synchronisation. After such a partial write,
// however, Boost 1.74 restarts the buffer at its beginning plus the count just taken, which is
// right only when the offer itself began at the beginning: a device that takes part twice in a
// row is offered bytes it already took. The declarations below give the two output stream
// buffers this service builds their own sync_impl (stream/partial_write_fix.cpp), the library's
// body with that one line corrected. Everything else, overflow, sync and the close protocol
// included, stays the library's and reaches the corrected member through it.
//
// These declarations must come before anything makes the compiler generate those stream
// buffers: every translation unit that pushes a _WriteHandlerAdaptor or a _FileAdaptor onto an
// output chain includes this header (today only stream_service.cpp).
#pragma once

#include <memory>
#include <string>

#include <boost/iostreams/detail/streambuf/indirect_streambuf.hpp>
#include <boost/iostreams/traits.hpp>
#include <boost/version.hpp>

#include "stream/file_adaptor.h"
#include "stream/handler_adaptors.h"

static_assert(BOOST_VERSION == 107400,
              "stream/partial_write_fix.cpp copies sync_impl from Boost 1.74: compare it with "
              "this version's, then update or drop it");

namespace boost::iostreams::detail {

// The exact stream buffers that filtering_stream<output, char> creates for the two devices.
template <>
void indirect_streambuf<SLStreamServiceImpl::_WriteHandlerAdaptor, std::char_traits<char>,
                        std::allocator<char>, output>::sync_impl();
template <>
void indirect_streambuf<SLStreamServiceImpl::_FileAdaptor, std::char_traits<char>,
                        std::allocator<char>, output>::sync_impl();

}  // namespace boost::iostreams::detail

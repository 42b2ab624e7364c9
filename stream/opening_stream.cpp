#include "stream/opening_stream.h"

namespace sl::stream {
namespace {

thread_local int tOpening = 0;

}  // namespace

OpeningStream::OpeningStream() { ++tOpening; }
OpeningStream::~OpeningStream() { --tOpening; }
bool OpeningStream::InProgress() { return tOpening != 0; }

}  // namespace sl::stream

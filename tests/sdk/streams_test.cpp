// The module's streams as std::istream / std::ostream, and std streams as the module's callbacks.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sdk_fixture.h"

namespace {

using sl::sdk::ServiceError;

class Streams : public sltest::SdkTest {
 protected:
  static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return bytes;
  }
  static std::string ReadAll(std::istream& in) {
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

TEST_F(Streams, MemoryStreamReadsLinesUntilItsEnd) {
  const std::string text = "one\ntwo\nthree";
  auto in = streams_->OpenMemory(text.data(), text.size());
  std::string line;
  std::string seen;
  while (std::getline(in, line)) seen += "[" + line + "]";
  EXPECT_EQ(seen, "[one][two][three]");
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(in.get(), std::char_traits<char>::eof()) << "an ended stream stays ended";
}

TEST_F(Streams, FileRoundTripAcrossManyBuffers) {
  const std::string data = Pattern(3 * 4096 + 123);
  const auto path = dir_ / "round-trip.bin";
  {
    auto out = streams_->OpenWrite(fs_, path);
    out.write(data.data(), 5000);  // straight through, past one buffer
    for (size_t i = 5000; i < data.size(); ++i) out.put(data[i]);  // one byte at a time
    out.Close();
    EXPECT_FALSE(out.handle()) << "closed";
  }
  EXPECT_EQ(fs_.Open(path).Size(), data.size());
  auto in = streams_->OpenRead(fs_, path);
  EXPECT_EQ(ReadAll(in), data);
}

TEST_F(Streams, OutputReachesTheFileWhenTheStreamGoes) {
  const auto path = dir_ / "scoped.txt";
  { streams_->OpenWrite(fs_, path) << "written " << 42 << '\n'; }
  auto in = streams_->OpenRead(fs_, path);
  std::string word;
  int number = 0;
  in >> word >> number;
  EXPECT_EQ(word, "written");
  EXPECT_EQ(number, 42);
}

TEST_F(Streams, OpeningAMissingFileThrowsTheFileSystemsRecord) {
  try {
    auto in = streams_->OpenRead(fs_, dir_ / "missing.txt");
    FAIL() << "a missing file must throw";
  } catch (const ServiceError& error) {
    EXPECT_EQ(error.code(), SL_NOT_FOUND);
    EXPECT_STREQ(error.what(), "SLFileSystem::OpenFile() failed, code: 0x0000000b");
  }
}

TEST_F(Streams, StdStreamsServeAsCallbacks) {
  const std::string data = Pattern(10000);
  std::istringstream source(data);
  auto in = streams_->OpenRead(source);
  EXPECT_EQ(ReadAll(in), data);

  std::ostringstream sink;
  {
    auto out = streams_->OpenWrite(sink);
    out << data;
    out.flush();
    EXPECT_EQ(sink.str().size(), data.size()) << "flush hands everything over";
  }
  EXPECT_EQ(sink.str(), data);
}

TEST_F(Streams, CopyingOneModuleStreamIntoAnother) {
  const std::string data = Pattern(20000);
  std::ostringstream sink;
  {
    auto in = streams_->OpenMemory(data.data(), data.size());
    auto out = streams_->OpenWrite(sink);
    out << in.rdbuf();
  }
  EXPECT_EQ(sink.str(), data);
}

}  // namespace

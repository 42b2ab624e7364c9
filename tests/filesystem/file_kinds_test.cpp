// What is not a regular file, reached through the default file system as a host reaches it:
// FIFOs, sockets, character devices, symbolic links of every kind and hard links, one row per
// kind with every entry's answer; and what a FIFO shows of the file layer: a short read comes
// back as it came, a slow open holds up no other thread, a write stream over a FIFO delivers
// every byte. Whatever waits on a FIFO runs under a time limit, so that a regression fails
// instead of hanging.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "filesystem/default_file_system.h"
#include "filesystem/fs_test_support.h"
#include "stream/stream_service.h"

namespace {

using namespace std::chrono_literals;

std::u16string U16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Runs `work` on a thread of its own. If it has not ended within `limit`, `release` is run to
// unblock it and the answer is false. The thread is joined either way.
bool EndsWithin(std::chrono::milliseconds limit, const std::function<void()>& work,
                const std::function<void()>& release) {
  std::promise<void> ended;
  std::future<void> done = ended.get_future();
  std::thread runner([&] {
    work();
    ended.set_value();
  });
  const bool inTime = done.wait_for(limit) == std::future_status::ready;
  if (!inTime) release();
  runner.join();
  return inTime;
}

// Opens the write end of a FIFO once a reader waits on it: that lets the reader's open return.
// Gives up after two seconds.
void ReleaseReaderOf(const std::string& fifo) {
  for (int i = 0; i < 2000; ++i) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      ::close(fd);
      return;
    }
    std::this_thread::sleep_for(1ms);
  }
}

// A folder holding one entry of every kind, each named after its kind.
class Tree {
 public:
  Tree() {
    char pattern[] = "/tmp/sl-kinds-XXXXXX";
    root_ = ::mkdtemp(pattern);
    std::FILE* file = std::fopen(At("file").c_str(), "w");
    std::fputs("data", file);
    std::fclose(file);
    ::mkdir(At("folder").c_str(), 0755);
    ::mkfifo(At("fifo").c_str(), 0644);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, At("socket").c_str(), sizeof address.sun_path - 1);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(sock);
    ::symlink("file", At("tofile").c_str());
    ::symlink("folder", At("tofolder").c_str());
    ::symlink("missing", At("dangling").c_str());
    ::symlink("loop", At("loop").c_str());
    ::link(At("file").c_str(), At("hard").c_str());
  }
  ~Tree() { std::system(("rm -rf '" + root_ + "'").c_str()); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  std::string At(const std::string& name) const {
    return name.front() == '/' ? name : root_ + "/" + name;
  }
  bool Has(const std::string& name) const {
    struct stat st;
    return ::lstat(At(name).c_str(), &st) == 0;
  }

 private:
  std::string root_;
};

class FileKindsTest : public ::testing::Test {
 protected:
  ~FileKindsTest() override { fstest::Release(fs); }

  SLResult Open(const std::string& path, uint32_t mode, SLFileHandle* file) {
    return fs->OpenFile(fs, U16(tree->At(path)).c_str(), mode, file);
  }
  uint8_t Exists(const std::string& path) {
    uint8_t exists = 9;
    EXPECT_EQ(SL_OK, fs->IsFileExists(fs, U16(tree->At(path)).c_str(), &exists));
    return exists;
  }
  // The code of a search, and the names it found.
  std::pair<SLResult, std::multiset<std::u16string>> Search(const std::string& pattern) {
    SLFileSystemSearchResult* result = nullptr;
    const SLResult code = fs->Search(fs, U16(tree->At(pattern)).c_str(), &result);
    std::multiset<std::u16string> names;
    uint64_t count = 0;
    if (code == SL_OK && result->GetCount(result, &count) == SL_OK) {
      for (uint32_t i = 0; i < count; ++i) {
        const SLChar16* name = nullptr;
        if (result->GetFileInfo(result, i, &name) == SL_OK) names.insert(name);
      }
      fstest::Release(result);
    }
    return {code, names};
  }

  std::optional<Tree> tree{std::in_place};
  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
};

constexpr SLResult kNoCall = 0xFFFFFFFF;  // the entry is not tried on this kind

// One kind of entry and the answer of each entry for it. A handle that opens for writing is
// also asked for its size and flushed; a read open of the FIFO gets a writer to pair with.
struct KindRow {
  const char* path;
  SLResult read, write, create;
  uint64_t size;  // through the handle opened for writing
  SLResult remove;
  const char* madeByCreate;  // the entry a create through this kind brings into being
};
// clang-format off
const KindRow kKinds[] = {
  //  path        read  write create size remove  madeByCreate
  {"file",         0,    0,    0,     4,   0,      nullptr},
  {"folder",       15,   15,   15,    0,   15,     nullptr},
  {"fifo",         0,    0,    0,     0,   0,      nullptr},
  {"socket",       7,    7,    7,     0,   0,      nullptr},
  {"/dev/null",    0,    0,    0,     0,   kNoCall, nullptr},
  {"tofile",       0,    0,    0,     4,   0,      nullptr},
  {"tofolder",     15,   15,   15,    0,   0,      nullptr},
  {"dangling",     11,   11,   0,     0,   0,      "missing"},
  {"loop",         7,    7,    7,     0,   0,      nullptr},
  {"hard",         0,    0,    0,     4,   0,      nullptr},
};
// clang-format on

TEST_F(FileKindsTest, EachEntryAnswersForEachKindOfEntry) {
  for (const KindRow& row : kKinds) {
    SCOPED_TRACE(row.path);
    tree.emplace();  // every row starts from the same tree
    EXPECT_EQ(1, Exists(row.path));
    const std::string bare = std::strrchr(tree->At(row.path).c_str(), '/') + 1;
    EXPECT_EQ(Search(row.path), std::make_pair(SL_OK, std::multiset<std::u16string>{U16(bare)}));

    SLFileHandle file = nullptr;
    SLResult code = kNoCall;
    const bool pairsWithWriter = std::string(row.path) == "fifo";
    EXPECT_TRUE(EndsWithin(
        5s,
        [&] {
          std::thread writer;
          if (pairsWithWriter) writer = std::thread(ReleaseReaderOf, tree->At(row.path));
          code = Open(row.path, SL_OPEN_READ, &file);
          if (writer.joinable()) writer.join();
        },
        [&] { ReleaseReaderOf(tree->At(row.path)); }));
    EXPECT_EQ(row.read, code);
    if (code == SL_OK) {
      EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
    }

    EXPECT_EQ(row.write, Open(row.path, SL_OPEN_WRITE, &file));
    if (row.write == SL_OK) {
      uint64_t size = 99;
      EXPECT_EQ(SL_OK, fs->GetFileSize(fs, file, &size));
      EXPECT_EQ(row.size, size);
      EXPECT_EQ(SL_OK, fs->FlushFile(fs, file));
      EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
    }
    EXPECT_EQ(row.create, Open(row.path, SL_OPEN_CREATE, &file));
    if (row.create == SL_OK) {
      EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
    }
    if (row.madeByCreate != nullptr) {
      EXPECT_TRUE(tree->Has(row.madeByCreate));
    }

    if (row.remove != kNoCall) {
      EXPECT_EQ(row.remove, fs->RemoveFile(fs, U16(tree->At(row.path)).c_str()));
      EXPECT_EQ(row.remove != SL_OK, tree->Has(row.path));
    }
    EXPECT_TRUE(tree->Has("file") || row.path == std::string("file")) << "a link's target stays";
  }
}

// One rule for every entry: what the folder lists exists, and a search of its exact name finds
// it, links that lead nowhere included.
TEST_F(FileKindsTest, WhatTheListingShowsExistsAndIsFoundByItsName) {
  const auto [code, names] = Search("*");
  ASSERT_EQ(SL_OK, code);
  const std::multiset<std::u16string> expected = {u".",        u"..",     u"file",   u"folder",
                                                  u"fifo",     u"socket", u"tofile", u"tofolder",
                                                  u"dangling", u"loop",   u"hard"};
  EXPECT_EQ(expected, names);
  for (const std::u16string& name : names) {
    if (name == u"." || name == u"..") continue;
    const std::string narrow(name.begin(), name.end());
    EXPECT_EQ(1, Exists(narrow)) << narrow;
    EXPECT_EQ(Search(narrow), std::make_pair(SL_OK, std::multiset<std::u16string>{name}));
  }
  EXPECT_EQ(0, Exists("missing"));
  EXPECT_EQ(0, Exists("loop/inside")) << "nothing lies behind a loop";
}

// Two names of one file are one file to the sharing rule.
TEST_F(FileKindsTest, AHardLinkSharesItsFilesOpens) {
  SLFileHandle writer = nullptr, reader = nullptr;
  ASSERT_EQ(SL_OK, Open("file", SL_OPEN_WRITE, &writer));
  EXPECT_EQ(7u, Open("hard", SL_OPEN_READ, &reader));
  EXPECT_EQ(SL_OK, fs->CloseFile(fs, writer));
  ASSERT_EQ(SL_OK, Open("hard", SL_OPEN_READ, &reader));
  EXPECT_EQ(SL_OK, fs->CloseFile(fs, reader));
}

// A read of a FIFO delivers what is there: 5 bytes waiting answer a request of 4096 at once.
TEST_F(FileKindsTest, AReadOfAFifoReturnsWhatItHolds) {
  const int writer = ::open(tree->At("fifo").c_str(), O_RDWR);  // a writer that opens at once
  ASSERT_GE(writer, 0);
  ASSERT_EQ(5, ::write(writer, "hello", 5));
  SLFileHandle file = nullptr;
  ASSERT_EQ(SL_OK, Open("fifo", SL_OPEN_READ, &file));
  char buffer[4096];
  uint64_t done = 0;
  SLResult code = kNoCall;
  int end = writer;
  EXPECT_TRUE(EndsWithin(
      5s, [&] { code = fs->ReadFile(fs, file, buffer, sizeof buffer, &done); },
      [&] { ::close(std::exchange(end, -1)); }))
      << "the read waited for more than the FIFO held";
  EXPECT_EQ(SL_OK, code);
  EXPECT_EQ(std::string("hello"), std::string(buffer, done));
  if (end >= 0) ::close(end);
  EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
}

// While one thread waits in an open of a FIFO that has no writer, every other thread's file
// work goes on: opens, reads and closes of other files, removals and searches.
TEST_F(FileKindsTest, AnOpenThatWaitsHoldsUpNoOtherThread) {
  std::atomic<bool> opened{false};
  SLFileHandle waiting = nullptr;
  SLResult waitingCode = kNoCall;
  std::thread opener([&] {
    waitingCode = Open("fifo", SL_OPEN_READ, &waiting);
    opened = true;
  });
  std::this_thread::sleep_for(200ms);  // into the open, which waits for a writer
  int files = 0;
  const bool inTime = EndsWithin(
      20s,
      [&] {
        for (int i = 0; i < 1000; ++i) {
          SLFileHandle file = nullptr;
          char byte = 0;
          uint64_t done = 0;
          if (Open("file", SL_OPEN_READ, &file) != SL_OK) break;
          const SLResult read = fs->ReadFile(fs, file, &byte, 1, &done);
          if (fs->CloseFile(fs, file) == SL_OK && read == SL_OK && done == 1) ++files;
        }
        EXPECT_EQ(SL_OK, fs->RemoveFile(fs, U16(tree->At("hard")).c_str()));
        EXPECT_EQ(SL_OK, Search("*").first);
      },
      [&] { ReleaseReaderOf(tree->At("fifo")); });
  EXPECT_TRUE(inTime) << "file work waited for the FIFO's open";
  EXPECT_EQ(1000, files);
  if (inTime) {
    EXPECT_FALSE(opened.load()) << "the FIFO's open returned without a writer";
  }
  ReleaseReaderOf(tree->At("fifo"));
  opener.join();
  EXPECT_EQ(SL_OK, waitingCode);
  if (waitingCode == SL_OK) {
    EXPECT_EQ(SL_OK, fs->CloseFile(fs, waiting));
  }
}

// A write stream over a FIFO flushes between its writes, which syncs nothing and fails nothing:
// the reader receives every byte.
TEST_F(FileKindsTest, AWriteStreamOverAFifoDeliversEveryByte) {
  // The reader is there before the writer opens, so no byte can go to a FIFO that nobody reads.
  std::string received;
  std::promise<void> readerOpen, writerOpen;
  std::thread reader([&, writing = writerOpen.get_future()] {
    const int fd = ::open(tree->At("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    readerOpen.set_value();
    if (writing.wait_for(5s) != std::future_status::ready) return;
    pollfd ready{fd, POLLIN, 0};
    char buffer[256];
    // No wait longer than 5 s for a byte; a read of 0 is the end: every writer has closed.
    for (ssize_t n = 1; n != 0 && ::poll(&ready, 1, 5000) == 1;) {
      n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) received.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
  });
  readerOpen.get_future().wait();
  auto service = sl::stream::CreateStreamService();
  auto* ss = reinterpret_cast<SLStreamService*>(service.get());
  SLFileHandle file = nullptr;
  const SLResult opened = Open("fifo", SL_OPEN_WRITE, &file);  // reads and writes: opens at once
  writerOpen.set_value();
  if (opened != SL_OK) reader.join();
  ASSERT_EQ(SL_OK, opened);
  SLStreamHandle stream = nullptr;
  if (ss->OpenFileWriteStream(ss, fs, file, &stream) == SL_OK) {
    uint64_t done = 0;
    for (const char* piece : {"direct first ", "second ", "third"}) {
      EXPECT_EQ(SL_OK, ss->WriteStream(ss, stream, piece, std::strlen(piece), &done));
      EXPECT_EQ(SL_OK, ss->FlushStream(ss, stream));
    }
    EXPECT_EQ(SL_OK, ss->CloseStream(ss, stream));
  } else {
    EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
  }
  reader.join();
  EXPECT_EQ("direct first second third", received);
}

}  // namespace

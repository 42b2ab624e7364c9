// Memory use of the default file system: the read, write, position, size and flush paths
// allocate nothing, and a search that runs out of memory answers 7. This executable replaces
// the global operator new to count allocations and to make one of them fail.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "filesystem/default_file_system.h"
#include "fs_test_support.h"

namespace {

std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_failingAllocation{0};  // the number of the allocation to refuse; 0: none

}  // namespace

// Every form is replaced: a sanitizer's own forms would not pair with these.
void* operator new(std::size_t size) {
  if (g_allocations.fetch_add(1) + 1 == g_failingAllocation.load()) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace {

// Runs `call` twice, the first time to warm up, and counts the second run's allocations.
template <class Call>
uint64_t AllocationsOf(Call call) {
  call();
  const uint64_t before = g_allocations.load();
  call();
  return g_allocations.load() - before;
}

class AllocationTest : public ::testing::Test {
 protected:
  ~AllocationTest() override { fstest::Release(fs); }
  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
  fstest::TempFolder dir;
};

TEST_F(AllocationTest, FileEntriesAllocateNothing) {
  EXPECT_EQ(1u, AllocationsOf([] {  // the count works (volatile: a compiler may drop the pair)
              int* volatile kept = new int(1);
              delete kept;
            }));
  SLFileHandle file = nullptr;
  ASSERT_EQ(SL_OK, fs->OpenFile(fs, (dir / u"file").c_str(), SL_OPEN_CREATE, &file));
  char buffer[64] = "some bytes to move";
  uint64_t value = 0;
  SLResult results = 0;  // every result, looked at outside the counted stretch
  EXPECT_EQ(0u, AllocationsOf([&] { results |= fs->WriteFile(fs, file, buffer, 18, &value); }));
  EXPECT_EQ(0u, AllocationsOf([&] { results |= fs->FlushFile(fs, file); }));
  EXPECT_EQ(0u, AllocationsOf([&] { results |= fs->GetFilePos(fs, file, &value); }));
  EXPECT_EQ(0u, AllocationsOf([&] { results |= fs->SetFilePos(fs, file, 4); }));
  EXPECT_EQ(0u, AllocationsOf([&] { results |= fs->ReadFile(fs, file, buffer, 8, &value); }));
  EXPECT_EQ(0u, AllocationsOf([&] { results |= fs->GetFileSize(fs, file, &value); }));
  EXPECT_EQ(SL_OK, results);
  EXPECT_EQ(36u, value);
  // After a thread's first failure on the object, later failures do not allocate either.
  EXPECT_EQ(0u, AllocationsOf([&] { results |= fs->ReadFile(fs, file, buffer, 0, &value); }));
  EXPECT_EQ(SL_INVALID_ARGUMENT, results);
  EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
}

// Each allocation of a search fails in turn. The system's own search may then refuse to start
// (3) or end the listing early (0 with the names so far); a failure while the names are gathered
// or the object is made gives 7, hands nothing out and leaks nothing.
TEST_F(AllocationTest, SearchAnswersSevenWhenMemoryRunsOut) {
  for (const char16_t* name : {u"first file with a long name", u"second file with a long name"}) {
    SLFileHandle file = nullptr;
    ASSERT_EQ(SL_OK, fs->OpenFile(fs, (dir / name).c_str(), SL_OPEN_CREATE, &file));
    ASSERT_EQ(SL_OK, fs->CloseFile(fs, file));
  }
  const std::u16string pattern = dir / u"*";
  SLFileSystemSearchResult* result = nullptr;
  ASSERT_EQ(SL_INVALID_ARGUMENT, fs->Search(fs, nullptr, &result));  // the record exists now
  const uint64_t needed = AllocationsOf([&] {
    fs->Search(fs, pattern.c_str(), &result);
    fstest::Release(result);
  });
  ASSERT_GE(needed, 3u);  // the list, at least two long names, the object
  auto* const untouched = reinterpret_cast<SLFileSystemSearchResult*>(0x10);
  uint64_t outOfMemory = 0;
  for (uint64_t failing = 1; failing <= needed; ++failing) {
    result = untouched;
    g_failingAllocation = g_allocations.load() + failing;
    const SLResult status = fs->Search(fs, pattern.c_str(), &result);
    g_failingAllocation = 0;
    if (status == SL_OK) {
      fstest::Release(result);
      continue;
    }
    EXPECT_TRUE(status == SL_OS_FAILURE || status == SL_INVALID_ARGUMENT) << status;
    EXPECT_EQ(untouched, result);
    outOfMemory += status == SL_OS_FAILURE;
  }
  EXPECT_GE(outOfMemory, 3u);  // the list, a long name, the object
  EXPECT_EQ(7u, fstest::LastFailure(fs).code);
}

}  // namespace

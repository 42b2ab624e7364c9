// The thread id behind per-thread failure records: the system's id of the calling thread, kept
// per thread after its first read, and read afresh in a child made by fork.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/thread.h"

namespace {

using sl::platform::CurrentThreadId;

TEST(CurrentThreadId, IsTheSystemIdOfEachThread) {
  const uint32_t main = CurrentThreadId();
  EXPECT_EQ(main, static_cast<uint32_t>(gettid()));
  EXPECT_EQ(CurrentThreadId(), main) << "the kept id is the same on the next call";

  uint32_t other = 0;
  uint32_t otherSystem = 0;
  std::thread thread([&] {
    other = CurrentThreadId();
    otherSystem = static_cast<uint32_t>(gettid());
  });
  thread.join();
  EXPECT_EQ(other, otherSystem);
  EXPECT_NE(other, main);
  EXPECT_EQ(CurrentThreadId(), main);
}

TEST(CurrentThreadId, AForkedChildReportsItsOwnIdNotTheParents) {
  const uint32_t parent = CurrentThreadId();  // kept for this thread before the fork
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    // The child's only thread has the process's id.
    const uint32_t id = CurrentThreadId();
    _exit(id == static_cast<uint32_t>(getpid()) && id != parent ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(CurrentThreadId(), parent);
}

}  // namespace

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "state/journal_lock_win.h"
#include "support/checked_win.h"

namespace nuv::test {
namespace {

using namespace std::chrono_literals;

// --recover waits a limited time for the journal's lock: while another
// thread holds it, the wait ends empty-handed, for every spelling of the same
// path, and a free lock (another journal's, or this one once released) is had.
TEST(JournalLock, AWaitWithALimitEndsWithoutTheLockWhileItIsHeld) {
  const std::string path = narrow(unique_temp_path(L"system_state.json"));
  std::string shouted = path;
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::promise<void> held, release;
  std::thread holder([&] {
    const auto lock = lock_journal(path);
    EXPECT_NE(lock, nullptr);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  EXPECT_EQ(lock_journal_within(path, 200ms), nullptr);
  EXPECT_EQ(lock_journal_within(shouted, 0ms), nullptr);
  EXPECT_NE(lock_journal_within(path + ".other", 0ms), nullptr);
  release.set_value();
  holder.join();
  EXPECT_NE(lock_journal_within(path, 0ms), nullptr);
}

}  // namespace
}  // namespace nuv::test

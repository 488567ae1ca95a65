#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "state/journal_lock_win.h"
#include "state/state_recovery.h"
#include "support/checked_win.h"
#include "support/memory_state_files.h"

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
    EXPECT_TRUE(lock);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  const auto waited = lock_journal_within(path, 200ms);
  ASSERT_FALSE(waited);
  EXPECT_EQ(waited.error(), OsError{WAIT_TIMEOUT}) << "the time ran out";
  EXPECT_FALSE(lock_journal_within(shouted, 0ms));
  EXPECT_TRUE(lock_journal_within(path + ".other", 0ms));
  release.set_value();
  holder.join();
  EXPECT_TRUE(lock_journal_within(path, 0ms));
}

// A recovery whose thread ended without giving the lock back (killed, say):
// the system hands the mutex to the next waiter with WAIT_ABANDONED. The
// next recovery gets the lock and says in its log that it was abandoned,
// and a lock given back properly afterwards is not.
TEST(JournalLock, AnAbandonedLockIsHadAndSaidSoInTheLog) {
  const std::string appdata = narrow(unique_temp_path(L"appdata"));
  const std::string path = state_paths(appdata).state;
  const auto abandon = [&path] {
    std::thread holder([&path] {
      auto lock = lock_journal(path);
      ASSERT_TRUE(lock);
      EXPECT_FALSE(lock->abandoned());
      // Never let go: its thread ends holding the mutex.
      (void)new JournalLock(std::move(*lock));
    });
    holder.join();
  };

  abandon();
  {
    const auto lock = lock_journal_within(path, 5000ms);
    ASSERT_TRUE(lock);
    EXPECT_TRUE(lock->abandoned());
  }
  {
    const auto again = lock_journal_within(path, 0ms);
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->abandoned()) << "released properly this time";
    // Released from this thread, as its owner, at the end of this block.
  }

  abandon();
  std::vector<std::string> logged;
  MemoryStateFiles no_files;
  const StateRecoverySystem system{
      .appdata = [&appdata] { return std::optional<std::string>(appdata); },
      .files = no_files.seam(),
      .roll_back = {},
      .lock_journal = lock_journal,
      .journal_locked = {},
      .watchdog_monitors = {},
      .log = [&logged](std::string_view line) { logged.emplace_back(line); },
  };
  EXPECT_FALSE(run_state_recovery(system));
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0], abandoned_lock_text(path));
  EXPECT_NE(logged[0].find("its lock was abandoned by a recovery that ended without releasing it"),
            std::string::npos);
}

}  // namespace
}  // namespace nuv::test

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "state/journal_lock_win.h"
#include "state/state_recovery.h"
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
      ASSERT_NE(lock, nullptr);
      EXPECT_FALSE(lock->abandoned());
      (void)lock.release();  // its thread ends holding the mutex
    });
    holder.join();
  };

  abandon();
  {
    const auto lock = lock_journal_within(path, 5000ms);
    ASSERT_NE(lock, nullptr);
    EXPECT_TRUE(lock->abandoned());
  }
  auto again = lock_journal_within(path, 0ms);
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(again->abandoned()) << "released properly this time";
  // Released from this thread, as its owner.
  again.reset();

  abandon();
  std::vector<std::string> logged;
  const StateRecoverySystem system{
      .appdata = [&appdata] { return std::optional<std::string>(appdata); },
      .files = {.read = [](const std::string&) { return std::optional<std::string>(); },
                .remove = {},
                .write = {},
                .replace = {},
                .write_in_place = {},
                .read_error = [] { return std::string("not found (os error 2)"); },
                .read_found_nothing = [] { return true; }},
      .roll_back = {},
      .lock_journal = lock_journal,
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

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "support/checked_win.h"
#include "support/client_profile_win.h"
#include "support/scratch_test_win.h"
#include "watchdog/log_file_win.h"

namespace nuv::test {
namespace {

// A client's data folder, made or not, in a scratch folder of the test's own.
class LogFile : public ScratchTest {
 protected:
  LogFile() : ScratchTest(L"log") {}

  std::wstring folder() const { return ClientProfile(in_root(L"appdata")).data_folder(); }
  std::wstring folder(const std::wstring& name) const { return in_root(name); }
  static std::wstring log_path(const std::wstring& folder) {
    return folder + L"\\nuv-watchdog.log";
  }

  // The log's lines without their stamps.
  static std::vector<std::string> texts(const std::wstring& folder) {
    std::vector<std::string> texts;
    for (const auto& line : split_lines(read_file(log_path(folder)).value_or(""))) {
      const auto pid_end = line.find("] ");
      texts.push_back(pid_end == std::string::npos ? line : line.substr(pid_end + 2));
    }
    return texts;
  }
};

// A client on its first connection makes its folder after starting the
// watchdog: the log begins then, with the lines written before it.
TEST_F(LogFile, LinesWrittenBeforeTheFolderAppearsComeFirst) {
  {
    nuv::LogFile log(narrow(folder()));
    log.write("monitoring");
    log.write("a detail");
    EXPECT_FALSE(exists(folder())) << "the client's folder is the client's to make";
    ASSERT_TRUE(make_folders(folder()));
    log.write("recovery");
    log.write("summary");
  }
  EXPECT_EQ(texts(folder()),
            (std::vector<std::string>{"monitoring", "a detail", "recovery", "summary"}));
}

// What is held waiting is bounded: the first lines whole, then a count of
// the lines that did not fit.
TEST_F(LogFile, LinesHeldBeforeTheOpenStopAtTheirLimitAndTheRestAreCounted) {
  const std::string text(1000, 'h');
  {
    nuv::LogFile log(narrow(folder()));
    for (int i = 0; i < 100; ++i) log.write(std::to_string(i) + " " + text);
    ASSERT_TRUE(make_folders(folder()));
    log.write("open at last");
  }

  const auto got = texts(folder());
  ASSERT_GE(got.size(), 3u);
  const std::size_t kept = got.size() - 2;
  EXPECT_GT(kept, 50u);
  for (std::size_t i = 0; i < kept; ++i) EXPECT_EQ(got[i], std::to_string(i) + " " + text);
  EXPECT_EQ(got[kept], std::to_string(100 - kept) +
                           " earlier lines of this run are not logged: they came before the log "
                           "could be opened and passed 65536 bytes");
  EXPECT_EQ(got.back(), "open at last");
  const auto bytes = read_file(log_path(folder())).value_or("");
  const auto held_end = bytes.find(std::to_string(100 - kept) + " earlier lines");
  ASSERT_NE(held_end, std::string::npos);
  EXPECT_LE(bytes.rfind('\n', held_end) + 1, kHeldLogBytes);
}

// A short line after one that did not fit is counted too, never held: the
// log never shows a line without the ones written before it.
TEST_F(LogFile, AfterAHeldLineIsDroppedEveryLaterLineIsCountedToo) {
  {
    nuv::LogFile log(narrow(folder()));
    log.write("first");
    log.write("second " + std::string(kHeldLogBytes, 's'));
    log.write("third");
    ASSERT_TRUE(make_folders(folder()));
    log.write("open at last");
  }
  EXPECT_EQ(texts(folder()),
            (std::vector<std::string>{
                "first",
                "2 earlier lines of this run are not logged: they came before the log could be "
                "opened and passed 65536 bytes",
                "open at last",
            }));
}

// A line larger than one write takes is written whole, in several writes.
TEST_F(LogFile, ALineLargerThanOneWriteIsWrittenWhole) {
  ASSERT_TRUE(make_folders(folder()));
  const std::string text = "a line of more than seven bytes, " + std::string(100, 'w');
  {
    nuv::LogFile log(narrow(folder()), 7);
    log.write(text);
    log.write("next");
  }
  EXPECT_EQ(texts(folder()), (std::vector<std::string>{text, "next"}));
}

// A log that cannot be set aside stays as it is and is appended to.
TEST_F(LogFile, AFailedRotationLeavesTheLogAsItIs) {
  ASSERT_TRUE(make_folders(folder()));
  ASSERT_TRUE(make_folders(log_path(folder()) + L".1"));  // no file can replace a folder
  const std::string full(1024 * 1024, 'o');
  ASSERT_TRUE(write_file(log_path(folder()), full));
  nuv::LogFile(narrow(folder())).write("appended");
  const auto bytes = read_file(log_path(folder())).value_or("");
  ASSERT_TRUE(bytes.starts_with(full));
  EXPECT_EQ(texts(folder()).back(), "appended");
}

// The lines of a log's text after `skip` bytes that are not a writer's line.
std::size_t foreign_lines(const std::string& text, std::size_t skip) {
  std::size_t foreign = 0;
  for (const auto& line : split_lines(text.substr(std::min(skip, text.size())))) {
    const auto pid_end = line.find("] ");
    if (pid_end == std::string::npos || !line.substr(pid_end + 2).starts_with("writer ")) {
      ++foreign;
    }
  }
  return foreign;
}

// Watchdogs that start together may each measure the full log; only the
// file that was measured is set aside, so nuv-watchdog.log.1 keeps the old
// mebibyte, and the new log holds only new lines. A writer whose rotation
// failed appends to the full log before another sets it aside, so the old
// mebibyte may be followed by new lines. (Wine now and then loses one of
// several appends made at the same instant, so the lines are not counted.)
TEST_F(LogFile, WritersStartingTogetherSetTheFullLogAsideOnce) {
  constexpr int kRounds = 40;
  constexpr int kWriters = 8;
  const std::string full(1024 * 1024, 'o');
  for (int round = 0; round < kRounds; ++round) {
    const std::wstring data = folder(L"round " + std::to_wstring(round));
    ASSERT_TRUE(make_folders(data));
    ASSERT_TRUE(write_file(log_path(data), full));
    ASSERT_TRUE(write_file(log_path(data) + L".1", "the oldest run\n"));
    std::atomic<int> ready = 0;
    std::vector<std::thread> writers;
    for (int i = 0; i < kWriters; ++i) {
      writers.emplace_back([&, i] {
        nuv::LogFile log(narrow(data));
        ready.fetch_add(1);
        while (ready.load() < kWriters) std::this_thread::yield();
        log.write("writer " + std::to_string(i));
      });
    }
    for (auto& writer : writers) writer.join();
    const std::string old = read_file(log_path(data) + L".1").value_or("(none)");
    EXPECT_TRUE(old.starts_with(full)) << "round " << round << ": nuv-watchdog.log.1 holds "
                                       << old.size() << " bytes, beginning " << old.substr(0, 40);
    EXPECT_EQ(foreign_lines(old, full.size()), 0u) << "round " << round;
    const std::string log = read_file(log_path(data)).value_or("");
    EXPECT_FALSE(log.empty()) << "round " << round;
    EXPECT_EQ(foreign_lines(log, 0), 0u) << "round " << round;
  }
}

}  // namespace
}  // namespace nuv::test

// The real nuv-watchdog.exe against a real parent process.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/list_notation.h"
#include "support/checked_win.h"
#include "support/client_profile_win.h"
#include "support/scratch_test_win.h"
#include "support/shared_console_win.h"

namespace nuv::test {
namespace {

using namespace std::chrono_literals;

const std::string kPrefix = "nuv-watchdog: ";

// The recovery finds nothing here: an empty APPDATA and no wintun.dll.
std::string disappeared_line(DWORD pid) {
  return kPrefix + "parent pid=" + std::to_string(pid) +
         " disappeared without clean flag \xE2\x80\x94 running recovery\n" + kPrefix +
         "no wintun orphans\n" + kPrefix + "no system_state to recover\n";
}

std::string monitoring_line(DWORD pid, const std::wstring& flag) {
  return kPrefix + "monitoring pid=" + std::to_string(pid) + " clean_flag=" + narrow(flag) + "\n";
}

void create_file(const std::wstring& path) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid());
}

struct Outcome {
  DWORD exit_code = 0;
  std::string stderr_text;
  std::string stdout_text;
};

class Watchdog : public ScratchTest {
 protected:
  Watchdog() : ScratchTest(L"profiles") {}

  const std::wstring watchdog_ = program_folder() + L"nuv-watchdog.exe";
  const std::wstring child_ = program_folder() + L"nuv-test-child.exe";

  // A profile for one run, in the scratch folder; its APPDATA is the run's
  // TEMP too.
  const ClientProfile& new_profile() {
    profile_ = ClientProfile(in_root(L"profile-" + std::to_wstring(profiles_++)));
    return profile_;
  }

  // The watchdog with the profile's APPDATA and TEMP, so that a recovery never
  // meets another test's journal or lock file.
  StartedProcess start_watchdog_in_profile(const std::wstring& arguments) {
    return start_captured(
        watchdog_, L"\"" + watchdog_ + L"\" " + arguments,
        environment_block({{L"APPDATA", profile_.appdata()}, {L"TEMP", profile_.appdata()}}));
  }

  // In a profile of its own. With `data_folder`, the client's data folder
  // exists in it, and the watchdog keeps its log there.
  StartedProcess start_watchdog(const std::wstring& arguments, bool data_folder = false) {
    EXPECT_TRUE(new_profile().make(data_folder));
    return start_watchdog_in_profile(arguments);
  }

  std::wstring data_folder_path() const { return profile_.data_folder(); }

  // The log's line for a flag that was there before monitoring began.
  static std::string stale_flag_line(const std::wstring& flag) {
    return "clean flag already present as monitoring begins: " + list_notation({narrow(flag)}) +
           "\n";
  }
  std::wstring log_path() const { return profile_.log(); }

  // The log's lines without their stamps.
  std::string logged_text() const {
    std::string text;
    for (const auto& line : split_lines(read_file(log_path()).value_or(""))) {
      const auto pid_end = line.find("] ");
      text += (pid_end == std::string::npos ? line : line.substr(pid_end + 2)) + "\n";
    }
    return text;
  }

  Outcome finish(StartedProcess& watchdog, const std::string& stderr_so_far = {}) {
    Outcome outcome;
    outcome.exit_code = wait_for_exit(watchdog.process.get());
    if (watchdog.stderr_read)
      outcome.stderr_text = stderr_so_far + read_to_end(watchdog.stderr_read.get());
    outcome.stdout_text = read_to_end(watchdog.stdout_read.get());
    return outcome;
  }

  Outcome run(const std::wstring& arguments, bool data_folder = false) {
    auto watchdog = start_watchdog(arguments, data_folder);
    return finish(watchdog);
  }

  // Starts a parent and a watchdog on it, waits until the watchdog monitors,
  // then kills the parent as a crash would; with `flag_at_death`, the flag is
  // written first, as an orderly client does.
  Outcome crash_parent(const std::wstring& flag, bool data_folder = false,
                       bool flag_at_death = false) {
    auto parent = start_plain(child_, L"nuv-test-child wait");
    auto watchdog =
        start_watchdog(std::to_wstring(parent.pid) + L" \"" + flag + L"\"", data_folder);
    const std::string first = read_line(watchdog.stderr_read.get());
    EXPECT_EQ(first, monitoring_line(parent.pid, flag));
    if (flag_at_death) create_file(flag);
    ::TerminateProcess(parent.process.get(), 3);
    parent_pid_ = parent.pid;
    return finish(watchdog, first);
  }

  DWORD parent_pid_ = 0;
  ClientProfile profile_;
  int profiles_ = 0;
};

TEST_F(Watchdog, ParentGoneWithFlagDeletesTheFlagAndExitsZero) {
  const auto flag = unique_temp_path(L"clean.flag");
  create_file(flag);
  const auto outcome = crash_parent(flag);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.stderr_text, monitoring_line(parent_pid_, flag) + kPrefix +
                                     "parent shut down cleanly (flag present)\n");
  EXPECT_EQ(outcome.stdout_text, "");
  EXPECT_FALSE(exists(flag));
}

// The log keeps every line of an orderly run, too, in order.
TEST_F(Watchdog, CleanShutdownIsLoggedInTheDataFolder) {
  const auto flag = unique_temp_path(L"clean.flag");
  const auto outcome = crash_parent(flag, /*data_folder=*/true, /*flag_at_death=*/true);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(logged_text(), outcome.stderr_text);
}

TEST_F(Watchdog, ReadOnlyFlagIsDeletedToo) {
  const auto flag = unique_temp_path(L"readonly.flag");
  create_file(flag);
  ASSERT_TRUE(::SetFileAttributesW(flag.c_str(), FILE_ATTRIBUTE_READONLY));
  const auto outcome = crash_parent(flag);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_FALSE(exists(flag));
}

// It cannot be deleted, and the log says so with the system's reason.
TEST_F(Watchdog, FlagNamingADirectoryCountsAsPresentAndStays) {
  const auto flag = unique_temp_path(L"flag-dir");
  ASSERT_TRUE(::CreateDirectoryW(flag.c_str(), nullptr));
  const auto outcome = crash_parent(flag, /*data_folder=*/true);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.stderr_text, monitoring_line(parent_pid_, flag) + kPrefix +
                                     "parent shut down cleanly (flag present)\n");
  EXPECT_TRUE(exists(flag));
  const std::string logged = logged_text();
  const std::string refused =
      "clean flag could not be deleted: " + list_notation({narrow(flag)}) + ": ";
  EXPECT_NE(logged.find(refused), std::string::npos) << logged;
  EXPECT_NE(logged.find("(os error ", logged.find(refused)), std::string::npos) << logged;
  ::RemoveDirectoryW(flag.c_str());
}

TEST_F(Watchdog, ParentGoneWithoutFlagRunsRecoveryAndExitsOne) {
  const auto flag = unique_temp_path(L"never.flag");
  const auto outcome = crash_parent(flag);
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.stderr_text,
            monitoring_line(parent_pid_, flag) + disappeared_line(parent_pid_));
  EXPECT_EQ(outcome.stdout_text, "");
  // The client's folder is the client's to make: no log without it.
  EXPECT_FALSE(exists(data_folder_path()));
}

// The watchdog holds the parent's handle and waits on it, so a death is seen
// when it happens, wherever it falls in the 2 s poll interval: the exit comes
// after the 500 ms settle delay and the (here empty) recovery, never after a
// further poll. Before, a death just after a poll took 2.5 s.
TEST_F(Watchdog, ParentDeathIsSeenAtOnceWhereverItFallsInThePollInterval) {
  using Clock = std::chrono::steady_clock;
  for (const auto phase : {100ms, 700ms, 1300ms, 1900ms}) {
    const auto flag = unique_temp_path(L"never.flag");
    auto parent = start_plain(child_, L"nuv-test-child wait");
    auto watchdog = start_watchdog(std::to_wstring(parent.pid) + L" \"" + flag + L"\"");
    EXPECT_EQ(read_line(watchdog.stderr_read.get()), monitoring_line(parent.pid, flag));
    std::this_thread::sleep_for(phase);
    ::TerminateProcess(parent.process.get(), 3);
    ASSERT_EQ(::WaitForSingleObject(parent.process.get(), 10'000), WAIT_OBJECT_0);
    const auto died = Clock::now();
    EXPECT_EQ(wait_for_exit(watchdog.process.get()), 1u);
    const auto reaction = Clock::now() - died;
    EXPECT_GE(reaction, 450ms) << phase.count();  // the settle delay, less the timer's slack
    EXPECT_LT(reaction, 1500ms) << phase.count();
  }
}

// The client reads our standard error through a pipe that dies with it: the
// lines after its death cannot be written, and the recovery must run anyway.
TEST_F(Watchdog, ClosedStandardErrorDoesNotStopTheRecovery) {
  const auto flag = unique_temp_path(L"never.flag");
  auto parent = start_plain(child_, L"nuv-test-child wait");
  auto watchdog = start_watchdog(std::to_wstring(parent.pid) + L" \"" + flag + L"\"");
  EXPECT_EQ(read_line(watchdog.stderr_read.get()), monitoring_line(parent.pid, flag));
  watchdog.stderr_read.reset();
  ::TerminateProcess(parent.process.get(), 3);
  EXPECT_EQ(wait_for_exit(watchdog.process.get()), 1u);
}

// A watchdog that shares a console with its client lives through a Ctrl+C
// pressed there. The client dies of it, and its crash is recovered.
TEST_F(Watchdog, CtrlCInASharedConsoleLeavesTheWatchdogToRecover) {
  SharedConsole console;
  ASSERT_TRUE(console.ready());
  const auto flag = unique_temp_path(L"never.flag");
  auto parent = start_plain(child_, L"nuv-test-child wait");
  auto watchdog = start_watchdog(std::to_wstring(parent.pid) + L" \"" + flag + L"\"");
  const std::string first = read_line(watchdog.stderr_read.get());
  EXPECT_EQ(first, monitoring_line(parent.pid, flag));
  // The parent has no handler: it dies of the key.
  EXPECT_TRUE(console.press_ctrl_c_until_it_ends(parent.process.get()));
  ::TerminateProcess(parent.process.get(), 3);  // when it did not, its crash is still the test
  const auto outcome = finish(watchdog, first);
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.stderr_text, monitoring_line(parent.pid, flag) + disappeared_line(parent.pid));
}

// A line break in an argument would split the line that echoes it.
TEST_F(Watchdog, ALineBreakInAnArgumentIsEchoedEscaped) {
  const auto refused = run(L"\"12\n3\" flag");
  EXPECT_EQ(refused.exit_code, 2u);
  EXPECT_EQ(refused.stderr_text, kPrefix + "invalid PID '12\\n3'\n");
  const std::wstring flag = unique_temp_path(L"never") + L"\r\n.flag";
  const auto watched = run(L"0 \"" + flag + L"\"");
  EXPECT_EQ(watched.exit_code, 1u);
  const auto lines = split_lines(watched.stderr_text);
  ASSERT_EQ(lines.size(), 4u) << watched.stderr_text;
  std::string shown = narrow(flag);
  shown.replace(shown.size() - 7, 2, "\\r\\n");
  EXPECT_EQ(lines[0], kPrefix + "monitoring pid=0 clean_flag=" + shown);
}

TEST_F(Watchdog, ParentAlreadyGoneAtStartIsFoundAtTheFirstPoll) {
  auto parent = start_plain(child_, L"nuv-test-child exit 0");
  ASSERT_EQ(wait_for_exit(parent.process.get()), 0u);
  const auto flag = unique_temp_path(L"never.flag");
  const auto outcome = run(std::to_wstring(parent.pid) + L" \"" + flag + L"\"");
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.stderr_text, monitoring_line(parent.pid, flag) + disappeared_line(parent.pid));
}

TEST_F(Watchdog, ProcessIdZeroCannotBeOpenedSoTheFlagDecides) {
  const auto flag = unique_temp_path(L"clean.flag");
  create_file(flag);
  const auto outcome = run(L"0 \"" + flag + L"\"");
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.stderr_text,
            monitoring_line(0, flag) + kPrefix + "parent shut down cleanly (flag present)\n");
  EXPECT_FALSE(exists(flag));
}

TEST_F(Watchdog, WrongArgumentsAreRefusedWithExitTwo) {
  const std::string usage = "usage: nuv-watchdog <parent_pid> <clean_flag_path>\n";
  for (const std::wstring arguments : {L"", L"1234", L"1234 a b", L"\"1 2\""}) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.exit_code, 2u) << narrow(arguments);
    EXPECT_EQ(outcome.stderr_text, usage) << narrow(arguments);
    EXPECT_EQ(outcome.stdout_text, "");
  }
  for (const auto& [arguments, shown] : {std::pair{L"12a flag", "12a"},
                                         {L"-5 flag", "-5"},
                                         {L"\" 1\" flag", " 1"},
                                         {L"4294967296 flag", "4294967296"},
                                         {L"\"\" flag", ""},
                                         {L"* flag", "*"}}) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.exit_code, 2u) << narrow(arguments);
    EXPECT_EQ(outcome.stderr_text, kPrefix + "invalid PID '" + shown + "'\n");
  }
}

// --help, /? and --version answer on standard output; any other single
// argument, or a keyword with a wrong tail, is still a usage error.
TEST_F(Watchdog, HelpAndVersionAnswerOnStandardOutput) {
  const std::string help =
      "usage: nuv-watchdog <parent_pid> <clean_flag_path>\n"
      "       nuv-watchdog --recover\n"
      "       nuv-watchdog --plan [journal_path]\n"
      "       nuv-watchdog --help | /? | --version\n";
  for (const std::wstring arguments : {L"--help", L"/?"}) {
    const auto outcome = run(arguments, /*data_folder=*/true);
    EXPECT_EQ(outcome.exit_code, 0u) << narrow(arguments);
    EXPECT_EQ(outcome.stdout_text, help) << narrow(arguments);
    EXPECT_EQ(outcome.stderr_text, "");
    EXPECT_FALSE(exists(log_path()));
  }
  const auto version = run(L"--version");
  EXPECT_EQ(version.exit_code, 0u);
  EXPECT_EQ(version.stdout_text, "nuv-watchdog " NUV_TEST_PROGRAM_VERSION "\n");
  for (const std::wstring arguments : {L"--version x", L"--help --version", L"--HELP", L"-?"}) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.exit_code, 2u) << narrow(arguments);
    EXPECT_EQ(outcome.stderr_text, "usage: nuv-watchdog <parent_pid> <clean_flag_path>\n");
    EXPECT_EQ(outcome.stdout_text, "");
  }
}

// A flag left from an earlier session would make a crash look like an
// orderly end: the log says it was there from the start, and it still counts.
TEST_F(Watchdog, FlagPresentAsMonitoringBeginsIsLogged) {
  const auto flag = unique_temp_path(L"stale.flag");
  create_file(flag);
  const auto outcome = crash_parent(flag, /*data_folder=*/true);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(logged_text(), monitoring_line(parent_pid_, flag) + stale_flag_line(flag) + kPrefix +
                               "parent shut down cleanly (flag present)\n");
  EXPECT_EQ(outcome.stderr_text.find("already present"), std::string::npos);
}

// A refused command line is the caller's mistake, not a run: nothing logged.
TEST_F(Watchdog, UsageErrorsWriteNoLog) {
  for (const std::wstring arguments : {L"1234", L"12a flag"}) {
    EXPECT_EQ(run(arguments, /*data_folder=*/true).exit_code, 2u);
    EXPECT_FALSE(exists(log_path())) << narrow(arguments);
  }
}

// A log of 1 MiB or more is set aside whole, as nuv-watchdog.log.1 (an older
// one replaced), before the run's first line; a smaller one, down to one byte
// short of the mebibyte, is appended to.
TEST_F(Watchdog, LogIsAppendedToUntilItReachesOneMebibyteThenSetAside) {
  const std::string small = "an earlier run\n";
  const std::string full(1024 * 1024, 'o');
  const std::string almost_full(1024 * 1024 - 1, 'a');
  for (const auto& [before, rotate] :
       {std::pair{full, true}, std::pair{almost_full, false}, std::pair{small, false}}) {
    const auto flag = unique_temp_path(L"clean.flag");
    create_file(flag);
    auto parent = start_plain(child_, L"nuv-test-child exit 0");
    ASSERT_EQ(wait_for_exit(parent.process.get()), 0u);
    ASSERT_TRUE(new_profile().make());
    ASSERT_TRUE(write_file(log_path(), before));
    ASSERT_TRUE(write_file(profile_.old_log(), "the oldest run\n"));
    auto watchdog = start_watchdog_in_profile(std::to_wstring(parent.pid) + L" \"" + flag + L"\"");
    const auto outcome = finish(watchdog);
    EXPECT_EQ(outcome.exit_code, 0u);
    const auto log = read_file(log_path()).value_or("");
    // The flag was there from the start, and the log says so.
    if (rotate) {
      EXPECT_EQ(read_file(profile_.old_log()), full);
      EXPECT_EQ(logged_text(), monitoring_line(parent.pid, flag) + stale_flag_line(flag) + kPrefix +
                                   "parent shut down cleanly (flag present)\n");
    } else {
      EXPECT_EQ(read_file(profile_.old_log()), "the oldest run\n") << before.size();
      ASSERT_TRUE(log.starts_with(before)) << before.size();
      EXPECT_EQ(split_lines(log.substr(before.size())).size(),
                1 + split_lines(outcome.stderr_text).size())
          << before.size();
    }
  }
}

// A client on its first connection makes its data folder after starting the
// watchdog: the log begins when the folder is there, with the lines written
// before it, so that the crash's recovery is logged from the monitoring line
// on.
TEST_F(Watchdog, DataFolderMadeAfterTheStartStillGetsTheWholeRunLogged) {
  const auto flag = unique_temp_path(L"never.flag");
  auto parent = start_plain(child_, L"nuv-test-child wait");
  auto watchdog = start_watchdog(std::to_wstring(parent.pid) + L" \"" + flag + L"\"");
  const std::string first = read_line(watchdog.stderr_read.get());
  EXPECT_EQ(first, monitoring_line(parent.pid, flag));
  EXPECT_FALSE(exists(data_folder_path()));
  ASSERT_TRUE(profile_.make());  // as the client makes its folder
  ::TerminateProcess(parent.process.get(), 3);
  const auto outcome = finish(watchdog, first);
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.stderr_text, monitoring_line(parent.pid, flag) + disappeared_line(parent.pid));
  // Every line of standard error, in order, among the detail lines.
  const auto logged = split_lines(logged_text());
  auto next = logged.begin();
  for (const auto& line : split_lines(outcome.stderr_text)) {
    next = std::find(next, logged.end(), line);
    ASSERT_NE(next, logged.end()) << "not logged in order: " << line;
    ++next;
  }
  EXPECT_EQ(logged.front() + "\n", monitoring_line(parent.pid, flag));
}

TEST_F(Watchdog, ArgumentThatIsNotUnicodeIsRefusedCleanly) {
  std::wstring flag = L"C:\\x";
  flag.push_back(static_cast<wchar_t>(0xD800));
  const auto outcome = run(L"1234 " + flag);
  EXPECT_EQ(outcome.exit_code, 2u);
  EXPECT_EQ(outcome.stderr_text, kPrefix + "argument 2 is not valid Unicode text\n");
}

}  // namespace
}  // namespace nuv::test

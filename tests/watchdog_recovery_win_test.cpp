// The whole recovery on the real nuv-watchdog.exe: a parent is killed without
// the clean flag, and the watchdog closes the client's adapters (a stand-in
// wintun.dll) and rolls the journal back (stand-in tools), in a folder of its
// own with APPDATA and TEMP of its own.
//
// Wine's IP Helper resolves an adapter's name only when a Linux interface of
// that name exists. tests/netns/run_in_netns.sh runs this program in a network
// namespace with tun devices named utun-nuv and NuvCore and sets
// NUV_TEST_ADAPTERS_RESOLVE=1: then both are counted. Elsewhere they are
// opened, fail the look-up, are closed again and not counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/error_list.h"
#include "common/list_notation.h"
#include "platform/rollback/ip_address.h"
#include "platform/rollback/read_back_win.h"
#include "state/journal_format.h"
#include "state/journal_lock_name.h"
#include "state/journal_lock_win.h"
#include "support/checked_win.h"
#include "support/client_profile_win.h"
#include "support/saved_proxy_values_win.h"
#include "support/scratch_test_win.h"
#include "support/shared_console_win.h"

namespace nuv::test {
namespace {

using namespace std::chrono_literals;

// Set by the run under a Russian Wine (NUV_TEST_LANGUAGE=ru), which must
// really speak Russian for its tests to mean anything.
bool russian_system_expected() {
  wchar_t value[8];
  return ::GetEnvironmentVariableW(L"NUV_TEST_LANGUAGE", value, 8) == 2 &&
         std::wstring_view(value, 2) == L"ru";
}

// The system's own text of a message, as the watchdog reads it (UTF-8), with
// its line end; a test never writes a system message itself, since Wine's
// wording differs from Windows'.
std::string system_message(DWORD code) {
  wchar_t buffer[2048];
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, buffer, 2048, nullptr);
  std::wstring text(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return narrow(text);
}

bool adapters_resolve() {
  wchar_t value[8];
  return ::GetEnvironmentVariableW(L"NUV_TEST_ADAPTERS_RESOLVE", value, 8) == 1 && value[0] == L'1';
}

const std::vector<SystemChange> kJournal{
    RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
    DnsOverridden{"Wi-Fi", std::nullopt, {"192.168.1.1", "1.1.1.1"}},
    FirewallRuleAdded{"NUV kill switch"},
};

class WatchdogRecovery : public ClientProfileTest {
 protected:
  WatchdogRecovery()
      : ClientProfileTest(L"crash", L"nuv-watchdog.exe",
                          {L"netsh", L"route", L"powershell", L"reg"}) {}
  void prepare_profile() override {
    make_folder(L"temp");
    copy_from_build(L"wintun-stand-in\\full\\wintun.dll", L"wintun.dll");
    ASSERT_TRUE(profile_.write_journal(format_journal(kJournal)));
  }

  std::wstring watchdog() const { return program(); }

  struct Crash {
    DWORD parent_pid = 0;
    DWORD watchdog_pid = 0;
    DWORD exit_code = 0;
    std::vector<std::string> lines;
    std::chrono::steady_clock::duration death_to_exit{};
    // Our end of the watchdog's standard error reached its end within 10 s of
    // the watchdog's exit: nothing but the watchdog held the other end.
    bool stderr_ended_with_the_watchdog = false;
  };

  // How the client treats the watchdog's standard error after the
  // monitoring line: it reads on, it dies (our end is closed), or it hangs
  // (our end stays open, unread).
  enum class Reader { kReads, kClosed, kStalled };

  // A run's environment: the client's profile, its adapters and the tools'
  // script; `tool_sleep` makes every tool take that long, `adapter_delay`
  // every adapter opening.
  std::wstring run_environment(
      const std::optional<std::wstring>& tool_sleep = std::nullopt,
      const std::optional<std::wstring>& adapter_delay = std::nullopt) const {
    return environment_block({
        {L"APPDATA", profile_.appdata()},
        {L"TEMP", root_ + L"\\temp"},
        {L"TMP", std::nullopt},
        {L"NUV_STAND_IN_LOG", root_ + L"\\tools.log"},
        {L"NUV_STAND_IN_SCRIPT", root_ + L"\\answers.txt"},
        {L"NUV_STAND_IN_SLEEP_MS", tool_sleep},
        {L"NUV_WINTUN_LOG", root_ + L"\\wintun.log"},
        {L"NUV_WINTUN_ADAPTERS", L"utun-nuv;NuvCore;utun-nuv 3"},
        {L"NUV_WINTUN_OPEN_DELAY_MS", adapter_delay},
    });
  }

  // Starts a watchdog in the monitoring form on a parent of its own and
  // waits for its monitoring line. `input` is the value the watchdog finds
  // as its standard input.
  struct Watched {
    StartedProcess parent;
    StartedProcess dog;
    std::string first_line;
  };
  Watched start_watched(const std::optional<std::wstring>& tool_sleep = std::nullopt,
                        HANDLE input = nullptr,
                        const std::optional<std::wstring>& adapter_delay = std::nullopt) {
    Watched watched;
    watched.parent = start_plain(program_folder() + L"nuv-test-child.exe", L"nuv-test-child wait");
    const std::wstring flag = root_ + L"\\clean.flag";
    watched.dog = start_captured(
        watchdog(), L"nuv-watchdog " + std::to_wstring(watched.parent.pid) + L" \"" + flag + L"\"",
        run_environment(tool_sleep, adapter_delay), std::nullopt, input);
    watched.first_line = read_line(watched.dog.stderr_read.get());
    return watched;
  }

  // A run of one of the keyword forms, to its end.
  struct Answer {
    DWORD exit_code = 0;
    DWORD pid = 0;
    std::vector<std::string> out, err;
  };
  Answer ask(const std::wstring& arguments) {
    auto dog = start_captured(watchdog(), L"nuv-watchdog " + arguments, run_environment());
    auto err =
        std::async(std::launch::async, [&dog] { return read_to_end(dog.stderr_read.get()); });
    Answer answer;
    answer.pid = dog.pid;
    answer.out = split_lines(read_to_end(dog.stdout_read.get()));
    answer.err = split_lines(err.get());
    answer.exit_code = wait_for_exit(dog.process.get());
    return answer;
  }

  // Starts a parent and the watchdog on it, waits for the monitoring line,
  // sets the reader as asked, then kills the parent. `after_exit` runs once
  // the watchdog has exited and the rest of its standard error has had its
  // 10 s: it may end what still holds the pipe. `input` is the watchdog's
  // standard input; `once_watched` runs after the monitoring line, before the
  // parent is killed.
  Crash crash(Reader reader = Reader::kReads, const std::function<void()>& after_exit = {},
              HANDLE input = nullptr,
              const std::function<void(const Watched&)>& once_watched = {}) {
    auto watched = start_watched(std::nullopt, input);
    if (once_watched) once_watched(watched);
    auto& parent = watched.parent;
    auto& dog = watched.dog;
    Crash result;
    result.parent_pid = parent.pid;
    result.watchdog_pid = dog.pid;
    std::string text = watched.first_line;
    if (reader == Reader::kClosed) dog.stderr_read.reset();
    // Read while the watchdog runs: a long summary line would fill the pipe.
    std::future<std::string> rest;
    if (reader == Reader::kReads) {
      rest = std::async(std::launch::async, [&dog] { return read_to_end(dog.stderr_read.get()); });
    }
    ::TerminateProcess(parent.process.get(), 1);
    ::WaitForSingleObject(parent.process.get(), INFINITE);
    const auto died = std::chrono::steady_clock::now();
    result.exit_code = wait_for_exit(dog.process.get());
    result.death_to_exit = std::chrono::steady_clock::now() - died;
    if (reader == Reader::kReads) {
      result.stderr_ended_with_the_watchdog = rest.wait_for(10s) == std::future_status::ready;
    }
    if (after_exit) after_exit();
    if (reader == Reader::kReads) text += rest.get();
    result.lines = split_lines(text);
    return result;
  }

  std::string orphans_line() const {
    return adapters_resolve() ? "nuv-watchdog: cleaned 2 wintun orphan(s)"
                              : "nuv-watchdog: no wintun orphans";
  }

  std::vector<std::string> tool_log() const {
    return split_lines(read_file(root_ + L"\\tools.log").value_or(""));
  }
  std::vector<std::string> wintun_log() const {
    return split_lines(read_file(root_ + L"\\wintun.log").value_or(""));
  }

  void expect_adapters_closed() const {
    const auto log = wintun_log();
    for (const char* name : {"utun-nuv 3", "utun-nuv", "NuvCore"}) {
      EXPECT_EQ(std::count(log.begin(), log.end(), std::string("WintunCloseAdapter ") + name), 1)
          << name;
    }
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "unload");
  }

  std::wstring log_path() const { return profile_.log(); }

  // The texts of the log's lines, each checked for its stamp and for the
  // watchdog's process id.
  std::vector<std::string> log_texts(DWORD watchdog_pid) const {
    std::vector<std::string> texts;
    const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[(\d+)\] )");
    for (const auto& line : split_lines(read_file(log_path()).value_or(""))) {
      // Only the stamp goes through the regex, which recurses once per
      // character: a summary line of many kilobytes would overflow the stack.
      const std::string head = line.substr(0, 48);
      std::smatch parts;
      EXPECT_TRUE(std::regex_search(head, parts, stamp)) << head;
      if (parts.empty()) continue;
      EXPECT_EQ(parts[1].str(), std::to_string(watchdog_pid)) << head;
      texts.push_back(line.substr(static_cast<std::size_t>(parts.length(0))));
    }
    return texts;
  }

  // Every stderr line of the run, in order, with detail lines in between; a
  // line naming each tool that ran.
  void expect_logged(const Crash& crashed, const std::vector<std::string>& stderr_lines,
                     const std::vector<std::string>& tools) const {
    const auto texts = log_texts(crashed.watchdog_pid);
    auto next = texts.begin();
    for (const auto& line : stderr_lines) {
      next = std::find(next, texts.end(), line);
      ASSERT_NE(next, texts.end()) << "not logged in order: " << line;
      ++next;
    }
    for (const char* adapter : {"utun-nuv", "NuvCore"}) {
      const std::string closed = std::string("closed adapter [\"") + adapter + "\"]";
      if (adapters_resolve()) {
        EXPECT_NE(std::find(texts.begin(), texts.end(), closed), texts.end()) << closed;
        continue;
      }
      // Without their interfaces they open and are closed uncounted, but named all the same.
      const std::string uncounted = closed + " without counting it: its name resolves to no ";
      EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
        return text.starts_with(uncounted);
      })) << uncounted;
    }
    for (const auto& tool : tools) {
      const std::string path = narrow(root_) + "\\" + tool + ".exe";
      EXPECT_TRUE(std::any_of(
          texts.begin(), texts.end(),
          [&](const std::string& text) { return text.find(path) != std::string::npos; }))
          << "no line names " << path;
    }
  }

  bool logged(const Crash& crashed, const std::string& part) const {
    const auto texts = log_texts(crashed.watchdog_pid);
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
      return text.find(part) != std::string::npos;
    });
  }

  // Ends the process whose id a helper wrote to `pid_file`.
  static void terminate_from_pid_file(const std::wstring& pid_file) {
    std::ifstream file(pid_file.c_str());
    DWORD pid = 0;
    if (!(file >> pid)) {
      ADD_FAILURE() << "no process id in " << narrow(pid_file);
      return;
    }
    const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(process.valid()) << "no process " << pid;
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 10'000);
  }
};

TEST_F(WatchdogRecovery, CrashRollsEverythingBackAndExitsOne) {
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[1], "nuv-watchdog: parent pid=" + std::to_string(crashed.parent_pid) +
                                  " disappeared without clean flag \xE2\x80\x94 running recovery");
  EXPECT_EQ(crashed.lines[2], orphans_line());
  EXPECT_EQ(crashed.lines[3], "nuv-watchdog: system_state recovery clean");
  EXPECT_EQ(tool_log(), (std::vector<std::string>{
                            "netsh\tadvfirewall\tfirewall\tdelete\trule\tname=NUV kill switch",
                            "netsh\tinterface\tip\tset\tdns\tWi-Fi\tstatic\t192.168.1.1",
                            "netsh\tinterface\tip\tadd\tdns\tWi-Fi\t1.1.1.1",
                            "route\tdelete\t0.0.0.0/1\t10.8.0.1",
                        }));
  expect_adapters_closed();
  EXPECT_FALSE(read_file(state()));
  EXPECT_FALSE(read_file(meta()));
  expect_logged(crashed, crashed.lines, {"netsh", "route"});
  EXPECT_FALSE(logged(crashed, "Internet settings")) << "no proxy change, nothing to announce";
}

TEST_F(WatchdogRecovery, FailedUndoIsListedKeptAndCounted) {
  ASSERT_TRUE(
      write_file(root_ + L"\\answers.txt", "netsh\tadvfirewall\t1\tAccess is denied.\\r\\n\n"));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[2], orphans_line());
  EXPECT_EQ(crashed.lines[3],
            "nuv-watchdog: system_state recovery had 1 errors: "
            "[\"delete firewall rule failed: Access is denied.\\r\\n\"]");
  EXPECT_EQ(read_file(state()), format_journal({kJournal[2]}));
  const auto counted = parse_meta(read_file(meta()).value_or(""));
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->partial_rollback_count, 1u);
  expect_logged(crashed, crashed.lines, {"netsh", "route"});
  // The failed tool's exit code and its own words, in list notation.
  const auto texts = log_texts(crashed.watchdog_pid);
  const auto logs = [&](const std::string& part) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
      return text.find(part) != std::string::npos;
    });
  };
  EXPECT_TRUE(logs("exit code 1 "));
  EXPECT_TRUE(logs("[\"Access is denied.\\r\\n\"]"));
  EXPECT_TRUE(logs("rewritten with 1 record"));
}

// netsh and route answer in the system's language and the console's code
// page (here the OEM one: the tools have no console). The address and the
// route were already gone: their undos count as done and the journal goes.
TEST_F(WatchdogRecovery, AlreadyGoneInTheSystemsLanguageIsAccepted) {
  if (russian_system_expected()) {
    ASSERT_EQ(::GetOEMCP(), 866u);
    ASSERT_NE(system_message(1168).find("\xD0"), std::string::npos) << system_message(1168);
  }
  ASSERT_TRUE(write_file(state(), format_journal({
                                      TunInterfaceUp{"utun-nuv", "10.8.0.2", "255.255.255.0"},
                                      TunInterfaceUp{"utun-nuv", "10.8.0.3", "255.255.255.0"},
                                      RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
                                  })));
  ASSERT_TRUE(write_file(root_ + L"\\answers.txt",
                         "route\t*\t1\t\\M1168;\n"
                         "netsh\t10.8.0.3\t1\t\\M123;\n"
                         "netsh\t10.8.0.2\t1\t\\M1168;\n"));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[3], "nuv-watchdog: system_state recovery clean");
  EXPECT_EQ(tool_log().size(), 3u);
  EXPECT_FALSE(read_file(state()));
  EXPECT_FALSE(read_file(meta()));
  const auto texts = log_texts(crashed.watchdog_pid);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& text) {
                            return text.find("exit code 1 ") != std::string::npos &&
                                   text.find("already gone") != std::string::npos;
                          }),
            3);
}

// "Access denied" in the system's language is a failure: the rule stays in
// the journal. The summary shows the UTF-8 decoding of the tool's bytes; the
// log shows the words. (A rule, since Wine's firewall cannot say whether it
// is there: the tool's answer decides.)
TEST_F(WatchdogRecovery, AnAnswerInTheSystemsLanguageIsLoggedReadably) {
  const std::vector<SystemChange> journal{FirewallRuleAdded{"NUV kill switch"}};
  ASSERT_TRUE(write_file(state(), format_journal(journal)));
  ASSERT_TRUE(write_file(root_ + L"\\answers.txt", "netsh\t*\t1\t\\M5;\n"));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[3].rfind("nuv-watchdog: system_state recovery had 1 errors: "
                                   "[\"delete firewall rule failed: ",
                                   0),
            0u)
      << crashed.lines[3];
  if (russian_system_expected()) {
    EXPECT_NE(crashed.lines[3].find("\xEF\xBF\xBD"), std::string::npos) << crashed.lines[3];
  }
  EXPECT_EQ(read_file(state()), format_journal(journal));
  const std::string words = system_message(5);
  ASSERT_FALSE(words.empty());
  EXPECT_TRUE(logged(crashed, "its standard error: [\"" + words)) << words;
}

// After a proxy undo, running programs are told that the Internet settings
// changed, and the log says how that went.
TEST_F(WatchdogRecovery, AProxyUndoIsAnnouncedToRunningPrograms) {
  // Already as the record left it, so that it reads back as restored.
  SavedProxyValues proxy;
  proxy.set_dword(L"ProxyEnable", 0);
  ASSERT_TRUE(write_file(state(), format_journal({SystemProxySet{false, std::nullopt}})));
  ASSERT_TRUE(write_file(root_ + L"\\answers.txt", "reg\t*\t1\tERROR: Access is denied.\n"));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[3], "nuv-watchdog: system_state recovery clean");
  EXPECT_EQ(tool_log().size(), 1u);
  const auto texts = log_texts(crashed.watchdog_pid);
  std::string about_it;
  for (const auto& text : texts) {
    if (text.find("Internet settings") != std::string::npos) about_it += text + "\n";
  }
  // Wine's WinINet refuses INTERNET_OPTION_REFRESH without a handle (12018),
  // where Windows takes it; either outcome is one line, a failure with the
  // system's words.
  const std::regex one_line(
      "announced the Internet settings change to running programs\n|"
      "the Internet settings change was not announced: InternetSetOptionW\\(INTERNET_OPTION_"
      "[A-Z_]+\\) failed: [^\n]+ \\(os error [0-9]+\\)\n");
  EXPECT_TRUE(std::regex_match(about_it, one_line)) << about_it;
}

// A standard input that cannot be passed on, the value of a handle that the
// watchdog no longer holds: duplicating it fails. The tools then read from
// NUL and every change is undone, the proxy's too, whose record would
// otherwise leave the journal unrun, as its undo's result is ignored. The
// log says so once.
// Windows passes a client's value that names nothing on unchecked; Wine
// clears it as the process starts, so here the watchdog's inherited handle
// is closed under it once monitoring has begun. Its value is high, and the
// watchdog, which holds few handles and gets the lowest free value for a new
// one under Wine, does not reach it again.
TEST_F(WatchdogRecovery, AStandardInputThatCannotBePassedOnStillLetsEveryToolRun) {
  std::vector<SystemChange> journal = kJournal;
  journal.insert(journal.begin(), SystemProxySet{false, std::nullopt});
  ASSERT_TRUE(write_file(state(), format_journal(journal)));
  UniqueHandle input, writer;
  {
    std::vector<UniqueHandle> filler;
    for (int i = 0; i < 1000; ++i)
      filler.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ASSERT_TRUE(::CreatePipe(input.put(), writer.put(), &inheritable, 0));
    ASSERT_TRUE(::SetHandleInformation(writer.get(), HANDLE_FLAG_INHERIT, 0));
  }
  ASSERT_GT(reinterpret_cast<std::uintptr_t>(input.get()), 0x800u);
  const auto close_in_watchdog = [&input](const Watched& watched) {
    UniqueHandle moved;
    ASSERT_TRUE(::DuplicateHandle(watched.dog.process.get(), input.get(), ::GetCurrentProcess(),
                                  moved.put(), 0, FALSE,
                                  DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS));
  };
  const auto crashed = crash(Reader::kReads, {}, input.get(), close_in_watchdog);
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[3], "nuv-watchdog: system_state recovery clean");
  const auto tools = tool_log();
  ASSERT_EQ(tools.size(), 5u);
  EXPECT_EQ(tools.back().rfind("reg\t", 0), 0u) << tools.back();
  EXPECT_FALSE(read_file(state()));
  EXPECT_FALSE(read_file(meta()));
  const auto texts = log_texts(crashed.watchdog_pid);
  EXPECT_EQ(
      std::count_if(texts.begin(), texts.end(),
                    [](const std::string& text) {
                      return text.starts_with("standard input cannot be passed to the tools: ") &&
                             text.ends_with("; they read from the NUL device instead");
                    }),
      1);
}

// --recover is started by a person at a console, who may stop it there:
// unlike the monitoring form, it leaves Ctrl+C to the system. Stopped while
// an undo runs, it prints no summary and the journal keeps its record. Had
// it ignored the Ctrl+C, the tool that the Ctrl+C ended would have counted
// as done.
TEST_F(WatchdogRecovery, RecoverOnRequestStaysInterruptibleByCtrlC) {
  SharedConsole console;
  ASSERT_TRUE(console.ready());
  const std::wstring pid_file = root_ + L"\\waiting.pid";
  const std::vector<SystemChange> journal{CustomCommand{
      "wait", {narrow(program_folder() + L"nuv-test-child.exe"), "wait", narrow(pid_file)}}};
  ASSERT_TRUE(write_file(state(), format_journal(journal)));
  auto dog = start_captured(watchdog(), L"nuv-watchdog --recover", run_environment());
  for (int waited = 0; !exists(pid_file) && waited < 300; ++waited) ::Sleep(100);
  ASSERT_TRUE(exists(pid_file)) << "the undo never started";
  ::Sleep(200);  // the tool has written its id; let it reach its wait
  EXPECT_TRUE(console.press_ctrl_c_until_it_ends(dog.process.get()));
  wait_for_exit(dog.process.get(), 30'000);
  const std::string err = read_to_end(dog.stderr_read.get());
  EXPECT_EQ(err.find("system_state recovery"), std::string::npos) << err;
  EXPECT_EQ(read_file(state()), format_journal(journal));
  std::ifstream file(pid_file.c_str());
  DWORD pid = 0;
  if (file >> pid) {
    const UniqueHandle tool(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (tool.valid()) ::TerminateProcess(tool.get(), 0);
  }
}

TEST_F(WatchdogRecovery, ClosedStandardErrorStillRecoversEverything) {
  const auto crashed = crash(Reader::kClosed);
  EXPECT_EQ(crashed.exit_code, 1u);
  EXPECT_EQ(crashed.lines.size(), 1u);  // the monitoring line; nothing after reached anyone
  EXPECT_EQ(tool_log().size(), 4u);
  expect_adapters_closed();
  EXPECT_FALSE(read_file(state()));
  EXPECT_FALSE(read_file(meta()));
  // The log still has every line that standard error could not take.
  expect_logged(crashed,
                {crashed.lines[0],
                 "nuv-watchdog: parent pid=" + std::to_string(crashed.parent_pid) +
                     " disappeared without clean flag \xE2\x80\x94 running recovery",
                 orphans_line(), "nuv-watchdog: system_state recovery clean"},
                {"netsh", "route"});
}

// A client that hangs keeps our standard error open and reads nothing: the
// summary line with a tool's megabyte of output fills the pipe. The write is
// given up after 5 s and the watchdog still exits, with the failed change
// kept and counted.
TEST_F(WatchdogRecovery, StalledReaderOfStandardErrorCannotHoldTheExit) {
  ASSERT_TRUE(write_file(root_ + L"\\answers.txt",
                         "netsh\tadvfirewall\t1\t" + std::string(1 << 20, 'x') + "\n"));
  const auto crashed = crash(Reader::kStalled);
  EXPECT_EQ(crashed.exit_code, 1u);
  EXPECT_LT(crashed.death_to_exit, std::chrono::seconds(15));
  EXPECT_EQ(read_file(state()), format_journal({kJournal[2]}));
  const auto counted = parse_meta(read_file(meta()).value_or(""));
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->partial_rollback_count, 1u);
}

// A tool that leaves a process of its own running hands that process its
// standard handles. Only its own: were the watchdog's inheritable handles
// passed on too, whoever reads the watchdog's standard error would wait for
// that process instead of the watchdog.
TEST_F(WatchdogRecovery, AProcessLeftRunningByAToolDoesNotHoldTheWatchdogsStandardError) {
  const std::wstring pid_file = root_ + L"\\grandchild.pid";
  ASSERT_TRUE(write_file(
      state(), format_journal({CustomCommand{"leave a process running",
                                             {narrow(program_folder() + L"nuv-test-child.exe"),
                                              "grandchild", "0", narrow(pid_file)}}})));
  const auto crashed = crash(Reader::kReads, [&pid_file] { terminate_from_pid_file(pid_file); });
  EXPECT_TRUE(crashed.stderr_ended_with_the_watchdog)
      << "the watchdog's standard error stayed open after its exit";
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[3], "nuv-watchdog: system_state recovery clean");
  EXPECT_FALSE(read_file(state()));
}

// A tool that floods standard error fails its undo with the first mebibyte of
// it and the count of the rest: the watchdog neither holds nor prints it all.
TEST_F(WatchdogRecovery, AFloodedUndoIsReportedWithItsFirstMebibyteAndTheRestCounted) {
  const std::vector<SystemChange> flood{CustomCommand{
      "flood", {narrow(program_folder() + L"nuv-test-child.exe"), "fill", "E", "268435456", "1"}}};
  ASSERT_TRUE(write_file(state(), format_journal(flood)));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  const std::string expected =
      "nuv-watchdog: system_state recovery had 1 errors: [\"custom rollback "
      "'flood' failed: " +
      std::string(1048576, 'E') + " [267386880 more bytes]\"]";
  EXPECT_TRUE(crashed.lines[3] == expected)
      << crashed.lines[3].size() << " bytes, ending "
      << crashed.lines[3].substr(crashed.lines[3].size() -
                                 std::min<std::size_t>(60, crashed.lines[3].size()));
  EXPECT_EQ(read_file(state()), format_journal(flood));
}

// Hundreds of records with long arguments: the detail lines stop at their
// budget, which the log says once, and every message is still logged, the
// summary last, so that the log of one run stays near 1 MiB. (The program
// named is missing, so that no process is started 300 times.)
TEST_F(WatchdogRecovery, DetailLinesStopAtTheirBudgetAndTheSummaryIsStillLogged) {
  std::vector<SystemChange> many;
  for (int i = 0; i < 300; ++i) {
    many.push_back(CustomCommand{"detail " + std::to_string(i),
                                 {narrow(root_ + L"\\missing.exe"), std::string(5000, 'd')}});
  }
  ASSERT_TRUE(write_file(state(), format_journal(many)));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[3].rfind("nuv-watchdog: system_state recovery had 300 errors: [", 0), 0u);
  const auto texts = log_texts(crashed.watchdog_pid);
  EXPECT_EQ(
      std::count(texts.begin(), texts.end(),
                 "further detail lines of this run are not logged: they passed 1048576 bytes"),
      1);
  ASSERT_FALSE(texts.empty());
  EXPECT_TRUE(texts.back() == crashed.lines[3]) << "the log does not end with the summary";
  expect_logged(crashed, crashed.lines, {});
  const auto size = read_file(log_path()).value_or("").size();
  EXPECT_GT(size, std::size_t{1024 * 1024});
  EXPECT_LT(size, std::size_t{1024 * 1024} * 11 / 10);
}

// Thousands of failures: the summary keeps the true count and one element
// per failure in order, the first whole, the later ones cut to 256 bytes
// with one count of what they left out, until the list would pass 2 MiB; the
// rest are counted after it. Refused undos start no process, which keeps
// this quick. The log keeps under 5 MiB.
TEST_F(WatchdogRecovery, ManyFailuresKeepTheSummaryWithinTwoMebibytesWithTheTrueCount) {
  constexpr std::size_t kRefused = 20000;
  const std::string child = narrow(program_folder() + L"nuv-test-child.exe");
  std::vector<SystemChange> journal(kRefused, FirewallRuleAdded{"all"});
  journal.push_back(CustomCommand{"second", {child, "fill", "F", "1048676", "1"}});
  journal.push_back(CustomCommand{"first", {child, "fill", "E", "1048676", "1"}});
  ASSERT_TRUE(write_file(state(), format_journal(journal)));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  const std::string& line = crashed.lines[3];

  const std::string first =
      "\"custom rollback 'first' failed: " + std::string(1048576, 'E') + " [100 more bytes]\"";
  const std::string second_prefix = "custom rollback 'second' failed: ";
  const std::string second = "\"" + second_prefix + std::string(256 - second_prefix.size(), 'F') +
                             " [" + std::to_string(second_prefix.size() + 1048576 - 256 + 100) +
                             " more bytes]\"";
  const std::string refused = "\"netsh delete rule: refused: the name all stands for every rule\"";
  // "[", the two floods, then each refusal with its separator, and "]".
  const std::size_t listed =
      (kListTextLimit - 1 - first.size() - 2 - second.size() - 1) / (2 + refused.size());
  ASSERT_LT(listed, kRefused);
  std::string expected = "nuv-watchdog: system_state recovery had " + std::to_string(kRefused + 2) +
                         " errors: [" + first + ", " + second;
  for (std::size_t i = 0; i < listed; ++i) expected += ", " + refused;
  expected += "] (" + std::to_string(kRefused - listed) + " more errors not listed)";
  EXPECT_TRUE(line == expected) << line.size() << " bytes, ending "
                                << line.substr(line.size() -
                                               std::min<std::size_t>(80, line.size()));
  EXPECT_LE(line.size(), kListTextLimit + 100);

  // Every failed change stays for the next run.
  const auto kept = parse_journal(read_file(state()).value_or(""));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->size(), kRefused + 2);

  const auto log = read_file(log_path()).value_or("");
  EXPECT_LT(log.size(), std::size_t{5} * 1024 * 1024);
  const auto texts = log_texts(crashed.watchdog_pid);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& text) {
                            return text.rfind("further detail lines of this run are not logged",
                                              0) == 0;
                          }),
            1);
  ASSERT_FALSE(texts.empty());
  EXPECT_TRUE(texts.back() == line) << "the summary is logged whole, last";
}

// A tool's mebibyte of control bytes is six mebibytes once escaped: standard
// error gets the first message whole, as ever, and the log keeps the line's
// start and counts the rest, so that the run still writes under 5 MiB to it.
TEST_F(WatchdogRecovery, AnEscapedFloodIsPrintedWholeAndTheLogStaysWithinItsBudget) {
  const std::string child = narrow(program_folder() + L"nuv-test-child.exe");
  ASSERT_TRUE(write_file(state(), format_journal({CustomCommand{
                                      "escapes", {child, "fill", "\x1b", "1048576", "1"}}})));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  std::string escapes;
  for (int i = 0; i < 1048576; ++i) escapes += "\\u{1b}";
  const std::string expected =
      "nuv-watchdog: system_state recovery had 1 errors: [\"custom rollback 'escapes' failed: " +
      escapes + "\"]";
  EXPECT_TRUE(crashed.lines[3] == expected) << crashed.lines[3].size() << " bytes";

  const auto log = read_file(log_path()).value_or("");
  EXPECT_LT(log.size(), std::size_t{5} * 1024 * 1024);
  const auto texts = log_texts(crashed.watchdog_pid);
  ASSERT_FALSE(texts.empty());
  const std::string& logged = texts.back();
  const std::size_t kept = std::size_t{3} * 1024 * 1024;  // what the log keeps of a line
  const std::string ending = " [" + std::to_string(expected.size() - kept) + " more bytes]";
  ASSERT_GT(logged.size(), ending.size());
  EXPECT_EQ(logged.substr(logged.size() - ending.size()), ending);
  EXPECT_TRUE(logged.substr(0, logged.size() - ending.size()) == expected.substr(0, kept));
}

// After a power cut nothing watches the journal: --recover runs both steps
// at once, as after a crash, and says by its exit code that nothing is left.
TEST_F(WatchdogRecovery, RecoverOnRequestRollsBackWhatWasLeftAndExitsZero) {
  const auto answer = ask(L"--recover");
  EXPECT_EQ(answer.exit_code, 0u);
  EXPECT_EQ(answer.err,
            (std::vector<std::string>{"nuv-watchdog: running recovery on request", orphans_line(),
                                      "nuv-watchdog: system_state recovery clean"}));
  EXPECT_TRUE(answer.out.empty());
  EXPECT_EQ(tool_log().size(), 4u);
  expect_adapters_closed();
  EXPECT_FALSE(read_file(state()));
  EXPECT_FALSE(read_file(meta()));
  const auto texts = log_texts(answer.pid);
  auto next = texts.begin();
  for (const auto& line : answer.err) {
    next = std::find(next, texts.end(), line);
    ASSERT_NE(next, texts.end()) << "not logged in order: " << line;
  }

  // Nothing left: a second request finds no journal and still exits 0.
  const auto again = ask(L"--recover");
  EXPECT_EQ(again.exit_code, 0u);
  ASSERT_EQ(again.err.size(), 3u);
  EXPECT_EQ(again.err[2], "nuv-watchdog: no system_state to recover");
}

// 1: a change remains; 3: the journal is there but cannot be understood, and
// stays as it is. Misfits of the form are usage errors.
TEST_F(WatchdogRecovery, RecoverOnRequestExitCodesSayWhatIsLeft) {
  ASSERT_TRUE(
      write_file(root_ + L"\\answers.txt", "netsh\tadvfirewall\t1\tThe rule is busy.\\r\\n\n"));
  const auto failed = ask(L"--recover");
  EXPECT_EQ(failed.exit_code, 1u);
  ASSERT_EQ(failed.err.size(), 3u);
  EXPECT_EQ(failed.err[2],
            "nuv-watchdog: system_state recovery had 1 errors: "
            "[\"delete firewall rule failed: The rule is busy.\\r\\n\"]");
  EXPECT_EQ(read_file(state()), format_journal({kJournal[2]}));

  const std::string invalid = "[{\"RouteAdded\": {}}]";
  ASSERT_TRUE(write_file(state(), invalid));
  const auto unusable = ask(L"--recover");
  EXPECT_EQ(unusable.exit_code, 3u);
  ASSERT_EQ(unusable.err.size(), 3u);
  EXPECT_EQ(unusable.err[2], "nuv-watchdog: no system_state to recover");
  EXPECT_EQ(read_file(state()), invalid);

  for (const wchar_t* misfit : {L"--recover x", L"--recover 1 f", L"--plan a b"}) {
    const auto refused = ask(misfit);
    EXPECT_EQ(refused.exit_code, 2u);
    EXPECT_EQ(refused.err,
              std::vector<std::string>{"usage: nuv-watchdog <parent_pid> <clean_flag_path>"});
  }
  EXPECT_EQ(tool_log().size(), 4u) << "an unusable journal or a refused request ran a tool";
}

// While a watchdog watches its client, --recover would undo a live
// session's network: it is refused, runs nothing and touches nothing. Once
// the client has died, the watchdog recovers as ever.
TEST_F(WatchdogRecovery, RecoverOnRequestIsRefusedWhileAClientIsWatched) {
  ASSERT_TRUE(write_file(meta(), format_meta({2, 1700000000})));
  auto watched = start_watched();
  const auto refused = ask(L"--recover");
  EXPECT_EQ(refused.exit_code, 4u);
  EXPECT_EQ(refused.err,
            std::vector<std::string>{
                "nuv-watchdog: a watchdog is monitoring a running client; recovery not started"});
  EXPECT_TRUE(tool_log().empty());
  EXPECT_TRUE(wintun_log().empty());
  EXPECT_EQ(read_file(state()), format_journal(kJournal));
  EXPECT_EQ(read_file(meta()), format_meta({2, 1700000000}));

  ::TerminateProcess(watched.parent.process.get(), 1);
  EXPECT_EQ(wait_for_exit(watched.dog.process.get()), 1u);
  EXPECT_EQ(tool_log().size(), 4u);
  EXPECT_FALSE(read_file(state()));
}

// A crashed client's watchdog and a request started at the same time, retried
// on 4 as the client's guide says: the request is refused while the watchdog
// is on its way to the journal's lock, then waits for the lock, reads the
// journal afresh, and every change is undone once.
TEST_F(WatchdogRecovery, RecoverOnRequestBesideACrashRecoveryUndoesEachChangeOnce) {
  auto watched = start_watched(L"700");
  ::TerminateProcess(watched.parent.process.get(), 1);
  const std::string disappeared = read_line(watched.dog.stderr_read.get());
  EXPECT_NE(disappeared.find("disappeared without clean flag"), std::string::npos);
  auto rest = std::async(std::launch::async,
                         [&watched] { return read_to_end(watched.dog.stderr_read.get()); });
  Answer request = ask(L"--recover");
  for (int retries = 0; request.exit_code == 4 && retries < 60; ++retries) {
    EXPECT_EQ(request.err, std::vector<std::string>{"nuv-watchdog: another recovery of this "
                                                    "journal is still running; recovery not "
                                                    "started"});
    ::Sleep(500);
    request = ask(L"--recover");
  }
  EXPECT_EQ(wait_for_exit(watched.dog.process.get()), 1u);
  const auto crash_lines = split_lines(rest.get());

  EXPECT_EQ(request.exit_code, 0u);
  std::vector<std::string> tools = tool_log();
  std::sort(tools.begin(), tools.end());
  EXPECT_EQ(std::adjacent_find(tools.begin(), tools.end()), tools.end()) << "a change undone twice";
  EXPECT_EQ(tools.size(), 4u);
  ASSERT_EQ(crash_lines.size(), 2u);
  ASSERT_EQ(request.err.size(), 3u);
  // One of the two found the journal, the other found it gone.
  const std::vector<std::string> summaries{crash_lines[1], request.err[2]};
  EXPECT_EQ(
      std::count(summaries.begin(), summaries.end(), "nuv-watchdog: system_state recovery clean"),
      1);
  EXPECT_EQ(
      std::count(summaries.begin(), summaries.end(), "nuv-watchdog: no system_state to recover"),
      1);
  EXPECT_FALSE(read_file(state()));
}

// The session after a crash: while the old watchdog is slowed in its adapter
// step, the relaunched client's --recover is refused, since that recovery may
// still run. A client that starts its new watchdog and journals its first
// change all the same (against its guide) keeps that change: the old
// watchdog finds the new one monitoring right before it would read the
// journal, and leaves it alone.
TEST_F(WatchdogRecovery, HandoverACrashRecoveryNeverTouchesTheNextSessionsChange) {
  ASSERT_TRUE(write_file(meta(), format_meta({2, 5})));
  auto old = start_watched(std::nullopt, nullptr, L"150");  // 66 openings: about 10 s
  ::TerminateProcess(old.parent.process.get(), 1);
  EXPECT_NE(read_line(old.dog.stderr_read.get()).find("disappeared without clean flag"),
            std::string::npos);
  auto rest =
      std::async(std::launch::async, [&old] { return read_to_end(old.dog.stderr_read.get()); });

  const auto in_the_gap = ask(L"--recover");
  EXPECT_EQ(in_the_gap.exit_code, 4u);
  EXPECT_EQ(in_the_gap.err,
            std::vector<std::string>{"nuv-watchdog: another recovery of this journal is still "
                                     "running; recovery not started"});

  auto next = start_watched();
  const std::string next_session =
      format_journal({RouteAdded{"10.99.0.0/16", "10.99.0.1", "utun-nuv", 1u}});
  ASSERT_TRUE(write_file(state(), next_session));

  EXPECT_EQ(wait_for_exit(old.dog.process.get()), 1u);
  EXPECT_EQ(split_lines(rest.get()),
            (std::vector<std::string>{orphans_line(),
                                      "nuv-watchdog: system_state left alone: a watchdog is "
                                      "monitoring a running client"}));
  EXPECT_TRUE(tool_log().empty()) << "a tool ran for the next session's change";
  EXPECT_EQ(read_file(state()), next_session);
  EXPECT_EQ(read_file(meta()), format_meta({2, 5}));
  // Three processes wrote to the log; the old watchdog's line says why. The
  // new watchdog holds the log open for writing until it ends.
  ::TerminateProcess(next.dog.process.get(), 1);
  ::WaitForSingleObject(next.dog.process.get(), 10'000);
  const std::string log = read_file(log_path()).value_or("");
  EXPECT_NE(
      log.find("[" + std::to_string(old.dog.pid) + "] journal " + list_notation({narrow(state())}) +
               " left alone with the meta file: a watchdog is monitoring a running client"),
      std::string::npos)
      << log;
  ::TerminateProcess(next.parent.process.get(), 1);
}

// The same after an orderly end, when the relaunched client deletes the old
// flag at once, before the old watchdog has looked for it: the old one takes
// the end for a crash, and still leaves the next session's change alone.
TEST_F(WatchdogRecovery, HandoverAFlagDeletedTooEarlyStillLeavesTheNextSessionAlone) {
  auto old = start_watched(std::nullopt, nullptr, L"150");
  const std::wstring flag = root_ + L"\\clean.flag";
  ASSERT_TRUE(write_file(flag, ""));
  ::TerminateProcess(old.parent.process.get(), 0);
  ::WaitForSingleObject(old.parent.process.get(), INFINITE);
  ASSERT_TRUE(::DeleteFileW(flag.c_str()));  // within the old watchdog's half second
  auto rest =
      std::async(std::launch::async, [&old] { return read_to_end(old.dog.stderr_read.get()); });
  auto next = start_watched();
  const std::string next_session = format_journal({FirewallRuleAdded{"NUV next session"}});
  ASSERT_TRUE(write_file(state(), next_session));

  EXPECT_EQ(wait_for_exit(old.dog.process.get()), 1u);
  const auto lines = split_lines(rest.get());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("disappeared without clean flag"), std::string::npos);
  EXPECT_EQ(lines[2],
            "nuv-watchdog: system_state left alone: a watchdog is monitoring a running client");
  EXPECT_TRUE(tool_log().empty());
  EXPECT_EQ(read_file(state()), next_session);
  ::TerminateProcess(next.dog.process.get(), 1);
  ::TerminateProcess(next.parent.process.get(), 1);
}

// Two clients of one journal end at once: their watchdogs queue on the lock
// and recover one after the other. Neither takes the other for a live
// session; each change is undone once, the failing one by both, and both
// partial rollbacks are counted.
TEST_F(WatchdogRecovery, HandoverWatchdogsOfOneJournalQueueAndCountEachPartialRollback) {
  ASSERT_TRUE(
      write_file(root_ + L"\\answers.txt", "netsh\tadvfirewall\t1\tThe rule is busy.\\r\\n\n"));
  auto first = start_watched();
  auto second = start_watched();
  ::TerminateProcess(first.parent.process.get(), 1);
  ::TerminateProcess(second.parent.process.get(), 1);
  auto first_rest =
      std::async(std::launch::async, [&first] { return read_to_end(first.dog.stderr_read.get()); });
  auto second_rest = std::async(std::launch::async,
                                [&second] { return read_to_end(second.dog.stderr_read.get()); });
  EXPECT_EQ(wait_for_exit(first.dog.process.get()), 1u);
  EXPECT_EQ(wait_for_exit(second.dog.process.get()), 1u);
  for (const auto& lines : {split_lines(first_rest.get()), split_lines(second_rest.get())}) {
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind("nuv-watchdog: system_state recovery had 1 errors: ", 0), 0u)
        << lines[2];
  }
  std::vector<std::string> tools = tool_log();
  std::sort(tools.begin(), tools.end());
  EXPECT_EQ(tools, (std::vector<std::string>{
                       "netsh\tadvfirewall\tfirewall\tdelete\trule\tname=NUV kill switch",
                       "netsh\tadvfirewall\tfirewall\tdelete\trule\tname=NUV kill switch",
                       "netsh\tinterface\tip\tadd\tdns\tWi-Fi\t1.1.1.1",
                       "netsh\tinterface\tip\tset\tdns\tWi-Fi\tstatic\t192.168.1.1",
                       "route\tdelete\t0.0.0.0/1\t10.8.0.1",
                   }));
  EXPECT_EQ(read_file(state()), format_journal({kJournal[2]}));
  const auto counted = parse_meta(read_file(meta()).value_or(""));
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->partial_rollback_count, 2u);
}

// A lock that cannot be had for another reason than the time (here another
// object holds its name): the request is refused as ever, and the log keeps
// the system's reason.
TEST_F(WatchdogRecovery, RecoverOnRequestLogsWhyTheLockCouldNotBeHad) {
  const auto key = journal_name_key(narrow(state()));
  ASSERT_TRUE(key);
  const std::u16string name = journal_lock_name(*key);
  const UniqueHandle squatter(
      ::CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>(name.c_str())));
  ASSERT_TRUE(squatter.valid());
  const auto refused = ask(L"--recover");
  EXPECT_EQ(refused.exit_code, 4u);
  EXPECT_EQ(refused.err,
            std::vector<std::string>{"nuv-watchdog: another recovery of this journal is still "
                                     "running; recovery not started"});
  const auto texts = log_texts(refused.pid);
  EXPECT_NE(
      std::find(texts.begin(), texts.end(),
                "journal lock not had: " + system_message(ERROR_INVALID_HANDLE) + " (os error 6)"),
      texts.end());
  EXPECT_TRUE(tool_log().empty());
}

// Each undo is judged by this machine's own state, read back after its tool
// ran: a tool's "yes" that left the change in place is a failure, with a
// message that says what is still there; a change read back as gone is
// undone, whatever its tool answered, on whichever stream; a tool's "no" for
// a change still in place keeps its own message. The route and the address
// in place are this machine's own (Wine lists the Linux side's), so that
// nothing here needs to change the network.
TEST_F(WatchdogRecovery, ReadBackTheMachinesStateOverrulesTheToolsAnswer) {
  const ReadBackSystem machine = windows_read_back_system();
  const auto routes = machine.routes();
  ASSERT_TRUE(routes) << routes.error();
  const auto route = std::find_if(routes->begin(), routes->end(), [](const RouteRow& row) {
    return row.destination.family == IpAddress::Family::kV4;
  });
  ASSERT_NE(route, routes->end()) << "this machine lists no IPv4 route";
  const IpAddress on_link{};
  const std::optional<std::string> gateway =
      route->next_hop == on_link ? std::nullopt : std::optional(ip_address_text(route->next_hop));
  const std::string live_route =
      ip_address_text(route->destination) + "/" + std::to_string(route->prefix_length);
  const auto addresses = machine.unicast_addresses();
  ASSERT_TRUE(addresses) << addresses.error();
  const auto loopback = std::find_if(
      addresses->begin(), addresses->end(),
      [](const AddressRow& row) { return row.address == parse_ip_address("127.0.0.1"); });
  ASSERT_NE(loopback, addresses->end());
  const auto interface = machine.interface_by_index(loopback->interface_index);
  ASSERT_TRUE(interface && *interface);
  const std::string alias = (*interface)->alias;

  // The proxy points somewhere the record did not leave it; reg says yes
  // and writes nothing.
  SavedProxyValues proxy;
  proxy.set_dword(L"ProxyEnable", 1);

  ASSERT_TRUE(write_file(state(), format_journal({
                                      TunInterfaceUp{alias, "127.0.0.1", "255.0.0.0"},
                                      RouteAdded{live_route, gateway, alias, 1u},
                                      RouteAdded{"198.51.100.0/24", "10.8.0.1", "utun-nuv", 5u},
                                      TunInterfaceUp{"nuv-gone", "10.8.0.2", "255.255.255.0"},
                                      SystemProxySet{false, std::nullopt},
                                  })));
  ASSERT_TRUE(write_file(root_ + L"\\answers.txt",
                         "netsh\t127.0.0.1\t1\tAccess is denied.\\r\\n\n"
                         "route\t198.51.100.0/24\t1\t\tUnverst\xC3\xA4ndlich.\\r\\n\n"
                         "netsh\t10.8.0.2\t1\t\t\xD0\xA7\xD1\x82\xD0\xBE?\\r\\n\n"));
  const auto crashed = crash();
  EXPECT_EQ(crashed.exit_code, 1u);
  ASSERT_EQ(crashed.lines.size(), 4u);
  EXPECT_EQ(crashed.lines[3],
            "nuv-watchdog: system_state recovery had 3 errors: ["
            "\"proxy restore failed: the proxy settings are still not the original ones\", "
            "\"route delete failed: the route is still in the routing table\", "
            "\"netsh delete address failed: Access is denied.\\r\\n\"]");
  EXPECT_EQ(tool_log().size(), 5u) << "every tool still runs";
  EXPECT_EQ(read_file(state()), format_journal({TunInterfaceUp{alias, "127.0.0.1", "255.0.0.0"},
                                                RouteAdded{live_route, gateway, alias, 1u},
                                                SystemProxySet{false, std::nullopt}}));
  const auto texts = log_texts(crashed.watchdog_pid);
  const auto count = [&texts](const std::string& part) {
    return std::count_if(texts.begin(), texts.end(), [&part](const std::string& text) {
      return text.find(part) != std::string::npos;
    });
  };
  EXPECT_EQ(count("read back: already gone"), 2);
  EXPECT_EQ(count("read back: in place"), 3);
  EXPECT_EQ(count("this overrules the tool's answer"), 4);
}

// Another process (a scanner, a relaunched client) holds the journal open
// without delete sharing, so the new journal cannot be renamed over it nor
// the journal deleted. The log's outcome line, the journal and the meta file
// agree on what happened, with the system's texts of the refusals.
TEST_F(WatchdogRecovery, AJournalHeldOpenByAnotherProcessIsReportedAsItIsOnDisk) {
  const std::string original = format_journal(kJournal);
  struct Case {
    const char* name;
    DWORD sharing;                             // the other process's
    bool rule_fails;                           // else every undo succeeds
    std::string outcome;                       // the start of the log's outcome line
    std::optional<std::string> journal_after;  // absent: as it was
    bool meta_counted;
  };
  const std::vector<Case> cases{
      {"shares writing: written in place", FILE_SHARE_READ | FILE_SHARE_WRITE, true,
       "journal rewritten in place with 1 record, the changes that failed, since the new journal "
       "could not be renamed over it: ",
       format_journal({kJournal[2]}), true},
      {"shares reading only: left as it was", FILE_SHARE_READ, true,
       "journal and meta file left as they were, the journal with every record: the new journal "
       "could not be renamed over it: ",
       std::nullopt, false},
      {"every undo succeeds: not deleted", FILE_SHARE_READ | FILE_SHARE_WRITE, false,
       "journal and meta file left as they were, the journal with every record: every change was "
       "undone, but the journal could not be deleted: ",
       std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(write_file(state(), original));
    ASSERT_TRUE(write_file(meta(), format_meta({2, 5})));
    ::DeleteFileW(log_path().c_str());
    ASSERT_TRUE(write_file(root_ + L"\\answers.txt",
                           c.rule_fails ? "netsh\tadvfirewall\t1\tThe rule is busy.\\r\\n\n" : ""));
    Answer answer;
    {
      const UniqueFileHandle held(::CreateFileW(state().c_str(), GENERIC_READ, c.sharing, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(held.valid());
      answer = ask(L"--recover");
    }
    EXPECT_EQ(answer.exit_code, 1u) << "a change or the journal remains";
    EXPECT_EQ(read_file(state()), c.journal_after.value_or(original));
    const auto counted = parse_meta(read_file(meta()).value_or(""));
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->partial_rollback_count, c.meta_counted ? 3u : 2u);
    EXPECT_FALSE(exists(state() + L".tmp"));
    EXPECT_FALSE(exists(meta() + L".tmp"));

    const auto texts = log_texts(answer.pid);
    const auto line = std::find_if(texts.begin(), texts.end(), [&c](const std::string& text) {
      return text.rfind(c.outcome, 0) == 0;
    });
    ASSERT_NE(line, texts.end()) << "no outcome line starting " << c.outcome;
    // The system's own words and code for each refusal, never "rewritten"
    // when it was not.
    EXPECT_NE(line->find("(os error "), std::string::npos) << *line;
    if (c.sharing == FILE_SHARE_READ) {
      EXPECT_NE(line->find("; nor could it be opened to be written in place: " +
                           system_message(ERROR_SHARING_VIOLATION) + " (os error 32)"),
                std::string::npos)
          << *line;
    }
    EXPECT_FALSE(std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
      return text.rfind("journal rewritten with", 0) == 0 ||
             text.rfind("journal and meta file deleted", 0) == 0;
    }));
    ::DeleteFileW((root_ + L"\\tools.log").c_str());
  }
}

// A client may hold its journal open for writing, sharing reading, writing
// and deleting, when the watchdog comes to read it: --plan and a recovery
// still read it, and the recovery undoes every change.
TEST_F(WatchdogRecovery, AJournalTheClientHoldsOpenForWritingIsStillRead) {
  const UniqueFileHandle held(::CreateFileW(state().c_str(), GENERIC_WRITE | DELETE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
  ASSERT_TRUE(held.valid());
  const auto plan = ask(L"--plan");
  EXPECT_EQ(plan.exit_code, 0u);
  ASSERT_FALSE(plan.out.empty());
  EXPECT_TRUE(plan.out[0].starts_with("journal " + list_notation({narrow(state())}) +
                                      " holds 3 records; now "))
      << plan.out[0];

  ask(L"--recover");
  EXPECT_EQ(tool_log().size(), 4u) << "every undo ran";
}

// --plan shows a command that cannot start as such, with the very text that
// the recovery's launch then fails with: a program path that is not there,
// and a batch script with a line break in an argument.
TEST_F(WatchdogRecovery, PlanSaysWhichCommandsCannotStartInTheRecoverysWords) {
  const std::string folder = narrow(root_);
  const std::string nowhere = folder + "\\nowhere\\tool.exe";
  ASSERT_TRUE(write_file(root_ + L"\\fix.bat", "@exit /b 0\r\n"));
  ASSERT_TRUE(write_file(state(), format_journal({
                                      CustomCommand{"elsewhere", {nowhere, "x"}},
                                      CustomCommand{"script", {"fix.bat", "a\nb"}},
                                  })));
  const std::string path_not_found = system_message(ERROR_PATH_NOT_FOUND) + " (os error 3)";
  const std::string bad_batch_argument = "batch file arguments are invalid";
  const auto plan = ask(L"--plan");
  EXPECT_EQ(plan.exit_code, 0u);
  EXPECT_TRUE(plan.err.empty());
  ASSERT_EQ(plan.out.size(), 6u);
  EXPECT_EQ(plan.out[2], "2. CustomCommand: " + folder + "\\fix.bat " + list_notation({"a\nb"}) +
                             " (cannot be started: " + bad_batch_argument + ")");
  EXPECT_EQ(plan.out[4], "1. CustomCommand: " + nowhere + R"( ["x"] (cannot be started: )" +
                             path_not_found + ")");

  const auto recovered = ask(L"--recover");
  EXPECT_EQ(recovered.exit_code, 1u);
  ASSERT_FALSE(recovered.err.empty());
  const std::string& summary = recovered.err.back();
  for (const std::string& error : {"custom rollback 'script': " + bad_batch_argument,
                                   "custom rollback 'elsewhere': " + path_not_found}) {
    EXPECT_NE(summary.find(error), std::string::npos) << summary;
  }
}

// --plan reads the journal and shows each undo as the program search finds
// it now: the stand-ins beside the program, and under each record its state
// on this machine. It starts no tool, loads no wintun.dll, and writes,
// creates and deletes no file, the log included.
TEST_F(WatchdogRecovery, PlanShowsTheUndosAndChangesNothing) {
  ASSERT_TRUE(write_file(meta(), format_meta({2, 1700000000})));
  const auto journal_before = read_file(state());
  const auto meta_before = read_file(meta());
  const auto answer = ask(L"--plan");
  EXPECT_EQ(answer.exit_code, 0u);
  EXPECT_TRUE(answer.err.empty());
  const std::string folder = narrow(root_);
  const auto quoted = [](const std::string& path) { return list_notation({path}); };
  // Wine's firewall answers "not implemented", in the system's language.
  const std::string firewall =
      "3. FirewallRuleAdded: now cannot tell: the firewall answered 0x80004001";
  std::vector<std::string> shown = answer.out;
  for (auto& line : shown) {
    if (line.starts_with(firewall)) line = firewall;
  }
  EXPECT_EQ(
      shown,
      (std::vector<std::string>{
          "journal " + quoted(narrow(state())) +
              " holds 3 records; now 0 in place, 1 already gone, 2 cannot tell",
          "adapters: a recovery first tries the client's 66 adapter names",
          "3. FirewallRuleAdded: " + folder +
              R"(\netsh.exe ["advfirewall", "firewall", "delete", "rule", "name=NUV kill switch"])",
          firewall,
          "2. DnsOverridden: " + folder +
              R"(\netsh.exe ["interface", "ip", "set", "dns", "Wi-Fi", "static", "192.168.1.1"])",
          "2. DnsOverridden: " + folder +
              R"(\netsh.exe ["interface", "ip", "add", "dns", "Wi-Fi", "1.1.1.1"] (its result is ignored))",
          R"(2. DnsOverridden: now cannot tell: no such interface: "Wi-Fi")",
          "1. RouteAdded: " + folder + R"(\route.exe ["delete", "0.0.0.0/1", "10.8.0.1"])",
          "1. RouteAdded: now already gone",
          "meta " + quoted(narrow(meta())) +
              ": partial_rollback_count 2, last_partial_rollback_unix 1700000000",
      }));
  EXPECT_EQ(read_file(state()), journal_before);
  EXPECT_EQ(read_file(meta()), meta_before);
  for (const std::wstring& made :
       {log_path(), state() + L".tmp", meta() + L".tmp", root_ + L"\\tools.log",
        root_ + L"\\wintun.log", root_ + L"\\temp\\nuv-wintun-cleanup.lock"}) {
    EXPECT_FALSE(exists(made)) << narrow(made);
  }

  // A file named to be checked: a copy that is there, and one that is not.
  const std::wstring sent = root_ + L"\\sent.json";
  ASSERT_TRUE(write_file(sent, *journal_before));
  const auto checked = ask(L"--plan \"" + sent + L"\"");
  EXPECT_EQ(checked.exit_code, 0u);
  ASSERT_FALSE(checked.out.empty());
  EXPECT_EQ(checked.out[0], "journal " + quoted(narrow(sent)) +
                                " holds 3 records; on this machine, which need not be the one "
                                "that wrote it, 0 in place, 1 already gone, 2 cannot tell");
  const auto missing = ask(L"--plan \"" + root_ + L"\\none.json\"");
  EXPECT_EQ(missing.exit_code, 3u);
  ASSERT_FALSE(missing.out.empty());
  EXPECT_NE(missing.out[0].find("cannot be read: "), std::string::npos) << missing.out[0];
  EXPECT_NE(missing.out[0].find("(os error 2)"), std::string::npos) << missing.out[0];
  ASSERT_TRUE(write_file(sent, "[{\"FirewallRuleAdded\": {\"rule_name\": 1}}]"));
  EXPECT_EQ(ask(L"--plan \"" + sent + L"\"").exit_code, 3u);
  EXPECT_FALSE(exists(log_path()));
}

}  // namespace
}  // namespace nuv::test

#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "state/journal_format.h"
#include "support/fake_program_search.h"
#include "support/memory_state_files.h"
#include "support/recording.h"
#include "watchdog/exit_codes.h"
#include "watchdog/recovery_plan.h"

namespace nuv {
namespace {

using test::RecordingSink;

const std::string kState = R"(C:\Users\me\AppData\Roaming\NUV Client\system_state.json)";
const std::string kJournalLine =
    R"(journal ["C:\\Users\\me\\AppData\\Roaming\\NUV Client\\system_state.json"])";
const std::string kAdapters = "adapters: a recovery first tries the client's 66 adapter names";

// Files in memory, only read; the tools in the system folder, a script in
// C:\Tools, and the system's last check answered from the same table: a file
// that is not there cannot be started.
struct FakeRecoveryPlanSystem {
  std::optional<std::string> appdata = R"(C:\Users\me\AppData\Roaming)";
  test::MemoryStateFiles files;
  test::FakeProgramSearchSystem search;

  FakeRecoveryPlanSystem() {
    search.files = {u"C:\\Windows\\system32\\netsh.exe", u"C:\\Windows\\system32\\route.exe",
                    u"C:\\Windows\\system32\\cmd.exe", u"C:\\Tools\\fix.bat"};
  }

  PlanSystem seams() {
    return {
        .appdata = [this] { return appdata; },
        .files = files.seam(),
        .program_search = search,
        .check_application =
            [this](const std::u16string& application) -> Result<void, LaunchError> {
          if (search.files.count(application)) return {};
          return unexpected(LaunchError::os_error(3, kPathNotFound));
        },
        .out_of_memory_text = kOutOfMemory,
    };
  }
  static constexpr const char* kPathNotFound =
      "The system cannot find the path specified. (os error 3)";
  static constexpr const char* kOutOfMemory =
      "Not enough memory resources are available to process this command. (os error 8)";
};

TEST(RecoveryPlan, ShowsEveryCommandNewestFirstWithTheMeta) {
  FakeRecoveryPlanSystem system;
  system.files.files[kState] = format_journal({
      RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
      DnsOverridden{"Wi-Fi", std::nullopt, {"192.168.1.1", "1.1.1.1"}},
      TunInterfaceUp{"utun-nuv", "gateway=all", "255.255.255.0"},
      CustomCommand{"nothing", {}},
      CustomCommand{"gone", {"missing", "a b"}},
      FirewallRuleAdded{"NUV kill switch"},
  });
  system.files.files[kState + ".meta"] = format_meta({3, 1765000000});
  RecordingSink out;
  EXPECT_EQ(show_recovery_plan(PlanRequest{}, system.seams(), out), kExitClean);
  EXPECT_EQ(
      out.lines,
      (std::vector<std::string>{
          kJournalLine + " holds 6 records",
          kAdapters,
          R"(6. FirewallRuleAdded: C:\Windows\system32\netsh.exe ["advfirewall", "firewall", "delete", "rule", "name=NUV kill switch"])",
          R"(5. CustomCommand: missing ["a b"] (cannot be started: program not found))",
          "4. CustomCommand: nothing to run",
          R"(3. TunInterfaceUp: netsh delete address: refused: a named parameter in place of the address)",
          R"(2. DnsOverridden: C:\Windows\system32\netsh.exe ["interface", "ip", "set", "dns", "Wi-Fi", "static", "192.168.1.1"])",
          R"(2. DnsOverridden: C:\Windows\system32\netsh.exe ["interface", "ip", "add", "dns", "Wi-Fi", "1.1.1.1"] (its result is ignored))",
          R"(1. RouteAdded: C:\Windows\system32\route.exe ["delete", "0.0.0.0/1", "10.8.0.1"])",
          R"(meta ["C:\\Users\\me\\AppData\\Roaming\\NUV Client\\system_state.json.meta"]: partial_rollback_count 3, last_partial_rollback_unix 1765000000)",
      }));
}

// Exit 0 for a client's journal that is absent, empty or valid; 3 for one
// that cannot be read or understood, for no APPDATA, and for a file named to
// be checked that is not there.
TEST(RecoveryPlan, ExitCodeChecksTheJournal) {
  struct Case {
    std::optional<std::string> path;     // --plan's argument
    std::optional<std::string> journal;  // the text at the journal's path
    bool unreadable;
    int code;
    std::string first_line;
  };
  const std::string given = R"(D:\sent by a user.json)";
  const std::string given_line = R"(journal ["D:\\sent by a user.json"])";
  const std::vector<Case> cases{
      {std::nullopt, std::nullopt, false, kExitClean,
       kJournalLine + " cannot be read: not found (os error 2)"},
      {std::nullopt, " [ ] ", false, kExitClean, kJournalLine + " holds 0 records"},
      {std::nullopt, "[]", true, kExitJournalUnusable,
       kJournalLine + " cannot be read: refused (os error 5)"},
      {std::nullopt, "\xEF\xBB\xBF[]", false, kExitJournalUnusable,
       kJournalLine + " is invalid: it starts with a byte-order mark"},
      {std::nullopt, "[\xFF]", false, kExitJournalUnusable,
       kJournalLine + " is invalid: it is not UTF-8"},
      {std::nullopt, "[{\"NewKind\": {}}]", false, kExitJournalUnusable,
       kJournalLine + " is invalid: "},
      {given, std::nullopt, false, kExitJournalUnusable,
       given_line + " cannot be read: not found (os error 2)"},
      {given, "[]", false, kExitClean, given_line + " holds 0 records"},
  };
  for (const auto& c : cases) {
    FakeRecoveryPlanSystem system;
    const std::string path = c.path.value_or(kState);
    if (c.journal) system.files.files[path] = *c.journal;
    if (c.unreadable) system.files.unreadable.insert(path);
    RecordingSink out;
    EXPECT_EQ(show_recovery_plan(PlanRequest{c.path}, system.seams(), out), c.code) << c.first_line;
    ASSERT_GE(out.lines.size(), 2u);
    EXPECT_TRUE(out.lines[0].starts_with(c.first_line)) << out.lines[0];
    EXPECT_EQ(out.lines[1], kAdapters);
  }

  FakeRecoveryPlanSystem unset;
  unset.appdata.reset();
  RecordingSink out;
  EXPECT_EQ(show_recovery_plan(PlanRequest{}, unset.seams(), out), kExitJournalUnusable);
  EXPECT_EQ(out.lines, std::vector<std::string>{"no journal: APPDATA is not set"});
  // With a path, APPDATA is not needed.
  unset.files.files["j.json"] = "[]";
  EXPECT_EQ(show_recovery_plan(PlanRequest{"j.json"}, unset.seams(), out), kExitClean);
}

// A command that the runner would fail to start is shown with the runner's
// own reason: the program search, the command line (a batch script's
// stricter one included) and the file that the system would start.
TEST(RecoveryPlan, ACommandThatCannotStartSaysWhyInTheRunnersWords) {
  struct Case {
    std::vector<std::string> command;
    std::string line;  // after "1. CustomCommand: "
  };
  const std::vector<Case> cases{
      {{"fix.bat", "ok"}, R"(C:\Tools\fix.bat ["ok"])"},
      {{"missing", "a b"}, R"(missing ["a b"] (cannot be started: program not found))"},
      {{R"(C:\nowhere\tool.exe)", "x"},
       R"(C:\nowhere\tool.exe ["x"] (cannot be started: )" +
           std::string(FakeRecoveryPlanSystem::kPathNotFound) + ")"},
      {{"fix.bat", "a\nb"},
       R"(C:\Tools\fix.bat ["a\nb"] (cannot be started: batch file arguments are invalid))"},
      {{"fix.bat", "a\rb"},
       R"(C:\Tools\fix.bat ["a\rb"] (cannot be started: batch file arguments are invalid))"},
      {{"netsh", std::string("a\0b", 3)},
       R"(C:\Windows\system32\netsh.exe ["a\0b"] (cannot be started: nul byte found in provided data))"},
      {{"fix\\"}, R"(fix\ [] (cannot be started: program path has no file name))"},
  };
  for (const auto& c : cases) {
    FakeRecoveryPlanSystem system;
    system.files.files[kState] = format_journal({CustomCommand{"fix", c.command}});
    RecordingSink out;
    EXPECT_EQ(show_recovery_plan(PlanRequest{}, system.seams(), out), kExitClean);
    ASSERT_EQ(out.lines.size(), 3u);
    EXPECT_EQ(out.lines[2], "1. CustomCommand: " + c.line);
  }
}

// Memory running out anywhere in the plan (reading the journal, reading the
// meta file after the commands were shown, the program search) leaves one
// line, in the system's words had beforehand, and exit 3.
TEST(RecoveryPlan, RunningOutOfMemoryLeavesOneLineAndExitsThree) {
  const std::string given = R"(D:\sent by a user.json)";
  struct Case {
    std::optional<std::string> path;  // --plan's argument
    std::string runs_out;             // the path whose read throws, or "search"
    std::string journal_line;
  };
  const std::vector<Case> cases{
      {std::nullopt, kState, kJournalLine},
      {std::nullopt, kState + ".meta", kJournalLine},
      {std::nullopt, "search", kJournalLine},
      {given, given, R"(journal ["D:\\sent by a user.json"])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runs_out);
    FakeRecoveryPlanSystem system;
    const std::string path = c.path.value_or(kState);
    system.files.files[path] = format_journal({FirewallRuleAdded{"NUV kill switch"}});
    system.files.files[path + ".meta"] = format_meta({1, 2});
    PlanSystem seams = system.seams();
    seams.files.read = [&c, read = seams.files.read](const std::string& read_path) {
      if (read_path == c.runs_out) throw std::bad_alloc();
      return read(read_path);
    };
    if (c.runs_out == "search") {
      seams.program_search.exists = [](const std::u16string&) -> bool { throw std::bad_alloc(); };
    }
    RecordingSink out;
    EXPECT_EQ(show_recovery_plan(PlanRequest{c.path}, seams, out), kExitJournalUnusable);
    EXPECT_EQ(out.lines,
              std::vector<std::string>{c.journal_line + " cannot be read: out of memory: " +
                                       FakeRecoveryPlanSystem::kOutOfMemory});
  }
}

// Each record's state now, on a line of its own under its command lines,
// and a count of each in the first line; with a path, the first line says
// that the states are this machine's.
TEST(RecoveryPlan, StatesReadBackNowFollowEachRecordAndAreCounted) {
  FakeRecoveryPlanSystem system;
  const std::vector<SystemChange> journal{
      RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
      FirewallRuleAdded{"NUV kill switch"},
      CustomCommand{"nothing", {}},
      SystemProxySet{false, std::nullopt},
  };
  system.files.files[kState] = format_journal(journal);
  PlanSystem seams = system.seams();
  std::vector<std::string> asked;
  seams.read_back = [&asked](const SystemChange& change) -> ReadBack {
    asked.emplace_back(std::to_string(change.index()));
    if (std::holds_alternative<RouteAdded>(change)) return {ChangeState::kInPlace, "route facts"};
    if (std::holds_alternative<FirewallRuleAdded>(change)) {
      return {ChangeState::kCannotTell, "the firewall answered 0x80004001"};
    }
    if (std::holds_alternative<CustomCommand>(change)) return {};
    return {ChangeState::kGone, "proxy facts"};
  };
  RecordingSink out;
  EXPECT_EQ(show_recovery_plan(PlanRequest{}, seams, out), kExitClean);
  EXPECT_EQ(
      out.lines,
      (std::vector<std::string>{
          kJournalLine + " holds 4 records; now 1 in place, 1 already gone, 2 cannot tell",
          kAdapters,
          R"(4. SystemProxySet: reg ["add", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f"] (cannot be started: program not found) (its result is ignored))",
          "4. SystemProxySet: now already gone",
          "3. CustomCommand: nothing to run",
          "3. CustomCommand: now cannot tell: what a custom command changed is not read back",
          R"(2. FirewallRuleAdded: C:\Windows\system32\netsh.exe ["advfirewall", "firewall", "delete", "rule", "name=NUV kill switch"])",
          "2. FirewallRuleAdded: now cannot tell: the firewall answered 0x80004001",
          R"(1. RouteAdded: C:\Windows\system32\route.exe ["delete", "0.0.0.0/1", "10.8.0.1"])",
          "1. RouteAdded: now in place",
      }));
  EXPECT_EQ(asked.size(), 4u) << "each record read back once";

  system.files.files["sent.json"] = format_journal({journal[0]});
  RecordingSink sent;
  EXPECT_EQ(show_recovery_plan(PlanRequest{"sent.json"}, seams, sent), kExitClean);
  EXPECT_EQ(sent.lines.at(0), R"(journal ["sent.json"] holds 1 record; on this machine, which )"
                              "need not be the one that wrote it, 1 in place, 0 already gone, "
                              "0 cannot tell");
}

TEST(RecoveryPlan, AnInvalidMetaFileIsSaidToCountFromZero) {
  FakeRecoveryPlanSystem system;
  system.files.files[kState] = "[]";
  system.files.files[kState + ".meta"] = "{}";
  RecordingSink out;
  EXPECT_EQ(show_recovery_plan(PlanRequest{}, system.seams(), out), kExitClean);
  EXPECT_EQ(
      out.lines.back(),
      R"(meta ["C:\\Users\\me\\AppData\\Roaming\\NUV Client\\system_state.json.meta"] is invalid; a recovery counts from 0)");
}

}  // namespace
}  // namespace nuv

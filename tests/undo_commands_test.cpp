#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/utf.h"

#include "platform/rollback/undo_commands.h"
#include "support/fake_runner.h"
#include "support/recording.h"
#include "support/result_values.h"

namespace nuv {
namespace {

using Lines = std::vector<std::string>;

struct Undo {
  test::FakeRunner fake;
  std::optional<std::string> run(const SystemChange& change) {
    return test::error_of(undo_change(change, fake.runner()));
  }
};

// Code page 866, the OEM code page of a Russian system, for the Cyrillic
// letters and ASCII; any other byte does not decode, as a stand-in for a byte
// that a code page leaves undefined.
std::optional<std::string> read_866(std::string_view bytes) {
  std::u16string text;
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      text += static_cast<char16_t>(b);
    } else if (b <= 0xAF) {
      text += static_cast<char16_t>(0x0410 + (b - 0x80));
    } else if (b >= 0xE0 && b <= 0xEF) {
      text += static_cast<char16_t>(0x0440 + (b - 0xE0));
    } else {
      return std::nullopt;
    }
  }
  return utf16_to_utf8(text);
}

std::string in_866(std::u16string_view text) {
  std::string bytes;
  for (const char16_t ch : text) {
    if (ch < 0x80) {
      bytes += static_cast<char>(ch);
    } else if (ch >= 0x0410 && ch <= 0x043F) {
      bytes += static_cast<char>(0x80 + (ch - 0x0410));
    } else if (ch >= 0x0440 && ch <= 0x044F) {
      bytes += static_cast<char>(0xE0 + (ch - 0x0440));
    }
  }
  return bytes;
}

// A Russian system's texts, as FormatMessageW gives them, by code.
const std::map<std::uint32_t, std::vector<std::string>> kRussianTexts{
    {kNotFound,
     {"\u042D\u043B\u0435\u043C\u0435\u043D\u0442 \u043D\u0435 "
      "\u043D\u0430\u0439\u0434\u0435\u043D.\r\n"}},
    {kInvalidName,
     {"\u0418\u043C\u044F \u0443\u043A\u0430\u0437\u0430\u043D\u043E "
      "\u043D\u0435\u0432\u0435\u0440\u043D\u043E.\r\n"}},
    {5,
     {"\u041E\u0442\u043A\u0430\u0437\u0430\u043D\u043E \u0432 "
      "\u0434\u043E\u0441\u0442\u0443\u043F\u0435.\r\n"}},
};

// An undo on a system that speaks `texts` and reads code page 866.
struct LocalUndo {
  test::FakeRunner fake;
  std::map<std::uint32_t, std::vector<std::string>> texts = kRussianTexts;
  std::vector<std::uint32_t> asked;
  int announcements = 0;
  std::optional<std::string> announce_failure;
  test::RecordingLog log;

  UndoSystem system() {
    return UndoSystem{
        fake.runner(),
        [this](std::uint32_t code) {
          asked.push_back(code);
          const auto it = texts.find(code);
          return it == texts.end() ? std::vector<std::string>{} : it->second;
        },
        [](std::string_view bytes) {
          std::vector<std::string> readings;
          if (auto text = read_866(bytes)) readings.push_back(std::move(*text));
          return readings;
        },
        [this]() -> Result<void, std::string> {
          ++announcements;
          if (announce_failure) return unexpected(*announce_failure);
          return {};
        },
    };
  }
  std::optional<std::string> run(const SystemChange& change) {
    return test::error_of(undo_change(change, system(), log));
  }
};

std::string russian(std::uint32_t code) { return kRussianTexts.at(code).front(); }
std::string russian_866(std::uint32_t code) {
  return in_866(*utf8_to_utf16(kRussianTexts.at(code).front()));
}

TEST(UndoCommands, TunInterfaceUpDeletesTheAddressAndToleratesItsAbsence) {
  Undo u;
  EXPECT_EQ(u.run(TunInterfaceUp{"utun-nuv", "10.8.0.2", "255.255.255.0"}), std::nullopt);
  EXPECT_EQ(u.fake.log(), Lines{"netsh [interface] [ip] [delete] [address] [utun-nuv] [10.8.0.2]"});
  EXPECT_EQ(u.fake.requests[0].creation_flags, 0u);

  for (const char* tolerated :
       {"Element not found.\r\n",
        "The filename, directory name, or volume label syntax is incorrect.\r\n"}) {
    u.fake.answers["netsh"] = {1, tolerated};
    EXPECT_EQ(u.run(TunInterfaceUp{"i", "a", "m"}), std::nullopt) << tolerated;
  }
  u.fake.answers["netsh"] = {1, "Element Not Found.\r\n",
                             "not found"};  // case differs; stdout ignored
  EXPECT_EQ(u.run(TunInterfaceUp{"i", "a", "m"}),
            "netsh delete address failed: Element Not Found.\r\n");
  u.fake.answers["netsh"] = {0, {}, {}, "program not found"};
  EXPECT_EQ(u.run(TunInterfaceUp{"i", "a", "m"}), "netsh delete address: program not found");
}

TEST(UndoCommands, RouteAddedPassesTheGatewayOnlyWhenPresent) {
  Undo u;
  EXPECT_EQ(u.run(RouteAdded{"0.0.0.0/1", std::nullopt, "utun-nuv", 5u}), std::nullopt);
  EXPECT_EQ(u.run(RouteAdded{"10.0.0.0/8", "10.8.0.1", std::nullopt, std::nullopt}), std::nullopt);
  EXPECT_EQ(u.fake.log(),
            (Lines{"route [delete] [0.0.0.0/1]", "route [delete] [10.0.0.0/8] [10.8.0.1]"}));

  u.fake.answers["route"] = {1, "The route deletion failed: Element not in table.\r\n"};
  EXPECT_EQ(u.run(RouteAdded{"d", {}, {}, {}}), std::nullopt);
  u.fake.answers["route"] = {1, "The route specified was not found.\r\n"};
  EXPECT_EQ(u.run(RouteAdded{"d", {}, {}, {}}), std::nullopt);
  u.fake.answers["route"] = {5, "access denied"};
  EXPECT_EQ(u.run(RouteAdded{"d", {}, {}, {}}), "route delete failed: access denied");
  u.fake.answers["route"] = {0, {}, {}, "boom"};
  EXPECT_EQ(u.run(RouteAdded{"d", {}, {}, {}}), "route delete: boom");
}

TEST(UndoCommands, DnsOverriddenWithIndexRunsPowerShellHiddenAndNeverNetsh) {
  Undo u;
  EXPECT_EQ(u.run(DnsOverridden{"Wi-Fi", 12u, {"10.0.0.1", "10.0.0.2"}}), std::nullopt);
  ASSERT_EQ(u.fake.requests.size(), 1u);
  EXPECT_EQ(u.fake.requests[0].program, "powershell");
  const std::string script =
      "Set-DnsClientServerAddress -InterfaceIndex 12 -ServerAddresses "
      "@('10.0.0.1','10.0.0.2') -ErrorAction Stop";
  EXPECT_EQ(u.fake.requests[0].args,
            (Lines{"-NoProfile", "-NonInteractive", "-WindowStyle", "Hidden", "-Command", script}));
  EXPECT_EQ(u.fake.requests[0].creation_flags, 0x08000000u);

  EXPECT_EQ(dns_restore_script(7, {"o'x", "''"}),
            "Set-DnsClientServerAddress -InterfaceIndex 7 -ServerAddresses @('o''x','''''') "
            "-ErrorAction Stop");
  // PowerShell ends a single-quoted string at any of five quote characters;
  // each is written twice. Neighbours of the typographic ones are not quotes
  // to it, and a sequence cut short is copied as it is.
  for (const auto& [server, written] : std::vector<std::pair<std::string, std::string>>{
           {"a'b", "'a''b'"},
           {"a\u2018b", "'a\u2018\u2018b'"},
           {"a\u2019b", "'a\u2019\u2019b'"},
           {"a\u201Ab", "'a\u201A\u201Ab'"},
           {"a\u201Bb", "'a\u201B\u201Bb'"},
           {"1.1.1.1\u2019); Remove-Item C:\\x; (\u2019",
            "'1.1.1.1\u2019\u2019); Remove-Item C:\\x; (\u2019\u2019'"},
           {"\u2018'\u201B", "'\u2018\u2018''\u201B\u201B'"},
           {"a\u2017b\u201Cc\u201Dd", "'a\u2017b\u201Cc\u201Dd'"},
           {"a\xE2\x80", "'a\xE2\x80'"},
       }) {
    EXPECT_EQ(dns_restore_script(1, {server}),
              "Set-DnsClientServerAddress -InterfaceIndex 1 -ServerAddresses @(" + written +
                  ") -ErrorAction Stop")
        << server;
  }
  EXPECT_EQ(dns_restore_script(4294967295u, {}),
            "Set-DnsClientServerAddress -InterfaceIndex 4294967295 -ResetServerAddresses "
            "-ErrorAction Stop");

  u.fake.answers["powershell"] = {1, "not found"};  // nothing is tolerated here
  EXPECT_EQ(u.run(DnsOverridden{"Wi-Fi", 3u, {}}), "PowerShell DNS rollback failed: not found");
  u.fake.answers["powershell"] = {0, {}, {}, "program not found"};
  EXPECT_EQ(u.run(DnsOverridden{"Wi-Fi", 3u, {}}), "powershell dns rollback: program not found");
  for (const auto& r : u.fake.requests) EXPECT_EQ(r.program, "powershell");
}

TEST(UndoCommands, DnsOverriddenWithoutIndexSetsTheFirstServerAndAddsTheRestUnchecked) {
  Undo u;
  u.fake.answers["netsh"] = {0};
  EXPECT_EQ(u.run(DnsOverridden{"Ethernet 2", std::nullopt, {"1.1.1.1", "8.8.8.8", "9.9.9.9"}}),
            std::nullopt);
  EXPECT_EQ(u.fake.log(),
            (Lines{"netsh [interface] [ip] [set] [dns] [Ethernet 2] [static] [1.1.1.1]",
                   "netsh [interface] [ip] [add] [dns] [Ethernet 2] [8.8.8.8]",
                   "netsh [interface] [ip] [add] [dns] [Ethernet 2] [9.9.9.9]"}));
}

TEST(UndoCommands, DnsOverriddenFailedAddsAreIgnoredButAFailedSetStopsEverything) {
  Undo u;
  int calls = 0;
  const auto base = u.fake.runner();
  const CommandRunner set_ok_adds_fail =
      [&](const CommandRequest& r) -> Result<CommandOutput, LaunchError> {
    if (calls++ == 0) return base(r);
    u.fake.requests.push_back(r);
    if (calls == 2) return unexpected(LaunchError::not_found("program not found"));
    CommandOutput failed;
    failed.exit_code = 1;
    failed.stderr_bytes = "add failed";
    return failed;
  };
  EXPECT_EQ(test::error_of(
                undo_change(DnsOverridden{"e", std::nullopt, {"a", "b", "c"}}, set_ok_adds_fail)),
            std::nullopt);
  EXPECT_EQ(u.fake.requests.size(), 3u);

  Undo v;
  v.fake.answers["netsh"] = {1, "The interface is unknown.\r\n"};
  EXPECT_EQ(v.run(DnsOverridden{"e", std::nullopt, {"a", "b", "c"}}),
            "netsh set dns failed: The interface is unknown.\r\n");
  EXPECT_EQ(v.fake.requests.size(), 1u);
  v.fake.answers["netsh"] = {0, {}, {}, "gone"};
  EXPECT_EQ(v.run(DnsOverridden{"e", std::nullopt, {"a"}}), "netsh set dns: gone");
}

TEST(UndoCommands, DnsOverriddenWithoutIndexOrServersGoesBackToDhcp) {
  Undo u;
  EXPECT_EQ(u.run(DnsOverridden{"Wi-Fi", std::nullopt, {}}), std::nullopt);
  EXPECT_EQ(u.fake.log(), Lines{"netsh [interface] [ip] [set] [dns] [Wi-Fi] [dhcp]"});
  u.fake.answers["netsh"] = {1, "x"};
  EXPECT_EQ(u.run(DnsOverridden{"Wi-Fi", std::nullopt, {}}), "netsh set dns dhcp failed: x");
  u.fake.answers["netsh"] = {0, {}, {}, "y"};
  EXPECT_EQ(u.run(DnsOverridden{"Wi-Fi", std::nullopt, {}}), "netsh set dns dhcp: y");
}

TEST(UndoCommands, FirewallRuleAddedDeletesByNameAndToleratesNoRules) {
  Undo u;
  u.fake.answers["netsh"] = {1, "\r\nNo rules match the specified criteria.\r\n\r\n"};
  EXPECT_EQ(u.run(FirewallRuleAdded{"Block all"}), std::nullopt);
  EXPECT_EQ(u.fake.log(), Lines{"netsh [advfirewall] [firewall] [delete] [rule] [name=Block all]"});
  u.fake.answers["netsh"] = {1, "no rules"};
  EXPECT_EQ(u.run(FirewallRuleAdded{"r"}), "delete firewall rule failed: no rules");
  u.fake.answers["netsh"] = {0, {}, {}, "z"};
  EXPECT_EQ(u.run(FirewallRuleAdded{"r"}), "netsh delete rule: z");
}

// netsh reads the name "all" as every rule on the machine: such an undo is
// refused before any process starts, and the change stays in the journal.
TEST(UndoCommands, FirewallRuleAddedRefusesTheNameThatStandsForEveryRule) {
  for (const char* name :
       {"all", "All", "ALL", " all ", "  aLl", "\tall\t", " \r\nall\n", "\"all\"", " \"All\" "}) {
    Undo u;
    EXPECT_EQ(u.run(FirewallRuleAdded{name}),
              "netsh delete rule: refused: the name all stands for every rule")
        << name;
    EXPECT_TRUE(u.fake.requests.empty()) << name;
    const auto plan = undo_plan(FirewallRuleAdded{name});
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_TRUE(plan[0].refusal) << name;
  }
  for (const char* name : {"all rules", "allow", "a ll", "NUV all", "alle", "al"}) {
    Undo u;
    EXPECT_EQ(u.run(FirewallRuleAdded{name}), std::nullopt) << name;
    EXPECT_EQ(
        u.fake.log(),
        Lines{"netsh [advfirewall] [firewall] [delete] [rule] [name=" + std::string(name) + "]"});
  }
}

// route delete takes * and ? as wildcards, which would reach other routes.
TEST(UndoCommands, RouteAddedRefusesWildcardsInEitherAddress) {
  for (const RouteAdded& route : {
           RouteAdded{"10.*.0.0", std::nullopt, std::nullopt, std::nullopt},
           RouteAdded{"10.0.0.?", "10.8.0.1", std::nullopt, std::nullopt},
           RouteAdded{"*", std::nullopt, std::nullopt, std::nullopt},
           RouteAdded{"10.0.0.0/8", "10.8.0.*", std::nullopt, std::nullopt},
           RouteAdded{"10.0.0.0/8", "?", std::nullopt, std::nullopt},
       }) {
    Undo u;
    EXPECT_EQ(u.run(route), "route delete: refused: wildcards in the address") << route.destination;
    EXPECT_TRUE(u.fake.requests.empty()) << route.destination;
  }
}

// Of the same kind as the wildcards: a journal value that the tool would
// read as an option or a named parameter, and so reach beyond the change.
TEST(UndoCommands, RouteAddedRefusesAnOptionInPlaceOfAnAddress) {
  for (const RouteAdded& route : {
           RouteAdded{"-f", std::nullopt, std::nullopt, std::nullopt},
           RouteAdded{"/f", std::nullopt, std::nullopt, std::nullopt},
           RouteAdded{"10.0.0.0/8", "-p", std::nullopt, std::nullopt},
       }) {
    Undo u;
    EXPECT_EQ(u.run(route), "route delete: refused: an option in place of an address")
        << route.destination;
    EXPECT_TRUE(u.fake.requests.empty()) << route.destination;
  }
  Undo u;
  EXPECT_EQ(u.run(RouteAdded{"10.0.0.0/8", "10.8.0.1", std::nullopt, std::nullopt}), std::nullopt);
  EXPECT_EQ(u.fake.log(), Lines{"route [delete] [10.0.0.0/8] [10.8.0.1]"});
}

// netsh reads "tag=value" as a named parameter wherever it stands, so no
// positional value of a netsh undo may hold the sign; the change is refused
// whole, the unchecked further DNS servers included, and nothing starts.
TEST(UndoCommands, NetshRefusesANamedParameterInPlaceOfAnyPositionalValue) {
  const std::vector<std::pair<SystemChange, std::string>> refusals{
      {TunInterfaceUp{"utun-nuv", "gateway=all", "255.255.255.0"},
       "netsh delete address: refused: a named parameter in place of the address"},
      {TunInterfaceUp{"gateway=all", "10.8.0.2", "255.255.255.0"},
       "netsh delete address: refused: a named parameter in place of the interface"},
      {TunInterfaceUp{"name=x", "gateway=all", "255.255.255.0"},
       "netsh delete address: refused: a named parameter in place of the interface"},
      {DnsOverridden{"source=dhcp", std::nullopt, {}},
       "netsh set dns dhcp: refused: a named parameter in place of the interface"},
      {DnsOverridden{"name=Wi-Fi", std::nullopt, {"1.1.1.1"}},
       "netsh set dns: refused: a named parameter in place of the interface"},
      {DnsOverridden{"Wi-Fi", std::nullopt, {"validate=no"}},
       "netsh set dns: refused: a named parameter in place of a server"},
      {DnsOverridden{"Wi-Fi", std::nullopt, {"1.1.1.1", "8.8.8.8", "index=1"}},
       "netsh set dns: refused: a named parameter in place of a server"},
  };
  for (const auto& [change, message] : refusals) {
    Undo u;
    EXPECT_EQ(u.run(change), message);
    EXPECT_TRUE(u.fake.requests.empty()) << message;
    const auto plan = undo_plan(change);
    ASSERT_EQ(plan.size(), 1u) << message;
    EXPECT_TRUE(plan[0].refusal) << message;
  }
  // PowerShell takes the servers as quoted strings, where the sign is plain text.
  Undo u;
  EXPECT_EQ(u.run(DnsOverridden{"a=b", 12u, {"c=d"}}), std::nullopt);
  EXPECT_EQ(u.fake.requests.size(), 1u);
}

TEST(UndoCommands, SystemProxySetWritesTheValuesAndNeverFails) {
  const std::string key = R"(HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings)";
  Undo u;
  u.fake.answers["reg"] = {0, {}, {}, "program not found"};
  EXPECT_EQ(u.run(SystemProxySet{false, std::nullopt}), std::nullopt);
  EXPECT_EQ(u.fake.log(),
            Lines{"reg [add] [" + key + "] [/v] [ProxyEnable] [/t] [REG_DWORD] [/d] [0] [/f]"});

  Undo v;
  v.fake.answers["reg"] = {1, "ERROR: Access is denied."};
  EXPECT_EQ(v.run(SystemProxySet{true, "proxy.example:8080"}), std::nullopt);
  EXPECT_EQ(v.fake.log(),
            (Lines{"reg [add] [" + key + "] [/v] [ProxyEnable] [/t] [REG_DWORD] [/d] [1] [/f]",
                   "reg [add] [" + key +
                       "] [/v] [ProxyServer] [/t] [REG_SZ] [/d] [proxy.example:8080] [/f]"}));
}

TEST(UndoCommands, CustomCommandRunsTheJournalledCommandAsGiven) {
  Undo u;
  EXPECT_EQ(u.run(CustomCommand{"nothing", {}}), std::nullopt);
  EXPECT_TRUE(u.fake.requests.empty());

  EXPECT_EQ(u.run(CustomCommand{"restore hosts", {"C:\\tools\\fix.cmd", "a b", "\"q\"", ""}}),
            std::nullopt);
  EXPECT_EQ(u.fake.requests[0].program, "C:\\tools\\fix.cmd");
  EXPECT_EQ(u.fake.requests[0].args, (Lines{"a b", "\"q\"", ""}));

  u.fake.answers["fix"] = {1, "denied\r\n", "ignored"};
  EXPECT_EQ(u.run(CustomCommand{"restore hosts", {"fix"}}),
            "custom rollback 'restore hosts' failed: denied\r\n");
  u.fake.answers["fix"] = {0, {}, {}, "program not found"};
  EXPECT_EQ(u.run(CustomCommand{"restore hosts", {"fix"}}),
            "custom rollback 'restore hosts': program not found");
}

TEST(UndoCommands, MessagesCarryStandardErrorDecodedWithReplacementCharacters) {
  Undo u;
  u.fake.answers["fix"] = {2, "bad \xFF\xFE end \xE2\x82"};
  EXPECT_EQ(u.run(CustomCommand{"d", {"fix"}}),
            "custom rollback 'd' failed: bad \xEF\xBF\xBD\xEF\xBF\xBD end \xEF\xBF\xBD");
  // An invalid sequence cannot hide a tolerated phrase, nor make one up.
  u.fake.answers["route"] = {1, "\xED\xA0\x80not in table"};
  EXPECT_EQ(u.run(RouteAdded{"d", {}, {}, {}}), std::nullopt);
}

// What the runner read beyond the bytes it kept is counted at the end of the
// message; only the kept bytes are searched for a tolerated phrase.
TEST(UndoCommands, MessagesCountTheStandardErrorBytesThatWereNotKept) {
  CommandOutput flooded;
  flooded.exit_code = 1;
  const auto answer = [&flooded](const CommandRequest&) -> Result<CommandOutput, LaunchError> {
    return flooded;
  };
  flooded.stderr_bytes = std::string(kCaptureLimit, 'E');
  flooded.stderr_dropped = 267386880;
  flooded.stdout_dropped = 5;  // standard output has no say
  EXPECT_EQ(test::error_of(undo_change(CustomCommand{"flood", {"fill"}}, answer)),
            "custom rollback 'flood' failed: " + std::string(kCaptureLimit, 'E') +
                " [267386880 more bytes]");

  // The error list gets the count apart from the text, to make one ending
  // of it and whatever it cuts.
  NullLog none;
  EXPECT_EQ(test::error_of(undo_change_error(CustomCommand{"flood", {"fill"}},
                                             UndoSystem{answer, {}, {}, {}}, none)),
            (ErrorMessage{"custom rollback 'flood' failed: " + std::string(kCaptureLimit, 'E'),
                          267386880}));

  flooded.stderr_bytes = "route: not in table, and then ";
  flooded.stderr_dropped = 1;
  EXPECT_EQ(test::error_of(undo_change(RouteAdded{"d", {}, {}, {}}, answer)), std::nullopt);
  EXPECT_EQ(test::error_of(undo_change(CustomCommand{"one", {"x"}}, answer)),
            "custom rollback 'one' failed: route: not in table, and then  [1 more bytes]");

  flooded.stderr_bytes = "Access is denied.";
  flooded.stderr_dropped = 0;
  EXPECT_EQ(test::error_of(undo_change(CustomCommand{"none", {"x"}}, answer)),
            "custom rollback 'none' failed: Access is denied.");
}

// Each command leaves one line in the log: the program as resolved and its
// arguments, then its exit code and time, or its launch error; a refused
// answer adds the start of its standard error. The time is the only part
// that varies, so it is cut out before comparing.
TEST(UndoCommands, LogEveryCommandIsLoggedWithItsOutcome) {
  const auto without_time = [](std::vector<std::string> lines) {
    for (auto& line : lines) {
      const auto after = line.find(" after ");
      const auto ms = line.find(" ms", after);
      if (after != std::string::npos && ms != std::string::npos) {
        line.replace(after, ms + 3 - after, " after T");
      }
    }
    return lines;
  };
  Undo u;
  test::RecordingLog log;
  u.fake.answers["netsh"] = {1, "Element not found.\r\n"};
  (void)undo_change(TunInterfaceUp{"utun-nuv", "10.8.0.2", "m"}, u.fake.runner(), log);
  (void)undo_change(RouteAdded{"0.0.0.0/1", "10.8.0.1", {}, {}}, u.fake.runner(), log);
  u.fake.answers["restore"] = {2, std::string(5000, 'e')};
  (void)undo_change(CustomCommand{"c", {"restore", "a b", "\""}}, u.fake.runner(), log);
  u.fake.answers["gone"] = {0, "", "", "program not found"};
  (void)undo_change(CustomCommand{"g", {"gone"}}, u.fake.runner(), log);
  (void)undo_change(FirewallRuleAdded{"all"}, u.fake.runner(), log);
  (void)undo_change(CustomCommand{"long", {"long", std::string(5000, 'a')}}, u.fake.runner(), log);
  u.fake.answers["flooded"] = {2, std::string(5000, 'e')};
  u.fake.answers["flooded"].stderr_dropped = 7;  // read by the runner beyond what it kept
  (void)undo_change(CustomCommand{"f", {"flooded"}}, u.fake.runner(), log);
  EXPECT_EQ(
      without_time(log.lines),
      (Lines{
          R"(ran C:\tools\netsh.exe ["interface", "ip", "delete", "address", "utun-nuv", "10.8.0.2"]: exit code 1 after T, accepted: its standard error says the change was already gone)",
          R"(ran C:\tools\route.exe ["delete", "0.0.0.0/1", "10.8.0.1"]: exit code 0 after T)",
          R"(ran C:\tools\restore.exe ["a b", "\""]: exit code 2 after T, not accepted; its standard error: [")" +
              std::string(4096, 'e') + R"("] [904 more bytes])",
          R"(could not run gone []: program not found)",
          "undo not run: netsh delete rule: refused: the name all stands for every rule",
          R"(ran C:\tools\long.exe [")" + std::string(4094, 'a') +
              " [908 more bytes]: exit code 0 after T",
          R"(ran C:\tools\flooded.exe []: exit code 2 after T, not accepted; its standard error: [")" +
              std::string(4096, 'e') + R"("] [911 more bytes])"}));
}

TEST(UndoCommands, MessageTextIsTrimmedOfTrailingSpaceAndFullStops) {
  for (const auto& [text, trimmed] : std::vector<std::pair<std::string, std::string>>{
           {"Element not found.\r\n", "Element not found"},
           {"Invalid name.", "Invalid name"},
           {"\u627E\u4E0D\u5230\u5143\u7D20\u3002\r\n", "\u627E\u4E0D\u5230\u5143\u7D20"},
           {"a.b. \t.\r\n", "a.b"},
           {"Fin\u00A0.\u3000", "Fin"},
           {"  leading kept", "  leading kept"},
           {".\r\n", ""},
           {"\u3002 . \u3002", ""},
           {"", ""},
       }) {
    EXPECT_EQ(trimmed_message_text(text), trimmed) << text;
  }
}

TEST(UndoCommands, StandardErrorIsReadAsUtf8WhenValidThenInEachCodePageThatDecodesIt) {
  LocalUndo u;
  const UndoSystem system = u.system();
  // Valid UTF-8 (ASCII here) reads in both.
  EXPECT_EQ(standard_error_readings("Access is denied.", system),
            (Lines{"Access is denied.", "Access is denied."}));
  // A single-byte code page: not UTF-8, read in 866 alone.
  EXPECT_EQ(standard_error_readings(russian_866(5), system), Lines{russian(5)});
  // Valid UTF-8 that the code page cannot read.
  EXPECT_EQ(standard_error_readings("\xC3\xA9", system), Lines{"\xC3\xA9"});
  // Bytes that no reading decodes.
  EXPECT_EQ(standard_error_readings("\xFF\xFE", system), Lines{});
  // Without the code pages, UTF-8 only.
  EXPECT_EQ(standard_error_readings(russian_866(5), UndoSystem{u.fake.runner(), {}, {}, {}}),
            Lines{});
  EXPECT_EQ(standard_error_readings(russian(5), UndoSystem{u.fake.runner(), {}, {}, {}}),
            Lines{russian(5)});
}

// The same messages as the English texts, in the system's own language and in
// the code page its tools write in: the change was already gone.
TEST(UndoCommands, TunInterfaceUpAcceptsTheSystemsOwnTextsOfItsAlreadyGoneMessages) {
  struct Case {
    const char* what;
    std::function<SystemChange()> change;
    std::string stderr_bytes;
    std::string stdout_bytes;
    bool accepted;
  };
  const auto address = [] { return SystemChange{TunInterfaceUp{"utun-nuv", "10.8.0.2", "m"}}; };
  const auto route = [] { return SystemChange{RouteAdded{"0.0.0.0/1", {}, {}, {}}}; };
  const auto dns = [] { return SystemChange{DnsOverridden{"Wi-Fi", std::nullopt, {"1.1.1.1"}}}; };
  const auto rule = [] { return SystemChange{FirewallRuleAdded{"NUV"}}; };
  const std::vector<Case> cases{
      {"address, 1168, OEM", address, russian_866(kNotFound), {}, true},
      {"address, 123, OEM", address, russian_866(kInvalidName), {}, true},
      {"address, 1168, UTF-8", address, russian(kNotFound), {}, true},
      {"address, 1168 inside other words",
       address,
       "netsh: " + russian_866(kNotFound) + " !",
       {},
       true},
      {"address, 1168 without its full stop",
       address,
       in_866(*utf8_to_utf16(trimmed_message_text(russian(kNotFound)))),
       {},
       true},
      {"address, access denied", address, russian_866(5), {}, false},
      {"address, 1168 on standard output only", address, "", russian_866(kNotFound), false},
      {"route, 1168", route, russian_866(kNotFound), {}, true},
      {"route, 123 is not route's", route, russian_866(kInvalidName), {}, false},
      {"route, access denied", route, russian_866(5), {}, false},
      {"dns stays English-only", dns, russian_866(kNotFound), {}, false},
      {"firewall rule stays English-only", rule, russian_866(kNotFound), {}, false},
      {"English texts still count", address, "Element not found.\r\n", {}, true},
      {"English route text still counts", route, "Element not in table.\r\n", {}, true},
  };
  for (const auto& c : cases) {
    LocalUndo u;
    for (const char* tool : {"netsh", "route"})
      u.fake.answers[tool] = {1, c.stderr_bytes, c.stdout_bytes};
    EXPECT_EQ(u.run(c.change()) == std::nullopt, c.accepted) << c.what;
  }
}

// An empty text matches anything and a missing one nothing: neither may turn
// a failure into "already gone", and the English texts still apply.
TEST(UndoCommands, TunInterfaceUpEmptyOrMissingSystemTextsAcceptNothingBeyondTheEnglishTexts) {
  for (const std::vector<std::string>& texts :
       {std::vector<std::string>{}, std::vector<std::string>{""}, std::vector<std::string>{".\r\n"},
        std::vector<std::string>{" \u3002 "}}) {
    LocalUndo u;
    u.texts = {{kNotFound, texts}, {kInvalidName, texts}};
    u.fake.answers["netsh"] = {1, russian_866(kNotFound)};
    EXPECT_EQ(u.run(TunInterfaceUp{"i", "a", "m"}),
              "netsh delete address failed: " + decode_utf8_lossy(russian_866(kNotFound)));
    u.fake.answers["netsh"] = {1, ".\r\n"};
    EXPECT_EQ(u.run(TunInterfaceUp{"i", "a", "m"}), "netsh delete address failed: .\r\n");
    u.fake.answers["netsh"] = {1, "Element not found.\r\n"};
    EXPECT_EQ(u.run(TunInterfaceUp{"i", "a", "m"}), std::nullopt);
  }
  // A text is looked for only in readings that decode cleanly: a replacement
  // character made up by a broken decoding is no match.
  LocalUndo u;
  u.texts = {{kNotFound, {"a\uFFFDb"}}};
  u.fake.answers["netsh"] = {1,
                             "a\xFF"
                             "b"};
  EXPECT_EQ(u.run(TunInterfaceUp{"i", "a", "m"}), "netsh delete address failed: a\uFFFDb");
  // The texts are asked for only when the English ones do not answer, and
  // only the step's own codes.
  LocalUndo v;
  v.fake.answers["netsh"] = {1, "Element not found."};
  EXPECT_EQ(v.run(TunInterfaceUp{"i", "a", "m"}), std::nullopt);
  EXPECT_TRUE(v.asked.empty());
  v.fake.answers["route"] = {1, "denied"};
  (void)v.run(RouteAdded{"d", {}, {}, {}});
  EXPECT_EQ(v.asked, std::vector<std::uint32_t>{kNotFound});
}

// The summary keeps the UTF-8 decoding; the log reads the answer in the first
// code page that decodes it cleanly, so that it stays readable.
TEST(UndoCommands, LogARefusedAnswerIsLoggedInTheFirstReadingThatDecodesIt) {
  const auto logged_error = [](const test::RecordingLog& log) {
    const std::string& line = log.lines.back();
    return line.substr(line.find("its standard error: ") + 20);
  };
  LocalUndo u;
  u.fake.answers["route"] = {1, russian_866(5)};
  EXPECT_EQ(u.run(RouteAdded{"d", {}, {}, {}}),
            "route delete failed: " + decode_utf8_lossy(russian_866(5)));
  EXPECT_EQ(logged_error(u.log), "[\"" + trimmed_message_text(russian(5)) + ".\\r\\n\"]");

  u.fake.answers["route"] = {1, russian(5)};  // valid UTF-8 comes first
  EXPECT_EQ(u.run(RouteAdded{"d", {}, {}, {}}), "route delete failed: " + russian(5));
  EXPECT_EQ(logged_error(u.log), "[\"" + trimmed_message_text(russian(5)) + ".\\r\\n\"]");

  u.fake.answers["route"] = {1, "\xFF\xFE"};  // no reading: replacement characters
  (void)u.run(RouteAdded{"d", {}, {}, {}});
  EXPECT_EQ(logged_error(u.log), "[\"\uFFFD\uFFFD\"]");

  // A long answer in a code page: the log keeps the start of its reading,
  // cut at a character, and counts the rest.
  const std::string long_answer = in_866(std::u16string(3000, u'\u0416'));  // 2 bytes each in UTF-8
  u.fake.answers["route"] = {1, long_answer};
  (void)u.run(RouteAdded{"d", {}, {}, {}});
  std::string kept;
  for (int i = 0; i < 2048; ++i) kept += "\u0416";
  EXPECT_EQ(logged_error(u.log), "[\"" + kept + "\"] [1904 more bytes]");
  // Bytes the runner read but did not keep are counted as well.
  u.fake.answers["route"].stderr_dropped = 7;
  (void)u.run(RouteAdded{"d", {}, {}, {}});
  EXPECT_EQ(logged_error(u.log), "[\"" + kept + "\"] [1911 more bytes]");
}

// Running programs are told after every proxy undo, whatever reg answered,
// and only then; the log says whether it worked.
TEST(UndoCommands, SystemProxySetEveryUndoIsFollowedByTheAnnouncement) {
  for (const test::Answer& reg : {test::Answer{0}, test::Answer{1, "ERROR: Access is denied."},
                                  test::Answer{0, {}, {}, "program not found"}}) {
    LocalUndo u;
    u.fake.answers["reg"] = reg;
    EXPECT_EQ(u.run(SystemProxySet{true, "proxy.example:8080"}), std::nullopt);
    EXPECT_EQ(u.announcements, 1);
    EXPECT_EQ(u.log.lines.back(), "announced the Internet settings change to running programs");
  }
  LocalUndo u;
  u.announce_failure = "wininet.dll not loaded: The specified module could not be found.";
  EXPECT_EQ(u.run(SystemProxySet{false, std::nullopt}), std::nullopt);
  EXPECT_EQ(u.announcements, 1);
  EXPECT_EQ(u.log.lines.back(),
            "the Internet settings change was not announced: wininet.dll not loaded: The "
            "specified module could not be found.");

  LocalUndo none;
  (void)none.run(TunInterfaceUp{"i", "a", "m"});
  (void)none.run(RouteAdded{"d", {}, {}, {}});
  (void)none.run(DnsOverridden{"Wi-Fi", 3u, {}});
  (void)none.run(FirewallRuleAdded{"r"});
  (void)none.run(CustomCommand{"c", {"x"}});
  EXPECT_EQ(none.announcements, 0);
}

}  // namespace
}  // namespace nuv

// The undo's verdict once the change is read back: the machine's state
// decides where it says, the tools' answer where it cannot tell.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/rollback/undo_commands.h"
#include "support/fake_runner.h"
#include "support/recording.h"
#include "support/result_values.h"

namespace nuv {
namespace {

using Lines = std::vector<std::string>;

// An undo whose read-back answers `found` and keeps the changes it was asked.
struct ReadBackUndo {
  test::FakeRunner fake;
  test::RecordingLog log;
  ReadBack found;
  std::vector<SystemChange> read;
  int announcements = 0;

  std::optional<std::string> run(const SystemChange& change) {
    const UndoSystem system{
        .run = fake.runner(),
        .message_texts = {},
        .code_page_readings = {},
        .announce_internet_settings_changed = [this]() -> Result<void, std::string> {
          ++announcements;
          return {};
        },
        .read_back =
            [this](const SystemChange& asked) {
              read.push_back(asked);
              return found;
            },
    };
    return test::error_of(undo_change(change, system, log));
  }
};

const ReadBack kGone{ChangeState::kGone, "no route"};
const ReadBack kInPlace{ChangeState::kInPlace, "a route"};
const ReadBack kCannotTell{ChangeState::kCannotTell, "routes failed"};

TEST(UndoCommandsReadBack, TheMachinesStateOverrulesTheToolsAnswer) {
  struct Case {
    const char* tool;
    test::Answer answer;
    ReadBack found;
    std::optional<std::string> message;
    std::string logged;  // the last line
  };
  const test::Answer exit_0{0};
  const test::Answer not_found{1, "Element not found.\r\n"};
  const test::Answer denied{5, "access denied"};
  const test::Answer no_launch{0, {}, {}, "program not found"};
  const std::string still = "route delete failed: the route is still in the routing table";
  const std::string overrules = "; this overrules the tool's answer";
  const std::vector<Case> cases{
      {"exit 0", exit_0, kGone, std::nullopt, "read back: already gone: no route"},
      {"exit 0", exit_0, kInPlace, still, "read back: in place: a route" + overrules},
      {"exit 0", exit_0, kCannotTell, std::nullopt, "read back: cannot tell: routes failed"},
      {"not found", not_found, kGone, std::nullopt, "read back: already gone: no route"},
      {"not found", not_found, kInPlace, still, "read back: in place: a route" + overrules},
      {"not found", not_found, kCannotTell, std::nullopt, "read back: cannot tell: routes failed"},
      {"failure", denied, kGone, std::nullopt, "read back: already gone: no route" + overrules},
      {"failure", denied, kInPlace, "route delete failed: access denied",
       "read back: in place: a route"},
      {"failure", denied, kCannotTell, "route delete failed: access denied",
       "read back: cannot tell: routes failed"},
      {"launch", no_launch, kGone, std::nullopt, "read back: already gone: no route" + overrules},
      {"launch", no_launch, kInPlace, "route delete: program not found",
       "read back: in place: a route"},
      {"launch", no_launch, kCannotTell, "route delete: program not found",
       "read back: cannot tell: routes failed"},
  };
  const SystemChange change = RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u};
  for (const auto& c : cases) {
    ReadBackUndo u;
    u.fake.answers["route"] = c.answer;
    u.found = c.found;
    EXPECT_EQ(u.run(change), c.message) << c.tool << ", " << change_state_text(c.found);
    // The tools ran as they would without a read-back, and then it read once.
    EXPECT_EQ(u.fake.log(), Lines{"route [delete] [0.0.0.0/1] [10.8.0.1]"}) << c.tool;
    EXPECT_EQ(u.read, std::vector<SystemChange>{change}) << c.tool;
    ASSERT_EQ(u.log.lines.size(), 2u) << c.tool;
    EXPECT_EQ(u.log.lines.back(), c.logged) << c.tool;
  }
}

// A refused undo ran nothing, so there is nothing to read back.
TEST(UndoCommandsReadBack, ARefusedUndoIsNotReadBack) {
  for (const ReadBack& found : {kGone, kInPlace, kCannotTell}) {
    ReadBackUndo u;
    u.found = found;
    EXPECT_EQ(u.run(RouteAdded{"10.*.0.0", std::nullopt, std::nullopt, std::nullopt}),
              "route delete: refused: wildcards in the address");
    EXPECT_EQ(u.run(FirewallRuleAdded{"all"}),
              "netsh delete rule: refused: the name all stands for every rule");
    EXPECT_TRUE(u.fake.requests.empty());
    EXPECT_TRUE(u.read.empty());
  }
}

// A change still in place after tools that answered as if it worked fails
// with its form's failure prefix and what is still there.
TEST(UndoCommandsReadBack, EachKindSaysWhatIsStillThere) {
  for (const auto& [change, message] : std::vector<std::pair<SystemChange, std::string>>{
           {TunInterfaceUp{"utun-nuv", "10.8.0.2", "m"},
            "netsh delete address failed: the address is still on the interface"},
           {RouteAdded{"0.0.0.0/1", {}, {}, {}},
            "route delete failed: the route is still in the routing table"},
           {DnsOverridden{"Wi-Fi", 12u, {"1.1.1.1"}},
            "PowerShell DNS rollback failed: the DNS servers are still not the original ones"},
           {DnsOverridden{"Wi-Fi", std::nullopt, {"1.1.1.1", "8.8.8.8"}},
            "netsh set dns failed: the DNS servers are still not the original ones"},
           {DnsOverridden{"Wi-Fi", std::nullopt, {}},
            "netsh set dns dhcp failed: the DNS servers are still not the original ones"},
           {FirewallRuleAdded{"NUV"}, "delete firewall rule failed: the rule is still there"},
           {SystemProxySet{true, "p:8080"},
            "proxy restore failed: the proxy settings are still not the original ones"},
       }) {
    ReadBackUndo u;
    u.found = kInPlace;
    EXPECT_EQ(u.run(change), message);
    EXPECT_EQ(still_there_message(change), message);
  }
}

// reg's answers are ignored, so the proxy's undo failed only when read back
// in place; the change is announced first, whatever comes of it.
TEST(UndoCommandsReadBack, SystemProxySetIsAnnouncedThenReadBack) {
  const std::string still =
      "proxy restore failed: the proxy settings are still not the original ones";
  for (const test::Answer& reg : {test::Answer{0}, test::Answer{1, "ERROR: Access is denied."},
                                  test::Answer{0, {}, {}, "program not found"}}) {
    for (const auto& [found, message, logged] :
         std::vector<std::tuple<ReadBack, std::optional<std::string>, std::string>>{
             {kGone, std::nullopt, "read back: already gone: no route"},
             {kInPlace, still, "read back: in place: a route; this overrules the tool's answer"},
             {kCannotTell, std::nullopt, "read back: cannot tell: routes failed"},
         }) {
      ReadBackUndo u;
      u.fake.answers["reg"] = reg;
      u.found = found;
      EXPECT_EQ(u.run(SystemProxySet{false, "p:8080"}), message);
      EXPECT_EQ(u.fake.requests.size(), 2u);
      EXPECT_EQ(u.announcements, 1);
      ASSERT_EQ(u.log.lines.size(), 4u);
      EXPECT_EQ(u.log.lines[2], "announced the Internet settings change to running programs");
      EXPECT_EQ(u.log.lines[3], logged);
    }
  }
}

// A custom command is never read: its empty facts leave no line, and the
// tool's answer stands.
TEST(UndoCommandsReadBack, CustomCommandsLeaveNoReadBackLine) {
  for (const auto& [answer, message] :
       std::vector<std::pair<test::Answer, std::optional<std::string>>>{
           {test::Answer{0}, std::nullopt},
           {test::Answer{1, "denied"}, "custom rollback 'hosts' failed: denied"},
       }) {
    ReadBackUndo u;
    u.fake.answers["fix"] = answer;
    u.found = ReadBack{};
    EXPECT_EQ(u.run(CustomCommand{"hosts", {"fix"}}), message);
    EXPECT_EQ(u.read.size(), 1u);
    EXPECT_EQ(u.log.lines.size(), 1u);
  }
}

}  // namespace
}  // namespace nuv

// The state recovery on the real runner: a driver program runs it in a
// folder of its own, beside stand-ins for netsh, route and powershell that log
// their arguments and answer as each test says, with APPDATA pointing at a
// temporary folder. reg is Wine's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "state/journal_format.h"
#include "support/checked_win.h"
#include "support/client_profile_win.h"
#include "support/saved_proxy_values_win.h"
#include "support/scratch_test_win.h"

namespace nuv::test {
namespace {

class SystemStateRecovery : public ClientProfileTest {
 protected:
  SystemStateRecovery()
      : ClientProfileTest(L"recovery", L"nuv-recover-state.exe",
                          {L"netsh", L"route", L"powershell"}) {}
  void prepare_profile() override { data_ = profile_.data_folder(); }

  std::wstring driver() const { return program(); }

  void answer(const std::string& script) {
    ASSERT_TRUE(write_file(root_ + L"\\answers.txt", script));
  }

  // Starts the recovery; the stand-ins get `tools` in their environment.
  StartedProcess start_recovery(
      std::optional<std::wstring> appdata = std::nullopt, bool unset = false,
      const std::map<std::wstring, std::optional<std::wstring>>& tools = {}) {
    std::map<std::wstring, std::optional<std::wstring>> changes{
        {L"APPDATA", unset ? std::nullopt : std::optional(appdata.value_or(root_ + L"\\appdata"))},
        {L"NUV_STAND_IN_LOG", root_ + L"\\tools.log"},
        {L"NUV_STAND_IN_SCRIPT", root_ + L"\\answers.txt"},
    };
    changes.insert(tools.begin(), tools.end());
    return start_captured(
        driver(), read_back_ ? L"nuv-recover-state" : L"nuv-recover-state --without-read-back",
        environment_block(changes));
  }

  static std::string finish(StartedProcess& child) {
    const std::string output = read_to_end(child.stdout_read.get());
    EXPECT_EQ(wait_for_exit(child.process.get()), 0u);
    return output;
  }

  // Runs the recovery; returns its printed outcome.
  std::string recover(std::optional<std::wstring> appdata = std::nullopt, bool unset = false,
                      const std::map<std::wstring, std::optional<std::wstring>>& tools = {}) {
    auto child = start_recovery(std::move(appdata), unset, tools);
    return finish(child);
  }

  std::vector<std::string> commands() const {
    return split_lines(read_file(root_ + L"\\tools.log").value_or(""));
  }

  std::vector<std::wstring> data_files() const {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(data_))) {
      names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::wstring data_;
  // Off: the stand-ins' answers alone decide, whatever this machine's tables
  // hold for the made-up routes and addresses of these journals.
  bool read_back_ = false;
};

TEST_F(SystemStateRecovery, EveryChangeIsUndoneNewestFirstWithItsExactCommand) {
  ASSERT_TRUE(
      write_file(state(), format_journal({
                              TunInterfaceUp{"utun-nuv", "10.8.0.2", "255.255.255.0"},
                              RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
                              DnsOverridden{"Wi-Fi", 12u, {"10.0.0.1", "o'x"}},
                              DnsOverridden{"Ethernet 2", std::nullopt, {"1.1.1.1", "8.8.8.8"}},
                              FirewallRuleAdded{"NUV block all"},
                              CustomCommand{"restore hosts", {"route", "print", "a \"b\" c\\"}},
                          })));
  ASSERT_TRUE(write_file(meta(), format_meta({2, 5})));
  ASSERT_TRUE(write_file(data_ + L"\\last_panic.json", "{\"panic\": 1}"));
  // Tolerated answers count as undone.
  answer(
      "netsh\tdelete\taddress\t1\tElement not found.\\r\\n\n"
      "route\tdelete\t1\tThe route deletion failed: Element not in table.\\r\\n\n");

  EXPECT_EQ(recover(), "errors 0\n");
  EXPECT_EQ(
      commands(),
      (std::vector<std::string>{
          "route\tprint\ta \"b\" c\\",
          "netsh\tadvfirewall\tfirewall\tdelete\trule\tname=NUV block all",
          "netsh\tinterface\tip\tset\tdns\tEthernet 2\tstatic\t1.1.1.1",
          "netsh\tinterface\tip\tadd\tdns\tEthernet 2\t8.8.8.8",
          "powershell\t-NoProfile\t-NonInteractive\t-WindowStyle\tHidden\t-Command\t"
          "Set-DnsClientServerAddress -InterfaceIndex 12 -ServerAddresses @('10.0.0.1','o''x') "
          "-ErrorAction Stop",
          "route\tdelete\t0.0.0.0/1\t10.8.0.1",
          "netsh\tinterface\tip\tdelete\taddress\tutun-nuv\t10.8.0.2",
      }));
  EXPECT_EQ(data_files(), std::vector<std::wstring>{L"last_panic.json"});
  EXPECT_EQ(read_file(data_ + L"\\last_panic.json"), "{\"panic\": 1}");
}

TEST_F(SystemStateRecovery, FailedUndoStaysInTheJournalAndIsCounted) {
  const std::vector<SystemChange> journal{
      FirewallRuleAdded{"keep me"},
      RouteAdded{"10.0.0.0/8", std::nullopt, std::nullopt, std::nullopt},
      CustomCommand{"missing tool", {"no-such-tool-anywhere"}},
  };
  ASSERT_TRUE(write_file(state(), format_journal(journal)));
  ASSERT_TRUE(write_file(meta(), format_meta({2, 5})));
  answer("netsh\tadvfirewall\t1\tAccess is denied.\\r\\n\n");

  EXPECT_EQ(recover(),
            "errors 2\n"
            "custom rollback 'missing tool': program not found\n"
            "delete firewall rule failed: Access is denied.\\r\\n\n");
  EXPECT_EQ(read_file(state()), format_journal({journal[0], journal[2]}));
  const auto counted = parse_meta(read_file(meta()).value_or(""));
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->partial_rollback_count, 3u);
  EXPECT_GT(counted->last_partial_rollback_unix, 1'700'000'000u);
  EXPECT_EQ(data_files(),
            (std::vector<std::wstring>{L"system_state.json", L"system_state.json.meta"}));
}

// A client relaunched during the recovery writes its new session to the
// journal (here: each tool copies it in as it runs). Whether every undo
// succeeds or one fails, that journal and the meta file are left to it.
TEST_F(SystemStateRecovery, AJournalRewrittenDuringTheRecoveryIsLeftToTheClient) {
  const std::string new_session = format_journal({FirewallRuleAdded{"new session"}});
  ASSERT_TRUE(write_file(root_ + L"\\new_session.json", new_session));
  const std::map<std::wstring, std::optional<std::wstring>> client_relaunched{
      {L"NUV_STAND_IN_COPY_FROM", root_ + L"\\new_session.json"},
      {L"NUV_STAND_IN_COPY_TO", state()},
  };
  const std::vector<SystemChange> journal{
      FirewallRuleAdded{"old session"},
      RouteAdded{"10.0.0.0/8", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const bool partial : {false, true}) {
    SCOPED_TRACE(partial ? "partial" : "complete");
    ASSERT_TRUE(write_file(state(), format_journal(journal)));
    ASSERT_TRUE(write_file(meta(), format_meta({2, 5})));
    answer(partial ? "route\tdelete\t1\tThe route deletion failed: Access is denied.\\r\\n\n" : "");
    EXPECT_EQ(recover(std::nullopt, false, client_relaunched),
              partial ? "errors 1\nroute delete failed: The route deletion failed: Access is "
                        "denied.\\r\\n\n"
                      : "errors 0\n");
    EXPECT_EQ(read_file(state()), new_session);
    EXPECT_EQ(read_file(meta()), format_meta({2, 5}));
    EXPECT_EQ(data_files(),
              (std::vector<std::wstring>{L"system_state.json", L"system_state.json.meta"}));
  }
}

// The new journal cannot be written beside the old one (a directory stands in
// the way, as a full disk would): the old journal keeps every record, and the
// meta file, written through its own temporary file, still counts.
TEST_F(SystemStateRecovery, UnwritableTemporaryJournalLeavesTheJournalByteForByte) {
  const std::string original = format_journal({
      FirewallRuleAdded{"keep me"},
      RouteAdded{"10.0.0.0/8", std::nullopt, std::nullopt, std::nullopt},
  });
  ASSERT_TRUE(write_file(state(), original));
  ASSERT_TRUE(write_file(meta(), format_meta({2, 5})));
  std::filesystem::create_directory(std::filesystem::path(state() + L".tmp"));
  answer("netsh\tadvfirewall\t1\tAccess is denied.\\r\\n\n");

  EXPECT_EQ(recover(), "errors 1\ndelete firewall rule failed: Access is denied.\\r\\n\n");
  EXPECT_EQ(read_file(state()), original);
  const auto counted = parse_meta(read_file(meta()).value_or(""));
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->partial_rollback_count, 3u);
  EXPECT_EQ(data_files(),
            (std::vector<std::wstring>{L"system_state.json", L"system_state.json.meta",
                                       L"system_state.json.tmp"}));
}

// Two recoveries of one journal at once, as when two client instances die
// together: the second waits for the first and then finds nothing left, so
// every undo runs once. The second names the journal in another case and
// through "..", and still finds the same lock.
TEST_F(SystemStateRecovery, TwoRecoveriesOfOneJournalRunEveryUndoOnce) {
  ASSERT_TRUE(write_file(state(), format_journal({
                                      TunInterfaceUp{"utun-nuv", "10.8.0.2", "255.255.255.0"},
                                      RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
                                      FirewallRuleAdded{"NUV block"},
                                  })));
  ASSERT_TRUE(write_file(meta(), format_meta({2, 5})));
  std::wstring other_spelling = root_ + L"\\appdata\\..\\appdata";
  std::transform(other_spelling.begin(), other_spelling.end(), other_spelling.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  ASSERT_NE(other_spelling, root_ + L"\\appdata");
  const std::map<std::wstring, std::optional<std::wstring>> slow{
      {L"NUV_STAND_IN_SLEEP_MS", L"1500"}};

  auto first = start_recovery(std::nullopt, false, slow);
  auto second = start_recovery(other_spelling, false, slow);
  std::vector<std::string> outcomes{finish(first), finish(second)};
  std::sort(outcomes.begin(), outcomes.end());
  EXPECT_EQ(outcomes, (std::vector<std::string>{"absent\n", "errors 0\n"}));
  EXPECT_EQ(commands(), (std::vector<std::string>{
                            "netsh\tadvfirewall\tfirewall\tdelete\trule\tname=NUV block",
                            "route\tdelete\t0.0.0.0/1\t10.8.0.1",
                            "netsh\tinterface\tip\tdelete\taddress\tutun-nuv\t10.8.0.2",
                        }));
  EXPECT_TRUE(data_files().empty());
}

// A recovery killed while it holds the lock does not block the journal: the
// system hands the lock to the next one, which undoes everything.
TEST_F(SystemStateRecovery, AKilledHolderOfTheLockDoesNotBlockTheNextRecovery) {
  const std::string journal = format_journal({
      FirewallRuleAdded{"NUV block"},
      RouteAdded{"0.0.0.0/1", std::nullopt, std::nullopt, std::nullopt},
  });
  ASSERT_TRUE(write_file(state(), journal));
  auto killed = start_recovery(std::nullopt, false, {{L"NUV_STAND_IN_SLEEP_MS", L"5000"}});
  // Its first tool has started: it holds the lock.
  for (int i = 0; i < 600 && commands().empty(); ++i) ::Sleep(50);
  ASSERT_EQ(commands().size(), 1u);
  ASSERT_TRUE(::TerminateProcess(killed.process.get(), 99));
  EXPECT_EQ(wait_for_exit(killed.process.get()), 99u);
  EXPECT_EQ(read_file(state()), journal);

  EXPECT_EQ(recover(), "errors 0\n");
  EXPECT_EQ(commands(), (std::vector<std::string>{
                            "route\tdelete\t0.0.0.0/1",
                            "route\tdelete\t0.0.0.0/1",
                            "netsh\tadvfirewall\tfirewall\tdelete\trule\tname=NUV block",
                        }));
  EXPECT_TRUE(data_files().empty());
  // The killed run's tool sleeps on; the folder can go once it has ended.
  for (int i = 0; i < 200 && !::DeleteFileW((root_ + L"\\route.exe").c_str()); ++i) ::Sleep(50);
}

std::optional<std::wstring> proxy_value(const wchar_t* name, DWORD* number = nullptr) {
  const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  if (number) {
    DWORD size = sizeof(DWORD);
    if (::RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, number, &size))
      return std::nullopt;
    return L"";
  }
  wchar_t text[512];
  DWORD size = sizeof text;
  if (::RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text, &size))
    return std::nullopt;
  return std::wstring(text);
}

// Read back too: Wine's reg really writes, so the values read back as restored.
TEST_F(SystemStateRecovery, ProxySettingsAreRestoredWithTheSystemsOwnReg) {
  read_back_ = true;
  SavedProxyValues saved;
  ASSERT_TRUE(write_file(state(), format_journal({SystemProxySet{true, "proxy.test:3128"}})));
  EXPECT_EQ(recover(), "errors 0\n");
  DWORD enabled = 7;
  ASSERT_TRUE(proxy_value(L"ProxyEnable", &enabled));
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(proxy_value(L"ProxyServer"), L"proxy.test:3128");

  // Without a server to restore, ProxyServer is left as it is.
  ASSERT_TRUE(write_file(state(), format_journal({SystemProxySet{false, std::nullopt}})));
  EXPECT_EQ(recover(), "errors 0\n");
  ASSERT_TRUE(proxy_value(L"ProxyEnable", &enabled));
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(proxy_value(L"ProxyServer"), L"proxy.test:3128");
  EXPECT_TRUE(commands().empty());  // no stand-in was asked
}

TEST_F(SystemStateRecovery, NothingToRecoverLeavesEveryFileAsItWas) {
  const std::string journal = format_journal({FirewallRuleAdded{"r"}});
  ASSERT_TRUE(write_file(state(), journal));
  EXPECT_EQ(recover(std::nullopt, /*unset=*/true), "absent\n");
  EXPECT_EQ(recover(root_ + L"\\elsewhere"), "absent\n");

  for (const std::string& text : {std::string("[]"), std::string(""), "\xEF\xBB\xBF" + journal,
                                  journal.substr(0, journal.size() / 2)}) {
    ASSERT_TRUE(write_file(state(), text));
    EXPECT_EQ(recover(), "absent\n");
    EXPECT_EQ(read_file(state()), text);
  }
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(data_files(), std::vector<std::wstring>{L"system_state.json"});
}

}  // namespace
}  // namespace nuv::test

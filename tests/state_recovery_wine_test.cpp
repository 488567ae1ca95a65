// The state recovery on the real runner: a driver program runs it in a
// folder of its own, beside stand-ins for netsh, route and powershell that log
// their arguments and answer as each test says, with APPDATA pointing at a
// temporary folder. reg is Wine's own.
#include <gtest/gtest.h>

#include <filesystem>

#include "state/journal_format.h"
#include "support/process_win.h"

namespace nuv::test {
namespace {

class StateRecoveryOnWine : public testing::Test {
 protected:
  void SetUp() override {
    root_ = unique_temp_path(L"recovery");
    data_ = root_ + L"\\appdata\\NUV Client";
    std::filesystem::create_directories(std::filesystem::path(data_));
    const std::wstring bin = program_folder();
    ASSERT_TRUE(::CopyFileW((bin + L"nuv-recover-state.exe").c_str(), driver().c_str(), FALSE));
    for (const wchar_t* tool : {L"netsh", L"route", L"powershell"}) {
      ASSERT_TRUE(::CopyFileW((bin + L"nuv-stand-in-tool.exe").c_str(),
                              (root_ + L"\\" + tool + L".exe").c_str(), FALSE));
    }
    ASSERT_TRUE(write_file(root_ + L"\\answers.txt", ""));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(root_), ignored);
  }

  std::wstring driver() const { return root_ + L"\\nuv-recover-state.exe"; }
  std::wstring state() const { return data_ + L"\\system_state.json"; }
  std::wstring meta() const { return state() + L".meta"; }

  void answer(const std::string& script) {
    ASSERT_TRUE(write_file(root_ + L"\\answers.txt", script));
  }

  // Runs the recovery; returns its printed outcome.
  std::string recover(std::optional<std::wstring> appdata = std::nullopt, bool unset = false) {
    const auto block = environment_block({
        {L"APPDATA", unset ? std::nullopt : std::optional(appdata.value_or(root_ + L"\\appdata"))},
        {L"NUV_STAND_IN_LOG", root_ + L"\\tools.log"},
        {L"NUV_STAND_IN_SCRIPT", root_ + L"\\answers.txt"},
    });
    auto child = start_captured(driver(), L"nuv-recover-state", block);
    const std::string output = read_to_end(child.stdout_read.get());
    EXPECT_EQ(wait_for_exit(child.process.get()), 0u);
    return output;
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

  std::wstring root_, data_;
};

TEST_F(StateRecoveryOnWine, EveryChangeIsUndoneNewestFirstWithItsExactCommand) {
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

TEST_F(StateRecoveryOnWine, FailedUndoStaysInTheJournalAndIsCounted) {
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

TEST_F(StateRecoveryOnWine, ProxySettingsAreRestoredWithTheSystemsOwnReg) {
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

TEST_F(StateRecoveryOnWine, NothingToRecoverLeavesEveryFileAsItWas) {
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

// Shows the watchdog's main job. A stand-in client starts nuv-watchdog, then
// shuts down in order, or crashes; after a crash the watchdog closes the
// client's adapters and rolls its journal back.
//
// Everything happens in a temporary folder: a copy of nuv-watchdog.exe, with
// stand-ins beside it for netsh, route and powershell (they log their
// arguments and answer as told) and for wintun.dll (its adapters are
// "utun-nuv" and "NuvCore"); APPDATA and TEMP point into that folder. reg.exe
// is Wine's own. The watchdog's standard error is this program's, so its
// lines appear between this program's narration.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/unique_handle.h"
#include "common/wide.h"
#include "state/journal_format.h"

namespace {

std::wstring program_folder() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

void say(const std::string& text) {
  std::fprintf(stderr, "demo: %s\n", text.c_str());
  std::fflush(stderr);
}

std::string narrow(const std::wstring& text) { return nuv::from_wide(text).value_or("?"); }

struct Process {
  nuv::UniqueHandle handle;
  DWORD pid = 0;
};

Process start(const std::wstring& program, const std::wstring& command_line,
              const std::wstring* environment) {
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  std::wstring block = environment ? *environment : L"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        environment ? CREATE_UNICODE_ENVIRONMENT : 0,
                        environment ? block.data() : nullptr, nullptr, &startup, &info)) {
    say("cannot start " + narrow(program) + " (error " + std::to_string(::GetLastError()) + ")");
    std::exit(3);
  }
  ::CloseHandle(info.hThread);
  return {nuv::UniqueHandle(info.hProcess), info.dwProcessId};
}

DWORD wait_exit(const Process& process) {
  ::WaitForSingleObject(process.handle.get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.handle.get(), &code);
  return code;
}

std::string read_file(const std::filesystem::path& path) {
  nuv::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  return text;
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  nuv::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD wrote = 0;
  ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
}

void show_file(const std::string& title, const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) {
    say(title + ": (no file)");
    return;
  }
  say(title + ":");
  std::string text = read_file(path);
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

// The environment of this process with the demo's variables.
std::wstring environment(const std::filesystem::path& root) {
  std::wstring block;
  wchar_t* current = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = current; *entry; entry += std::wcslen(entry) + 1) {
    const std::wstring text(entry);
    for (const wchar_t* name : {L"APPDATA=", L"TEMP=", L"TMP=", L"NUV_"}) {
      if (::_wcsnicmp(text.c_str(), name, std::wcslen(name)) == 0) goto skip;
    }
    block += text + L'\0';
  skip:;
  }
  ::FreeEnvironmentStringsW(current);
  const std::pair<const wchar_t*, std::wstring> ours[] = {
      {L"APPDATA", (root / L"appdata").wstring()},
      {L"TEMP", (root / L"temp").wstring()},
      {L"NUV_STAND_IN_LOG", (root / L"tools.log").wstring()},
      {L"NUV_STAND_IN_SCRIPT", (root / L"answers.txt").wstring()},
      {L"NUV_WINTUN_LOG", (root / L"wintun.log").wstring()},
      {L"NUV_WINTUN_ADAPTERS", L"utun-nuv;NuvCore"},
  };
  for (const auto& [name, value] : ours) block += std::wstring(name) + L"=" + value + L'\0';
  return block + L'\0';
}

// Lines appended to a log since `seen` bytes.
std::string new_lines(const std::filesystem::path& log, std::size_t& seen) {
  const std::string text = read_file(log);
  const std::string fresh = text.size() > seen ? text.substr(seen) : "";
  seen = text.size();
  return fresh;
}

// Prints the new lines of a log; an adapter that was asked for and is not
// there is only counted.
void show_log(const std::string& title, const std::filesystem::path& log, std::size_t& seen) {
  const std::string fresh = new_lines(log, seen);
  say(title + (fresh.empty() ? ": nothing" : ":"));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = fresh.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(fresh.substr(start, end - start));
    for (auto& c : lines.back())
      if (c == '\t') c = ' ';
  }
  int absent = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool opened = i + 1 < lines.size() && lines[i + 1].starts_with("WintunCloseAdapter");
    if (lines[i].starts_with("WintunOpenAdapter") && !opened) {
      ++absent;
      continue;
    }
    std::fprintf(stderr, "    %s\n", lines[i].c_str());
  }
  if (absent > 0)
    std::fprintf(stderr, "    (and %d more WintunOpenAdapter calls for names that are not there)\n",
                 absent);
  std::fflush(stderr);
}

void show_proxy_settings() {
  const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  DWORD enabled = 0, size = sizeof enabled;
  wchar_t server[512] = L"";
  DWORD server_size = sizeof server;
  const bool has_enabled = ::RegGetValueW(HKEY_CURRENT_USER, key, L"ProxyEnable", RRF_RT_REG_DWORD,
                                          nullptr, &enabled, &size) == 0;
  const bool has_server = ::RegGetValueW(HKEY_CURRENT_USER, key, L"ProxyServer", RRF_RT_REG_SZ,
                                         nullptr, server, &server_size) == 0;
  say("per-user proxy now (written by Wine's reg.exe): ProxyEnable=" +
      (has_enabled ? std::to_string(enabled) : std::string("(none)")) +
      " ProxyServer=" + (has_server ? narrow(server) : std::string("(none)")));
}

struct Demo {
  std::filesystem::path root;
  std::wstring env;
  std::size_t tools_seen = 0, wintun_seen = 0, log_seen = 0;

  std::filesystem::path log() const {
    return root / L"appdata" / L"NUV Client" / L"nuv-watchdog.log";
  }

  std::filesystem::path journal() const {
    return root / L"appdata" / L"NUV Client" / L"system_state.json";
  }

  // Starts a stand-in client and a watchdog on it; then the client either
  // writes its flag and exits, or is killed.
  void run(bool orderly) {
    const std::filesystem::path flag = root / L"clean.flag";
    const Process client =
        start(program_folder() + L"nuv-demo.exe", L"nuv-demo --stand-in-client", nullptr);
    const std::wstring arguments = std::to_wstring(client.pid) + L" \"" + flag.wstring() + L"\"";
    say("stand-in client (pid " + std::to_string(client.pid) + ") starts: nuv-watchdog " +
        narrow(arguments));
    const Process dog =
        start((root / L"nuv-watchdog.exe").wstring(), L"nuv-watchdog " + arguments, &env);
    ::Sleep(1000);
    if (orderly) {
      say("client writes the clean flag and exits");
      write_file(flag, "");
      ::TerminateProcess(client.handle.get(), 0);
    } else {
      say("client crashes: killed without writing the clean flag");
      ::TerminateProcess(client.handle.get(), 0xC0000005);
    }
    const DWORD code = wait_exit(dog);
    say("watchdog exit code " + std::to_string(code));
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--stand-in-client") {
    ::Sleep(INFINITE);
    return 0;
  }
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
  Demo demo;
  demo.root = std::filesystem::path(std::wstring(temp, n)) /
              (L"nuv-demo-" + std::to_wstring(::GetCurrentProcessId()));
  std::filesystem::create_directories(demo.root / L"appdata" / L"NUV Client");
  std::filesystem::create_directories(demo.root / L"temp");
  const std::wstring bin = program_folder();
  std::filesystem::copy_file(bin + L"nuv-watchdog.exe", demo.root / L"nuv-watchdog.exe");
  std::filesystem::copy_file(bin + L"wintun-stand-in\\full\\wintun.dll", demo.root / L"wintun.dll");
  for (const wchar_t* tool : {L"netsh.exe", L"route.exe", L"powershell.exe"}) {
    std::filesystem::copy_file(bin + L"nuv-stand-in-tool.exe", demo.root / tool);
  }
  write_file(demo.root / L"answers.txt", "");
  demo.env = environment(demo.root);
  say("working in " + narrow(demo.root.wstring()));
  say("beside nuv-watchdog.exe: STAND-IN netsh.exe, route.exe, powershell.exe (they log and answer "
      "as told)");
  say("and a STAND-IN wintun.dll whose adapters are \"utun-nuv\" and \"NuvCore\"; reg.exe is "
      "Wine's own");
  const std::filesystem::path tools_log = demo.root / L"tools.log",
                              wintun_log = demo.root / L"wintun.log";

  say("");
  say("1. orderly shutdown");
  demo.run(true);
  show_log("the watchdog's own log, nuv-watchdog.log beside the journal", demo.log(),
           demo.log_seen);

  say("");
  say("2. crash, with a journal of one change of each kind");
  write_file(demo.journal(),
             nuv::format_journal({
                 nuv::TunInterfaceUp{"utun-nuv", "10.8.0.2", "255.255.255.0"},
                 nuv::RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
                 nuv::DnsOverridden{"Wi-Fi", 12u, {"192.168.1.1", "1.1.1.1"}},
                 nuv::FirewallRuleAdded{"NUV kill switch"},
                 nuv::SystemProxySet{false, "proxy.corp.example:3128"},
                 nuv::CustomCommand{"restore hosts file", {"netsh", "custom", "restore-hosts"}},
             }));
  show_file("journal before", demo.journal());
  demo.run(false);
  show_log("stand-in wintun.dll was asked", wintun_log, demo.wintun_seen);
  show_log("stand-in tools were asked (newest change first)", tools_log, demo.tools_seen);
  show_proxy_settings();
  show_file("journal after", demo.journal());
  show_file("meta file after", demo.journal().wstring() + L".meta");
  show_log("the watchdog's own log gained", demo.log(), demo.log_seen);

  say("");
  say("3. crash in which one undo fails: the stand-in netsh refuses to delete the firewall rule");
  write_file(demo.root / L"answers.txt", "netsh\tadvfirewall\t1\tAccess is denied.\\r\\n\n");
  write_file(demo.journal(),
             nuv::format_journal({
                 nuv::RouteAdded{"0.0.0.0/1", "10.8.0.1", std::nullopt, std::nullopt},
                 nuv::FirewallRuleAdded{"NUV kill switch"},
             }));
  show_file("journal before", demo.journal());
  demo.run(false);
  show_log("stand-in tools were asked", tools_log, demo.tools_seen);
  show_file("journal after (the change that failed, kept for a later run)", demo.journal());
  show_file("meta file after (one partial rollback counted)", demo.journal().wstring() + L".meta");
  show_log("the watchdog's own log gained", demo.log(), demo.log_seen);

  std::error_code ignored;
  std::filesystem::remove_all(demo.root, ignored);
  return 0;
}

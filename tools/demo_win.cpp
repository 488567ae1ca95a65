// Shows the watchdog's main job. A stand-in client starts nuv-watchdog, then
// shuts down in order, or crashes; after a crash the watchdog closes the
// client's adapters and rolls its journal back. Last, a power cut takes the
// watchdog down with the client, and the client's next start runs --plan and
// --recover. Last, tools that lie: each undo is judged by what the machine
// holds, read back after its tool ran.
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

#include "platform/rollback/ip_address.h"
#include "platform/rollback/read_back_win.h"
#include "state/journal_format.h"
#include "state/state_paths.h"
#include "tools/support/files_win.h"
#include "tools/support/process_win.h"
#include "tools/support/text.h"
#include "watchdog/log_files.h"

namespace {

using nuv::support::narrow;
using nuv::support::widen;

void say(const std::string& text) {
  std::fprintf(stderr, "demo: %s\n", text.c_str());
  std::fflush(stderr);
}

// The demonstration cannot go on without what failed.
template <class T>
T or_stop(nuv::support::Win32Result<T> result) {
  if (!result) {
    say(result.error().text());
    std::exit(3);
  }
  return std::move(*result);
}

void or_stop(const nuv::support::Win32Result<void>& result) {
  if (!result) {
    say(result.error().text());
    std::exit(3);
  }
}

const std::wstring& program_folder() {
  static const std::wstring folder = or_stop(nuv::support::program_folder());
  return folder;
}

// Every process of the demonstration shares our standard handles, so that
// the watchdog's lines appear among ours.
nuv::support::StartedProcess start(const std::wstring& program, const std::wstring& command_line,
                                   const std::optional<std::wstring>& environment) {
  return or_stop(
      nuv::support::start_process(program, command_line, nuv::support::inheriting(environment)));
}

// A whole file, even one still open for writing; a missing one reads as
// empty.
std::string read_file(const std::filesystem::path& path) {
  auto text = nuv::support::read_file(path.wstring(), FILE_SHARE_READ | FILE_SHARE_WRITE);
  return text ? std::move(*text) : std::string();
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  or_stop(nuv::support::write_file(path.wstring(), text));
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

// The environment of this process with the demo's variables, and none of
// the NUV_ variables that the caller may have.
std::wstring environment(const std::filesystem::path& root) {
  return or_stop(nuv::support::environment_block(
      {
          {L"APPDATA", (root / L"appdata").wstring()},
          {L"TEMP", (root / L"temp").wstring()},
          {L"TMP", std::nullopt},
          {L"NUV_STAND_IN_LOG", (root / L"tools.log").wstring()},
          {L"NUV_STAND_IN_SCRIPT", (root / L"answers.txt").wstring()},
          {L"NUV_WINTUN_LOG", (root / L"wintun.log").wstring()},
          {L"NUV_WINTUN_ADAPTERS", L"utun-nuv;NuvCore"},
      },
      {L"NUV_"}));
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
  std::vector<std::string> lines = nuv::support::split_lines(fresh);
  for (auto& line : lines) {
    for (auto& c : line)
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

  // The client's files, where the program finds them.
  std::string appdata() const { return narrow((root / L"appdata").wstring()); }
  std::filesystem::path data_folder() const { return widen(nuv::data_folder(appdata())); }
  std::filesystem::path log() const { return data_folder() / widen(nuv::kLogFileName); }
  std::filesystem::path journal() const { return widen(nuv::state_paths(appdata()).state); }

  std::filesystem::path flag() const { return root / L"clean.flag"; }

  // A stand-in client and its watchdog, a second after both started.
  struct Session {
    nuv::support::StartedProcess client, dog;
  };
  Session start_session() {
    auto client =
        start(program_folder() + L"nuv-demo.exe", L"nuv-demo --stand-in-client", std::nullopt);
    const std::wstring arguments = std::to_wstring(client.pid) + L" \"" + flag().wstring() + L"\"";
    say("stand-in client (pid " + std::to_string(client.pid) + ") starts: nuv-watchdog " +
        narrow(arguments));
    auto dog = start((root / L"nuv-watchdog.exe").wstring(), L"nuv-watchdog " + arguments, env);
    ::Sleep(1000);
    return {std::move(client), std::move(dog)};
  }

  // Starts a stand-in client and a watchdog on it; then the client either
  // writes its flag and exits, or is killed.
  void run(bool orderly) {
    const auto [client, dog] = start_session();
    if (orderly) {
      say("client writes the clean flag and exits");
      write_file(flag(), "");
      ::TerminateProcess(client.process.get(), 0);
    } else {
      say("client crashes: killed without writing the clean flag");
      ::TerminateProcess(client.process.get(), 0xC0000005);
    }
    const DWORD code = or_stop(nuv::support::wait_for_exit(dog.process.get()));
    say("watchdog exit code " + std::to_string(code));
  }

  // Runs nuv-watchdog with the arguments of one of its keyword forms; its
  // standard output and error are ours.
  void ask(const std::wstring& arguments) {
    say("$ nuv-watchdog " + narrow(arguments));
    const auto dog =
        start((root / L"nuv-watchdog.exe").wstring(), L"nuv-watchdog " + arguments, env);
    const DWORD code = or_stop(nuv::support::wait_for_exit(dog.process.get()));
    say("exit code " + std::to_string(code));
  }

  // A power cut: the client and its watchdog go down together, and nothing
  // is undone. A request for recovery while the client still runs is
  // refused first.
  void power_cut() {
    const auto [client, dog] = start_session();
    say("while the client runs, a recovery on request is refused:");
    ask(L"--recover");
    say("power cut: the watchdog and the client are killed together");
    ::TerminateProcess(dog.process.get(), 1);
    ::TerminateProcess(client.process.get(), 1);
    ::WaitForSingleObject(dog.process.get(), INFINITE);
    ::WaitForSingleObject(client.process.get(), INFINITE);
  }
};

// A route this machine has now, as a journal would name it: the demo's own
// on NuvCore inside its network namespace when there is one, else the first
// IPv4 route the table lists.
std::optional<nuv::RouteAdded> live_route() {
  const auto routes = nuv::windows_read_back_system().routes();
  if (!routes) return std::nullopt;
  std::optional<nuv::RouteRow> chosen;
  for (const nuv::RouteRow& row : *routes) {
    if (row.destination.family != nuv::IpAddress::Family::kV4) continue;
    if (!chosen || nuv::ip_address_text(row.destination) == "10.77.0.0") chosen = row;
  }
  if (!chosen) return std::nullopt;
  const std::optional<std::string> gateway =
      chosen->next_hop == nuv::IpAddress{} ? std::nullopt
                                           : std::optional(nuv::ip_address_text(chosen->next_hop));
  return nuv::RouteAdded{
      nuv::ip_address_text(chosen->destination) + "/" + std::to_string(chosen->prefix_length),
      gateway, std::nullopt, std::nullopt};
}

// What a run left in the client's folder: the journal, the meta file and the
// lines the watchdog's log gained.
void show_what_the_run_left(Demo& demo, const std::string& journal_title,
                            const std::string& meta_title) {
  show_file(journal_title, demo.journal());
  show_file(meta_title, demo.journal().wstring() + L".meta");
  show_log("the watchdog's own log gained", demo.log(), demo.log_seen);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--stand-in-client") {
    ::Sleep(INFINITE);
    return 0;
  }
  // Removed with all it holds when the demonstration ends.
  const nuv::support::ScratchFolder scratch = or_stop(
      nuv::support::ScratchFolder::make(or_stop(nuv::support::temp_folder()) + L"nuv-demo-" +
                                        std::to_wstring(::GetCurrentProcessId())));
  Demo demo;
  demo.root = scratch.path();
  or_stop(nuv::support::make_folders(demo.data_folder().wstring()));
  or_stop(nuv::support::make_folders((demo.root / L"temp").wstring()));
  const std::wstring bin = program_folder();
  const auto copy = [](const std::wstring& from, const std::filesystem::path& to) {
    or_stop(nuv::support::copy_file(from, to.wstring()));
  };
  copy(bin + L"nuv-watchdog.exe", demo.root / L"nuv-watchdog.exe");
  copy(bin + L"wintun-stand-in\\full\\wintun.dll", demo.root / L"wintun.dll");
  for (const wchar_t* tool : {L"netsh.exe", L"route.exe", L"powershell.exe"}) {
    copy(bin + L"nuv-stand-in-tool.exe", demo.root / tool);
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
  show_what_the_run_left(demo, "journal after", "meta file after");

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
  show_what_the_run_left(demo, "journal after (the change that failed, kept for a later run)",
                         "meta file after (one partial rollback counted)");

  say("");
  say("4. power cut: the client and its watchdog die together, and the journal is left behind");
  write_file(demo.root / L"answers.txt", "");
  new_lines(wintun_log, demo.wintun_seen);  // what the crash of act 3 asked is not shown
  write_file(demo.journal(), nuv::format_journal({
                                 nuv::RouteAdded{"0.0.0.0/1", "10.8.0.1", "utun-nuv", 5u},
                                 nuv::FirewallRuleAdded{"NUV kill switch"},
                                 nuv::SystemProxySet{true, "proxy.corp.example:3128"},
                             }));
  demo.power_cut();
  show_log("stand-in tools were asked", tools_log, demo.tools_seen);
  show_file("journal after the power cut (nothing was undone)", demo.journal());
  say("at its next start, the client asks what a recovery would do, then runs it:");
  demo.ask(L"--plan");
  demo.ask(L"--recover");
  show_log("stand-in wintun.dll was asked", wintun_log, demo.wintun_seen);
  show_log("stand-in tools were asked (newest change first)", tools_log, demo.tools_seen);
  show_proxy_settings();
  show_file("journal after", demo.journal());
  show_log("the watchdog's own log gained", demo.log(), demo.log_seen);

  say("");
  say("5. tools that lie: each undo is judged by what the machine holds, read back after its tool");
  const auto route = live_route();
  std::vector<nuv::SystemChange> journal;
  if (route) {
    say("the stand-in route says yes to deleting " + route->destination +
        " and leaves it: this machine really has that route");
    journal.emplace_back(*route);
  } else {
    say("this machine lists no IPv4 route, so no change can be shown still in place");
  }
  say("and the route 198.51.100.0/24 and the address 10.8.0.2 are already gone, while their "
      "stand-ins fail in a language the watchdog does not know, on standard output");
  journal.emplace_back(nuv::RouteAdded{"198.51.100.0/24", "10.8.0.1", "utun-nuv", 5u});
  journal.emplace_back(nuv::TunInterfaceUp{"utun-nuv", "10.8.0.2", "255.255.255.0"});
  write_file(demo.root / L"answers.txt",
             "route\t198.51.100.0/24\t1\t\tDie Route wurde nicht gel\xC3\xB6scht.\\r\\n\n"
             "netsh\t10.8.0.2\t1\t\tAdresse unbekannt.\\r\\n\n");
  write_file(demo.journal(), nuv::format_journal(journal));
  say("before anything runs, support asks what is still there:");
  demo.ask(L"--plan");
  demo.ask(L"--recover");
  show_log("stand-in tools were asked (newest change first)", tools_log, demo.tools_seen);
  show_file("journal after (only the route that is really still there)", demo.journal());
  show_log("the watchdog's own log gained", demo.log(), demo.log_seen);
  return 0;
}

// nuv-watchdog <parent_pid> <clean_flag_path>
// nuv-watchdog --recover | --plan [journal_path] | --help | /? | --version
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/environment_win.h"
#include "common/log.h"
#include "common/log_line.h"
#include "platform/process/child_standard_input_win.h"
#include "platform/wintun/orphan_cleanup_win.h"
#include "state/state_paths.h"
#include "state/state_recovery.h"
#include "watchdog/command_line.h"
#include "watchdog/console_interrupts_win.h"
#include "watchdog/exit_codes.h"
#include "watchdog/log_file_win.h"
#include "watchdog/log_files.h"
#include "watchdog/logged_sink.h"
#include "watchdog/message_sink_win.h"
#include "watchdog/messages.h"
#include "watchdog/monitor.h"
#include "watchdog/monitor_system_win.h"
#include "watchdog/monitoring_marker_win.h"
#include "watchdog/recovery.h"
#include "watchdog/recovery_on_request.h"
#include "watchdog/recovery_on_request_win.h"
#include "watchdog/recovery_plan.h"
#include "watchdog/recovery_plan_win.h"
#include "watchdog/system_state_recovery_win.h"

// Arguments are taken as given: no wildcard expansion by the C runtime.
extern "C" {
int _dowildcard = 0;
}

namespace nuv {
namespace {

// The log lives beside the journal, found the same way.
struct ClientFiles {
  std::optional<std::string> data_folder;
  std::optional<std::string> state_path;
};

ClientFiles client_files() {
  const auto appdata = environment_variable(L"APPDATA");
  if (!appdata) return {};
  return {data_folder(*appdata), state_paths(*appdata).state};
}

// What one run writes to and hands its tools, the same for both forms that
// recover: the log, the messages kept in it too, the detail lines within their
// budget, and the tools' standard input, whose one line goes among the details.
struct RunOutputs {
  RunOutputs(std::optional<std::string> data_folder, MessageSink& standard_error,
             StandardInputAtStart input)
      : log(std::move(data_folder)),
        sink(standard_error, log),
        details(log, kDetailLogBudget, kLogLineOverhead),
        standard_input(input, details) {}

  LogFile log;
  LoggedSink sink;
  BudgetedLog details;
  ChildStandardInput standard_input;
};

// Raises a marker of the journal, logging why when it cannot be.
void raise_marker(JournalMarker& marker, MarkerKind kind, const std::string& state_path,
                  Log& details) {
  if (const auto raised = marker.raise(state_path); !raised) {
    details.write(std::string(marker_text(kind)) + " not raised: " + raised.error());
  }
}

int watch(const WatchdogArguments& arguments, StandardInputAtStart input,
          MessageSink& standard_error) {
  const ClientFiles files = client_files();
  RunOutputs run(files.data_folder, standard_error, input);
  BudgetedLog& details = run.details;
  // Both live as long as the run: the pending marker of an orderly end goes
  // with the process.
  JournalMarker monitoring(MarkerKind::kMonitoring);
  JournalMarker pending(MarkerKind::kPending);
  const RecoverySteps steps{
      .clean_wintun_orphans = [&details] { return clean_wintun_orphans(details); },
      .recover_system_state =
          [&run, &pending] {
            // Lowered on this thread once the lock is held: the lock then
            // shows what the pending marker showed.
            return recover_system_state(run.details, &run.standard_input,
                                        [&pending] { pending.lower(); });
          },
      .out_of_memory = out_of_memory_report(details),
  };
  MonitorSystem system = windows_monitor_system();
  if (files.state_path) {
    const std::string& path = *files.state_path;
    system.raise_monitoring_marker = [&monitoring, &details, &path] {
      raise_marker(monitoring, MarkerKind::kMonitoring, path, details);
    };
    system.lower_monitoring_marker = [&monitoring] { monitoring.lower(); };
    system.raise_pending_marker = [&pending, &details, &path] {
      raise_marker(pending, MarkerKind::kPending, path, details);
    };
  }
  system.log = [&details](std::string_view line) { details.write(line); };
  return run_watchdog(arguments, system, run.sink, [&] { run_recovery(run.sink, steps); });
}

int recover(StandardInputAtStart input, MessageSink& standard_error) {
  RunOutputs run(client_files().data_folder, standard_error, input);
  return recover_on_request(run.sink,
                            windows_recovery_on_request_system(run.details, run.standard_input));
}

int answer(const std::vector<std::string>& lines) {
  StandardOutputSink out;
  for (const auto& line : lines) out.write_line(line);
  return kExitClean;
}

}  // namespace
}  // namespace nuv

int wmain(int argc, wchar_t** argv) {
  // First: once we hold handles of our own, a standard input value that
  // named none could name one of them.
  const nuv::StandardInputAtStart input = nuv::examine_standard_input();
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i], argv[i] + std::wcslen(argv[i]));
  }
  nuv::StandardErrorSink standard_error;
  auto invocation = nuv::parse_invocation(arguments);
  if (!invocation) {
    standard_error.write_line(invocation.error().message);
    return nuv::kExitUsage;
  }
  struct Dispatch {
    nuv::StandardInputAtStart input;
    nuv::MessageSink& standard_error;
    int operator()(const nuv::WatchdogArguments& watched) const {
      // Started by the client and never interactive, it may share the
      // client's console: a Ctrl+C meant for the client must not kill the
      // one process that would repair the client's crash.
      // Without the handler it watches all the same, as any console program.
      (void)nuv::ignore_console_interrupts();
      return nuv::watch(watched, input, standard_error);
    }
    int operator()(const nuv::RecoverRequest&) const { return nuv::recover(input, standard_error); }
    int operator()(const nuv::PlanRequest& plan) const {
      nuv::StandardOutputSink out;
      return nuv::show_recovery_plan(plan, nuv::windows_plan_system(), out);
    }
    int operator()(const nuv::HelpRequest&) const { return nuv::answer(nuv::help_lines()); }
    int operator()(const nuv::VersionRequest&) const {
      return nuv::answer({nuv::version_message(NUV_VERSION_TEXT)});
    }
  };
  return std::visit(Dispatch{input, standard_error}, *invocation);
}

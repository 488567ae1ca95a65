#include "platform/process/child_start_win.h"

#include <mutex>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "common/utf.h"
#include "platform/process/child_standard_input_win.h"
#include "platform/process/inherited_handle_list_win.h"
#include "platform/process/output_pipe_win.h"
#include "platform/process/process_creation_flags.h"
#include "platform/process/program_search_system_win.h"
#include "platform/process/system_path_win.h"
#include "platform/process/windows_command_line.h"

namespace nuv {
namespace {

// Held from the preparation of a child's inheritable handles until they are
// closed again, so that no other child started at the same moment inherits
// them.
std::mutex& process_creation_lock() {
  static std::mutex lock;
  return lock;
}

// What CreateProcessW is given: the file to start and the line it reads.
struct Launch {
  std::u16string application;
  std::u16string command_line;
};

// The program as the search resolved it: the file started, or for a batch
// run the script that cmd.exe runs.
std::string program_text(const std::u16string& resolved) {
  return utf16_to_utf8(resolved).value_or(std::string());
}

Result<Launch, LaunchError> prepare_launch(const CommandRequest& request,
                                           std::string& program_path) {
  const ProgramSearchSystem system = windows_program_search();
  auto resolved = resolve_program(request.program, system);
  if (!resolved) return unexpected(std::move(resolved).error());
  program_path = program_text(*resolved);
  auto batch = is_batch_program(*resolved, system);
  if (!batch) return unexpected(std::move(batch).error());
  if (*batch) {
    auto launch = build_batch_command_line(*resolved, request.args, system);
    if (!launch) return unexpected(std::move(launch).error());
    return Launch{std::move(launch->application), std::move(launch->command_line)};
  }
  auto line = build_command_line(request.program, request.args);
  if (!line) return unexpected(std::move(line).error());
  return Launch{std::move(*resolved), std::move(*line)};
}

}  // namespace

Result<StartedChild, LaunchError> start_child(const CommandRequest& request,
                                              ChildStandardInput& standard_input,
                                              std::string& program_path) {
  auto launch = prepare_launch(request, program_path);
  if (!launch) return unexpected(std::move(launch).error());
  auto application = to_system_path(launch->application);
  if (!application) return unexpected(std::move(application).error());
  // CreateProcessW may write into the command line, so it gets a copy.
  std::vector<wchar_t> line(launch->command_line.begin(), launch->command_line.end());
  line.push_back(L'\0');

  std::lock_guard creating(process_creation_lock());
  UniqueHandle input = standard_input.for_child();
  auto root = open_pipe_root();
  if (!root) return unexpected(LaunchError::from_os(root.error()));
  auto out = create_output_pipe(root->get());
  if (!out) return unexpected(LaunchError::from_os(out.error()));
  auto err = create_output_pipe(root->get());
  if (!err) return unexpected(LaunchError::from_os(err.error()));

  InheritedHandleList inherited;
  inherited.add(input.get());
  inherited.add(out->child.get());
  inherited.add(err->child.get());
  if (auto built = inherited.build(); !built) {
    return unexpected(LaunchError::from_os(built.error()));
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = out->child.get();
  startup.StartupInfo.hStdError = err->child.get();
  startup.lpAttributeList = inherited.list();
  PROCESS_INFORMATION info{};
  const BOOL created = ::CreateProcessW(
      application->c_str(), line.data(), nullptr, nullptr, TRUE,
      process_creation_flags(request.creation_flags) | EXTENDED_STARTUPINFO_PRESENT, nullptr,
      nullptr, &startup.StartupInfo, &info);
  const DWORD error = ::GetLastError();
  // The child has its copies now; ours must go, or the pipes never reach
  // their end.
  input.reset();
  out->child.reset();
  err->child.reset();
  if (!created) return unexpected(LaunchError::from_os(error));
  return StartedChild{UniqueHandle(info.hProcess), UniqueHandle(info.hThread), std::move(out->ours),
                      std::move(err->ours)};
}

}  // namespace nuv

#include "platform/process/child_start_win.h"

#include <mutex>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "platform/process/child_standard_input_win.h"
#include "platform/process/inherited_handle_list_win.h"
#include "platform/process/output_pipe_win.h"
#include "platform/process/process_creation_flags.h"
#include "platform/process/program_launch.h"
#include "platform/process/program_search_system_win.h"
#include "platform/process/system_path_win.h"

namespace nuv {
namespace {

// Held from the preparation of a child's inheritable handles until they are
// closed again, so that no other child started at the same moment inherits
// them.
std::mutex& process_creation_lock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

Result<StartedChild, LaunchError> start_child(const CommandRequest& request,
                                              ChildStandardInput& standard_input,
                                              std::string& program_path) {
  auto launch = prepare_launch(request, windows_program_search());
  if (!launch) {
    program_path = launch.error().program_path;
    return unexpected(std::move(launch).error());
  }
  program_path = launch->program_path;
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

Result<void, LaunchError> check_application(std::u16string_view application) {
  auto path = to_system_path(application);
  if (!path) return unexpected(std::move(path).error());
  if (::GetFileAttributesW(path->c_str()) == INVALID_FILE_ATTRIBUTES) {
    return unexpected(LaunchError::from_os(::GetLastError()));
  }
  return {};
}

}  // namespace nuv

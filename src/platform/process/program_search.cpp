#include "platform/process/program_search.h"

#include <optional>
#include <utility>

#include "common/ascii.h"
#include "common/path.h"
#include "common/utf.h"

namespace nuv {
namespace {

bool ends_with_ascii_nocase(std::u16string_view text, std::u16string_view suffix) {
  if (text.size() < suffix.size()) return false;
  return equal_ignoring_ascii_case(text.substr(text.size() - suffix.size()), suffix);
}

std::optional<std::u16string> parent_folder(const std::u16string& path) {
  const auto cut = path.find_last_of(u"\\/");
  if (cut == std::u16string::npos) return std::nullopt;
  return path.substr(0, cut);
}

// A folder the system cannot tell is no candidate, whatever the reason.
std::optional<std::u16string> unless_failed(Result<std::u16string, LaunchError> folder) {
  if (!folder) return std::nullopt;
  return std::move(*folder);
}

Result<std::u16string, LaunchError> resolve_path(std::u16string path,
                                                 const ProgramSearchSystem& system) {
  if (path.find(u'\0') != std::u16string::npos) {
    return unexpected(LaunchError::invalid_input(kNulInPathText));
  }
  if (ends_with_ascii_nocase(path, u".exe")) return path;
  std::u16string with_suffix = path + u".exe";
  if (system.exists(with_suffix)) return with_suffix;
  return path;
}

Result<std::u16string, LaunchError> search_bare_name(std::u16string name,
                                                     const ProgramSearchSystem& system) {
  if (name.find(u'\0') != std::u16string::npos) {
    return unexpected(LaunchError::invalid_input(kNulInDataText));
  }
  if (name.find(u'.') == std::u16string::npos) name += u".exe";

  const auto found_in = [&](const std::optional<std::u16string>& folder) {
    return folder && system.exists(join_path(*folder, name));
  };
  std::optional<std::u16string> folder;
  if (auto self = system.executable_path()) folder = parent_folder(*self);
  if (found_in(folder)) return join_path(*folder, name);

  folder = unless_failed(system.system_directory());
  if (found_in(folder)) return join_path(*folder, name);

  folder = unless_failed(system.windows_directory());
  if (found_in(folder)) return join_path(*folder, name);

  if (auto path = system.path_variable()) {
    for (auto& entry : split_path_variable(*path)) {
      if (system.exists(join_path(entry, name))) return join_path(entry, name);
    }
  }
  return unexpected(LaunchError::not_found(kProgramNotFoundText));
}

}  // namespace

Result<std::u16string, LaunchError> resolve_program(std::string_view program,
                                                    const ProgramSearchSystem& system) {
  if (program.empty() || program.back() == '\\' || program.back() == '/') {
    return unexpected(LaunchError::invalid_input(kNoFileNameText));
  }
  auto wide = utf8_to_utf16(program);
  if (!wide) return unexpected(LaunchError::invalid_input(kNotUnicodeText));
  if (wide->find_first_of(u"\\/") != std::u16string::npos) {
    return resolve_path(std::move(*wide), system);
  }
  return search_bare_name(std::move(*wide), system);
}

Result<bool, LaunchError> is_batch_program(const std::u16string& resolved,
                                           const ProgramSearchSystem& system) {
  auto full = system.full_path(resolved);
  if (!full) return unexpected(std::move(full).error());
  return ends_with_ascii_nocase(*full, u".bat") || ends_with_ascii_nocase(*full, u".cmd");
}

std::vector<std::u16string> split_path_variable(std::u16string_view path) {
  std::vector<std::u16string> entries;
  std::u16string entry;
  bool quoted = false;
  for (const char16_t c : path) {
    if (c == u'"') {
      quoted = !quoted;
    } else if (c == u';' && !quoted) {
      if (!entry.empty()) entries.push_back(std::move(entry));
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  if (!entry.empty()) entries.push_back(std::move(entry));
  return entries;
}

}  // namespace nuv

#include "platform/process/windows_command_line.h"

#include <utility>

#include "common/utf.h"

namespace nuv {
namespace {

Result<std::u16string, LaunchError> to_utf16(std::string_view text) {
  auto wide = utf8_to_utf16(text);
  if (!wide) return unexpected(LaunchError::invalid_input(kNotUnicodeText));
  return std::move(*wide);
}

// Characters that cmd.exe reads as nothing but themselves; anything else
// (and an empty argument, or one ending in '\') gets the argument quoted.
bool batch_safe(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
    return true;
  }
  if (c >= 0xA0) return true;
  return std::u16string_view(u"#$*+-./:?@\\_").find(c) != std::u16string_view::npos;
}

}  // namespace

Result<std::u16string, LaunchError> quote_argument(std::string_view argument) {
  if (argument.find('\0') != std::string_view::npos) {
    return unexpected(LaunchError::invalid_input(kNulInDataText));
  }
  auto wide = to_utf16(argument);
  if (!wide) return wide;
  const std::u16string& arg = *wide;
  const bool enclose = arg.empty() || arg.find_first_of(u" \t") != std::u16string::npos;

  std::u16string out;
  out.reserve(arg.size() + 2);
  if (enclose) out.push_back(u'"');
  std::size_t backslashes = 0;
  for (const char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
    } else {
      // n backslashes before a quote become 2n+1, so the quote is literal.
      if (c == u'"') out.append(backslashes + 1, u'\\');
      backslashes = 0;
    }
    out.push_back(c);
  }
  if (enclose) {
    // Doubled, or the closing quote would be read as a literal one.
    out.append(backslashes, u'\\');
    out.push_back(u'"');
  }
  return out;
}

Result<std::u16string, LaunchError> build_command_line(std::string_view program,
                                                       const std::vector<std::string>& args) {
  auto wide_program = to_utf16(program);
  if (!wide_program) return wide_program;
  std::u16string line = u"\"" + *wide_program + u"\"";
  for (const auto& arg : args) {
    auto quoted = quote_argument(arg);
    if (!quoted) return quoted;
    line.push_back(u' ');
    line += *quoted;
  }
  return line;
}

Result<std::u16string, LaunchError> quote_batch_argument(std::string_view argument) {
  if (argument.find_first_of("\r\n") != std::string_view::npos) {
    return unexpected(LaunchError::invalid_input(kBadBatchArgumentText));
  }
  if (argument.find('\0') != std::string_view::npos) {
    return unexpected(LaunchError::invalid_input(kNulInDataText));
  }
  auto wide = to_utf16(argument);
  if (!wide) return wide;
  const std::u16string& arg = *wide;
  bool enclose = arg.empty() || arg.back() == u'\\';
  for (const char16_t c : arg) enclose = enclose || !batch_safe(c);

  std::u16string out;
  if (enclose) out.push_back(u'"');
  std::size_t backslashes = 0;
  for (const char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
      out.push_back(c);
      continue;
    }
    if (c == u'"') {
      out.append(backslashes, u'\\');
      out.push_back(u'"');
    } else if (c == u'%') {
      // "%%cd:~,%" expands to an empty substring of %cd% followed by '%', so
      // whatever follows can never close a variable reference.
      out.append(u"%%cd:~,");
    }
    out.push_back(c);
    backslashes = 0;
  }
  if (enclose) {
    out.append(backslashes, u'\\');
    out.push_back(u'"');
  }
  return out;
}

Result<BatchLaunch, LaunchError> build_batch_command_line(std::u16string_view script,
                                                          const std::vector<std::string>& args,
                                                          const ProgramSearchSystem& system) {
  auto system_folder = system.system_directory();
  if (!system_folder) return unexpected(std::move(system_folder).error());
  BatchLaunch launch;
  launch.application = *system_folder + u"\\cmd.exe";

  if (script.find(u'"') != std::u16string_view::npos ||
      (!script.empty() && script.back() == u'\\')) {
    return unexpected(LaunchError::invalid_input(kBadBatchPathText));
  }
  // The quote after /c stays open to the very end: with /c, cmd.exe strips
  // the outermost pair and runs what is inside unchanged.
  launch.command_line = u"cmd.exe /e:ON /v:OFF /d /c \"\"";
  launch.command_line += script;
  launch.command_line += u"\"";
  for (const auto& arg : args) {
    auto quoted = quote_batch_argument(arg);
    if (!quoted) return unexpected(std::move(quoted).error());
    launch.command_line.push_back(u' ');
    launch.command_line += *quoted;
  }
  launch.command_line.push_back(u'"');
  return launch;
}

}  // namespace nuv

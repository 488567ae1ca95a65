// Random argument lists through build_command_line and back through the
// Microsoft C runtime's splitting rules: every list must come back unchanged,
// since that is all that keeps a journal's argument from becoming two. A list
// with a NUL or invalid UTF-8 must be refused instead.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"
#include "platform/process/windows_command_line.h"
#include "support/msvcrt_split.h"

namespace {

// What quoting has to get right: quotes, runs of backslashes before quotes
// and at the end, spaces, tabs, empty stretches, and text beyond ASCII.
constexpr std::array<std::string_view, 16> kArgumentPieces = {
    "\"",
    "\\",
    " ",
    "\t",
    "a",
    "Z",
    "",
    "=",
    "%",
    "^",
    "&",
    "'",
    "\xC3\xA9",          // é
    "\xE4\xB8\xAD",      // 中
    "\xF0\x9F\x98\x80",  // an emoji: a surrogate pair in UTF-16
    "\xE2\x80\x99",      // a typographic quote, no quote to the runtime
};

// The program text is not escaped: it never holds a quote, a NUL or a
// trailing backslash, and may hold spaces.
constexpr std::array<std::string_view, 10> kProgramPieces = {
    "C:", "\\", "Program Files", " ", "\t", "tool", ".exe", "\xC3\xA9", "\xE4\xB8\xAD", "x",
};

template <std::size_t N>
std::string piece_run(FuzzedDataProvider& data, const std::array<std::string_view, N>& pieces) {
  const std::string_view piece = pieces[data.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
  // Backslashes and quotes come in runs: one to nine.
  const int repeat = piece == "\\" || piece == "\"" ? data.ConsumeIntegralInRange(1, 9) : 1;
  std::string out;
  for (int i = 0; i < repeat; ++i) out += piece;
  return out;
}

std::string made_argument(FuzzedDataProvider& data) {
  if (data.ConsumeBool()) return data.ConsumeRandomLengthString(64);  // any bytes at all
  std::string argument;
  const int pieces = data.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < pieces; ++i) {
    argument += piece_run(data, kArgumentPieces);
  }
  return argument;
}

std::string made_program(FuzzedDataProvider& data) {
  std::string program;
  const int pieces = data.ConsumeIntegralInRange(1, 8);
  for (int i = 0; i < pieces; ++i) {
    program +=
        kProgramPieces[data.ConsumeIntegralInRange<std::size_t>(0, kProgramPieces.size() - 1)];
  }
  while (!program.empty() && program.back() == '\\') program.pop_back();
  return program;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::string program = made_program(data);
  std::vector<std::string> args(data.ConsumeIntegralInRange(0, 8));
  for (auto& arg : args) arg = made_argument(data);

  bool representable = true;
  for (const auto& arg : args) {
    representable = representable && arg.find('\0') == std::string::npos && nuv::is_valid_utf8(arg);
  }
  const auto line = nuv::build_command_line(program, args);
  if (!representable) {
    if (line) std::abort();  // a NUL or invalid text must never reach a tool
    return 0;
  }
  if (!line) std::abort();

  const auto split = nuv::test::msvcrt_split(*line);
  if (split.size() != args.size() + 1) std::abort();
  if (split[0] != nuv::utf8_to_utf16(program)) std::abort();
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (split[i + 1] != nuv::utf8_to_utf16(args[i])) std::abort();
  }
  return 0;
}

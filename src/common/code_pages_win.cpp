#include "common/code_pages.h"

#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/win32.h"
#include "common/wide.h"

namespace nuv {
namespace {

// Absent when a byte has no character in the code page, or the code page
// cannot say so (some refuse MB_ERR_INVALID_CHARS): a guess would be no
// better than the replacement characters it stands in for.
std::optional<std::string> read_in(UINT code_page, std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(bytes.size());
  const int units =
      ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (units <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                            units) != units) {
    return std::nullopt;
  }
  return from_wide(wide);
}

}  // namespace

std::vector<std::string> code_page_readings(std::string_view bytes) {
  std::vector<std::string> readings;
  if (bytes.empty()) return readings;
  // 0 when this process has no console: its tools then write in the OEM one.
  for (const UINT code_page : {::GetConsoleOutputCP(), ::GetOEMCP(), ::GetACP()}) {
    if (code_page == 0) continue;
    if (auto text = read_in(code_page, bytes)) readings.push_back(std::move(*text));
  }
  return readings;
}

}  // namespace nuv

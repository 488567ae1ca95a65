// Arbitrary bytes into the journal and meta readers: nothing may crash, and any
// text that is accepted must format and read back to the same records, and
// format again to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "state/journal_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const auto changes = nuv::parse_journal(text)) {
    const std::string written = nuv::format_journal(*changes);
    const auto again = nuv::parse_journal(written);
    if (!again || *again != *changes) std::abort();
    if (nuv::format_journal(*again) != written) std::abort();
  }
  if (const auto meta = nuv::parse_meta(text)) {
    const auto again = nuv::parse_meta(nuv::format_meta(*meta));
    if (!again || *again != *meta) std::abort();
  }
  return 0;
}

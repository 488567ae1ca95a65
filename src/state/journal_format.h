// Reading and writing the journal and its meta file.
//
// Reading is strict and all or nothing: any fault anywhere makes the whole
// text invalid (the result is absent, never a partial list), and standard
// error is not told why. Writing gives one fixed, indented layout that reads
// back to the same records. The records' names and fields are declared once,
// in journal_schema.h, for both directions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/system_change.h"

namespace nuv {

// `fault`, when given, gets why the text was refused, in a few words for the
// log (standard error never gives a reason); it is left alone on success.
std::optional<std::vector<SystemChange>> parse_journal(std::string_view text,
                                                       std::string* fault = nullptr);
std::optional<SystemStateMeta> parse_meta(std::string_view text);

std::string format_journal(const std::vector<SystemChange>& changes);
std::string format_meta(const SystemStateMeta& meta);

}  // namespace nuv

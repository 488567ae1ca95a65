// Reading and writing the journal and its meta file.
//
// Reading is strict and all or nothing: any fault anywhere makes the whole
// text invalid (the result is the fault, never a partial list), and standard
// error is not told why. Memory running out is no fault of the text: it
// throws std::bad_alloc, which the recovery and the plan report as such.
// Writing gives one fixed, indented layout that reads back to the same
// records. The records' names and fields are declared once, in
// journal_schema.h, for both directions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "state/system_change.h"

namespace nuv {

// Why a text was refused, in a few words for the log ("it is not JSON (syntax
// error near byte 4)"); standard error never gives a reason.
struct JournalFault {
  std::string reason;
  bool operator==(const JournalFault&) const = default;
};

Result<std::vector<SystemChange>, JournalFault> parse_journal(std::string_view text);
Result<SystemStateMeta, JournalFault> parse_meta(std::string_view text);

std::string format_journal(const std::vector<SystemChange>& changes);
std::string format_meta(const SystemStateMeta& meta);

}  // namespace nuv

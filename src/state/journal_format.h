// Reading and writing the journal and its meta file.
//
// Reading is strict and all or nothing: any fault anywhere makes the whole
// text invalid (empty result), and nobody is told why. Writing gives one fixed,
// indented layout that reads back to the same records.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/system_change.h"

namespace nuv {

std::optional<std::vector<SystemChange>> parse_journal(std::string_view text);
std::optional<SystemStateMeta> parse_meta(std::string_view text);

// Why parse_journal refuses `text`, in a few words for the log; empty when it
// accepts it.
std::string journal_fault(std::string_view text);

std::string format_journal(const std::vector<SystemChange>& changes);
std::string format_meta(const SystemStateMeta& meta);

}  // namespace nuv

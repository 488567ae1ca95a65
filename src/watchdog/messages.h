// The texts of the watchdog's messages, without their line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error_list.h"

namespace nuv {

std::string usage_message();
// The four lines of --help, one text each.
std::vector<std::string> help_lines();
// "nuv-watchdog <version>"
std::string version_message(std::string_view version);
// The argument and the flag path are echoed as received, but for the
// characters that would break the line (C0 controls, DEL, U+0085, U+2028,
// U+2029), escaped as in the error list: one message, one line.
std::string invalid_pid_message(std::string_view argument);
// `position` counts the arguments after the program name from 1.
std::string invalid_unicode_message(std::size_t position);
std::string monitoring_message(std::uint32_t parent_pid, std::string_view clean_flag);
std::string max_lifetime_message();
std::string clean_shutdown_message();
std::string parent_disappeared_message(std::uint32_t parent_pid);

// The recovery on request.
std::string recovery_on_request_message();
std::string watchdog_monitoring_refusal_message();
std::string recovery_running_refusal_message();

// The summary lines of the recovery.
std::string orphan_cleanup_message(std::uint64_t orphans);
// Absent: nothing to recover; otherwise the rollback's error messages, shown
// in list notation on the one line with the true count of errors (the list
// itself keeps to its budget, see ErrorList).
std::string state_recovery_message(const std::optional<ErrorList>& errors);
// The journal was not touched: a watchdog watches a client of it.
std::string state_left_alone_message();

}  // namespace nuv

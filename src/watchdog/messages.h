// The texts of the watchdog's messages, without their line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nuv {

std::string usage_message();
std::string invalid_pid_message(std::string_view argument);
// `position` counts the arguments after the program name from 1.
std::string invalid_unicode_message(std::size_t position);
std::string monitoring_message(std::uint32_t parent_pid, std::string_view clean_flag);
std::string max_lifetime_message();
std::string clean_shutdown_message();
std::string parent_disappeared_message(std::uint32_t parent_pid);

// The summary of the journal rollback: nothing journalled, all undone, or the
// undo failures in list notation ("errors" whatever their number).
std::string no_system_state_message();
std::string system_state_clean_message();
std::string system_state_errors_message(const std::vector<std::string>& errors);

}  // namespace nuv

// The names that the client gives its tunnel adapters.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace nuv {

inline constexpr std::array<std::string_view, 2> kAdapterBaseNames = {"utun-nuv", "NuvCore"};
inline constexpr int kHighestAdapterNumber = 32;

// The 66 candidates in the order they are tried: for n from 32 down to 1,
// "utun-nuv n" then "NuvCore n"; then the two base names alone.
std::vector<std::string> wintun_candidate_names();

}  // namespace nuv

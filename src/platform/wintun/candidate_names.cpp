#include "platform/wintun/candidate_names.h"

namespace nuv {

std::vector<std::string> wintun_candidate_names() {
  std::vector<std::string> names;
  names.reserve(2 * kHighestAdapterNumber + 2);
  for (int n = kHighestAdapterNumber; n >= 1; --n) {
    for (const auto base : kAdapterBaseNames)
      names.push_back(std::string(base) + " " + std::to_string(n));
  }
  for (const auto base : kAdapterBaseNames) names.emplace_back(base);
  return names;
}

}  // namespace nuv

// One row of the table that scripts/bench.sh gathers from every benchmark:
// measure, this program, baseline, ratio, target.
#pragma once

#include <cstdio>
#include <string>

namespace nuv::bench {

inline std::string figure(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

inline void table_row(const std::string& measure, const std::string& ours,
                      const std::string& baseline, const std::string& ratio,
                      const std::string& target) {
  std::printf("ROW\t%s\t%s\t%s\t%s\t%s\n", measure.c_str(), ours.c_str(), baseline.c_str(),
              ratio.c_str(), target.c_str());
}

}  // namespace nuv::bench

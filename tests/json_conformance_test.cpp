// The public JSON parsing test suite, each file embedded as the value of an
// unknown member of a valid record: every y_ file must leave the journal
// valid, every n_ file must make it invalid, and no i_ file may crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "state/journal_format.h"

namespace nuv {
namespace {

std::string embed(const std::string& value) {
  return R"([{"CustomCommand": {"description": "d", "x": )" + value +
         R"(, "reverse_command": []}}])";
}

TEST(JsonConformance, SuiteFilesEmbeddedInARecord) {
  const std::filesystem::path folder = NUV_JSON_SUITE_DIR;
  int accepted = 0, refused = 0, implementation_defined = 0;
  std::vector<std::string> wrong;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    const std::string name = entry.path().filename().string();
    const bool valid = parse_journal(embed(bytes)).has_value();
    if (name.starts_with("y_")) {
      ++accepted;
      if (!valid) wrong.push_back(name + " refused");
    } else if (name.starts_with("n_")) {
      ++refused;
      if (valid) wrong.push_back(name + " accepted");
    } else {
      ++implementation_defined;
    }
  }
  std::printf("conformance: %d y_ files, %d n_ files, %d i_ files, %zu wrong\n", accepted, refused,
              implementation_defined, wrong.size());
  EXPECT_EQ(accepted + refused + implementation_defined, 318);
  EXPECT_TRUE(wrong.empty()) << testing::PrintToString(wrong);
  // The record itself must be valid, or every n_ file would pass for nothing.
  EXPECT_TRUE(parse_journal(embed("null")));
}

}  // namespace
}  // namespace nuv

#include "common/error_list.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/list_notation.h"

namespace nuv {
namespace {

// The summary's list keeps to its budget as failures are added; the sizes
// below are those of the escaped list text, "[" to "]".
TEST(ErrorList, KeepsEveryFailureWithinTheBudgetOfTheSummaryLine) {
  const std::string mib(std::size_t{1024} * 1024, 'E');
  const auto text = [](std::size_t size, char fill) { return std::string(size, fill); };
  struct Case {
    const char* what;
    std::vector<ErrorMessage> added;
    std::vector<std::string> listed;
    std::size_t unlisted;
  };
  const std::vector<Case> cases{
      {"the first message is whole however long, with the runner's count",
       {{mib + mib + mib, 5}},
       {mib + mib + mib + " [5 more bytes]"},
       0},
      {"a short message is whole and its count stays the one ending",
       {{"a", 0}, {"b", 7}},
       {"a", "b [7 more bytes]"},
       0},
      // "[" + 1,048,571 bytes between quotes + ", ": the list text before the
      // second message is exactly 1 MiB.
      {"whole while the list text before it is within 1 MiB",
       {{text(1048571, 'a'), 0}, {text(300, 'b'), 0}},
       {text(1048571, 'a'), text(300, 'b')},
       0},
      {"cut to 256 bytes once it is past, the cut counted",
       {{text(1048572, 'a'), 0}, {text(300, 'b'), 0}},
       {text(1048572, 'a'), text(256, 'b') + " [44 more bytes]"},
       0},
      {"one ending for the cut and the runner's count together",
       {{mib, 0}, {text(300, 'b'), 1000}, {text(256, 'c'), 9}},
       {mib, text(256, 'b') + " [1044 more bytes]", text(256, 'c') + " [9 more bytes]"},
       0},
      {"the cut falls between code points",
       {{mib, 0}, {text(255, 'b') + "\xC3\xA9" + text(10, 'c'), 0}},
       {mib, text(255, 'b') + " [12 more bytes]"},
       0},
      {"an ill-formed sequence is one code point too",
       {{mib, 0}, {text(254, 'b') + "\xE2\x82" + "c", 0}},
       {mib, text(254, 'b') + "\xE2\x82 [1 more bytes]"},
       0},
      // 1 + 209,714 * 5 + 2 + 2 = 1,048,575: the escapes are what counts.
      {"the whole limit counts the escaped text",
       {{text(209714, '\x01'), 0}, {text(300, 'b'), 0}},
       {text(209714, '\x01'), text(300, 'b')},
       0},
      {"one byte more of escapes and the next is cut",
       {{text(209715, '\x01'), 0}, {text(300, 'b'), 0}},
       {text(209715, '\x01'), text(256, 'b') + " [44 more bytes]"},
       0},
      // 2 + (2,097,134 + 2) + 2 + (10 + 2) = 2 MiB exactly.
      {"an element that ends the list at exactly 2 MiB is listed",
       {{text(2097134, 'a'), 0}, {text(10, 'b'), 0}},
       {text(2097134, 'a'), text(10, 'b')},
       0},
      {"one byte more and the list closes, the rest only counted",
       {{text(2097135, 'a'), 0}, {text(10, 'b'), 0}, {"c", 0}},
       {text(2097135, 'a')},
       2},
      {"five quotes are ten bytes of list text",
       {{text(2097135, 'a'), 0}, {text(5, '"'), 0}},
       {text(2097135, 'a')},
       1},
      {"never closed before its first element",
       {{text(std::size_t{3} * 1024 * 1024, '\x1b'), 0}, {"b", 0}},
       {text(std::size_t{3} * 1024 * 1024, '\x1b')},
       1},
      {"closed once, even for a message that would still fit",
       {{text(2097140, 'a'), 0}, {text(20, 'b'), 0}, {"", 0}},
       {text(2097140, 'a')},
       2},
  };
  for (const auto& c : cases) {
    ErrorList list;
    for (const auto& message : c.added) list.add(message);
    EXPECT_EQ(list.count(), c.added.size()) << c.what;
    EXPECT_TRUE(list.listed() == c.listed) << c.what;
    EXPECT_EQ(list.unlisted(), c.unlisted) << c.what;
  }
}

// Thousands of refused undos: every one counted, the line within 2 MiB, and
// the notation says how many are not in it.
TEST(ErrorList, ManyFailuresAreCountedAndTheLineStaysWithinTwoMebibytes) {
  const std::string refused = "netsh delete rule: refused: the name all stands for every rule";
  ErrorList list;
  for (int i = 0; i < 40000; ++i) list.add(refused);
  const std::string notation = error_list_notation(list);
  EXPECT_EQ(list.count(), 40000u);
  // Each item is the message, two quotes and a separator.
  const std::size_t listed = (kListTextLimit - 2 + 2) / (refused.size() + 4);
  EXPECT_EQ(list.listed().size(), listed);
  EXPECT_EQ(list.unlisted(), 40000u - listed);
  const std::string tail = "] (" + std::to_string(40000u - listed) + " more errors not listed)";
  ASSERT_GT(notation.size(), tail.size());
  EXPECT_EQ(notation.substr(notation.size() - tail.size()), tail);
  EXPECT_LE(notation.size() - tail.size() + 1, kListTextLimit);
  EXPECT_EQ(list_notation(list.listed()), notation.substr(0, notation.size() - tail.size() + 1));
}

}  // namespace
}  // namespace nuv

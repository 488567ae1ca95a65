#include "watchdog/console_chunks.h"

#include <gtest/gtest.h>

#include <string>

namespace nuv {
namespace {

// A console write never ends in the middle of a surrogate pair: a character
// outside the Basic Multilingual Plane that straddles the limit moves whole
// into the next write.
TEST(ConsoleChunks, NeverSplitASurrogatePair) {
  std::u16string text(0x7FFF, u'a');
  text += u"\U0001F600b";  // a pair at units 0x7FFF and 0x8000
  EXPECT_EQ(console_chunk_length(text.data(), text.size(), 0x8000), 0x7FFFu);
  EXPECT_EQ(console_chunk_length(text.data() + 0x7FFF, 3, 0x8000), 3u);
  const std::u16string plain(0x9000, u'\u2014');
  EXPECT_EQ(console_chunk_length(plain.data(), plain.size(), 0x8000), 0x8000u);
  EXPECT_EQ(console_chunk_length(plain.data(), 10, 0x8000), 10u);
}

}  // namespace
}  // namespace nuv

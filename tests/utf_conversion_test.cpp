#include <gtest/gtest.h>

#include <string>

#include "common/utf.h"

namespace nuv {
namespace {

TEST(UtfConversion, Utf16ToUtf8ConvertsEveryPlane) {
  EXPECT_EQ(utf16_to_utf8(u""), "");
  EXPECT_EQ(utf16_to_utf8(u"C:\\flag"), "C:\\flag");
  EXPECT_EQ(utf16_to_utf8(u"\u00e9\u2014\uffff"), "\xC3\xA9\xE2\x80\x94\xEF\xBF\xBF");
  EXPECT_EQ(utf16_to_utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16_to_utf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(utf16_to_utf8(std::u16string(1, u'\0')), std::string(1, '\0'));
}

TEST(UtfConversion, Utf16ToUtf8RefusesLoneSurrogates) {
  EXPECT_FALSE(utf16_to_utf8(std::u16string{0xD800}));
  EXPECT_FALSE(utf16_to_utf8(std::u16string{0xDC00}));
  EXPECT_FALSE(utf16_to_utf8(std::u16string{u'a', 0xD83D, u'b'}));
  EXPECT_FALSE(utf16_to_utf8(std::u16string{0xDE00, 0xD83D}));  // reversed pair
}

TEST(UtfConversion, Utf8ToUtf16RoundTripsWellFormedText) {
  const std::string text = "a\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80z";
  const auto wide = utf8_to_utf16(text);
  ASSERT_TRUE(wide);
  EXPECT_EQ(*wide, u"a\u00e9\u2014\U0001F600z");
  EXPECT_EQ(utf16_to_utf8(*wide), text);
}

TEST(UtfConversion, Utf8ToUtf16RefusesIllFormedSequences) {
  for (const std::string bad : {
           "\x80",              // lone continuation byte
           "\xC0\xAF",          // overlong solidus
           "\xC1\xBF",          // overlong
           "\xE0\x80\xAF",      // overlong three-byte form
           "\xED\xA0\x80",      // encoded surrogate
           "\xF4\x90\x80\x80",  // above U+10FFFF
           "\xF5\x80\x80\x80",  // lead byte never used
           "\xE2\x82",          // truncated
           "\xFF",
       }) {
    EXPECT_FALSE(utf8_to_utf16(bad)) << testing::PrintToString(bad);
    EXPECT_FALSE(is_valid_utf8(bad)) << testing::PrintToString(bad);
  }
  EXPECT_TRUE(is_valid_utf8("\xEF\xBB\xBF plain \xF4\x8F\xBF\xBF"));
}

TEST(UtfConversion, Utf8LossyReplacesEachMaximalSubpartByOneReplacementCharacter) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(decode_utf8_lossy("plain \xC3\xA9\r\n"), "plain \xC3\xA9\r\n");
  EXPECT_EQ(decode_utf8_lossy("\xED\xA0\x80"), fffd + fffd + fffd);  // surrogate: lead ends at A0
  EXPECT_EQ(decode_utf8_lossy("\xE2\x82"), fffd);                    // truncated
  EXPECT_EQ(decode_utf8_lossy("\xE2\x82x"), fffd + "x");
  EXPECT_EQ(decode_utf8_lossy("\xFF\xFE"), fffd + fffd);
  EXPECT_EQ(decode_utf8_lossy("\xF0\x9F\x98"), fffd);                // three of four
  EXPECT_EQ(decode_utf8_lossy("\xF0\x80\x80"), fffd + fffd + fffd);  // overlong: F0 then 80 refused
  EXPECT_EQ(decode_utf8_lossy("\xC0\xAF"), fffd + fffd);
  EXPECT_EQ(decode_utf8_lossy("a\x80"
                              "b"),
            "a" + fffd + "b");
  EXPECT_EQ(decode_utf8_lossy(std::string("\0\xF4\x90", 3)), std::string(1, '\0') + fffd + fffd);
}

}  // namespace
}  // namespace nuv

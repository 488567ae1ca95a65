#include "common/list_notation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"

namespace nuv {
namespace {

// Every expectation below is written out by hand from the rules and the
// character's entry in the Unicode Character Database, never from the table.
std::string one(const std::string& message) { return list_notation({message}); }

TEST(ListNotation, EmptyListIsTwoBrackets) { EXPECT_EQ(list_notation({}), "[]"); }

TEST(ListNotation, OneItemIsQuotedWithoutSpaces) {
  EXPECT_EQ(one("route failed"), "[\"route failed\"]");
}

TEST(ListNotation, ItemsAreSeparatedByCommaAndOneSpace) {
  EXPECT_EQ(list_notation({"a", "", "b c"}), "[\"a\", \"\", \"b c\"]");
}

TEST(ListNotation, ShortEscapes) {
  EXPECT_EQ(one("say \"hi\""), "[\"say \\\"hi\\\"\"]");
  EXPECT_EQ(one("C:\\Windows\\"), "[\"C:\\\\Windows\\\\\"]");
  EXPECT_EQ(one("a\tb"), "[\"a\\tb\"]");
  EXPECT_EQ(one(std::string("x\0y", 3)), "[\"x\\0y\"]");
  EXPECT_EQ(one("x\\0"), "[\"x\\\\0\"]");  // a backslash before a digit stays apart
}

TEST(ListNotation, ToolOutputEndingInCrLfStaysOnOneLine) {
  EXPECT_EQ(list_notation({"netsh: element not found.\r\n", "second"}),
            "[\"netsh: element not found.\\r\\n\", \"second\"]");
}

TEST(ListNotation, OtherControlsUseLowerCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(one("\x01"), "[\"\\u{1}\"]");
  EXPECT_EQ(one("\x1b[31m"), "[\"\\u{1b}[31m\"]");
  EXPECT_EQ(one("\x7f"), "[\"\\u{7f}\"]");
  EXPECT_EQ(one("\xC2\x85"), "[\"\\u{85}\"]");       // U+0085 NEXT LINE, Cc
  EXPECT_EQ(one("\xC2\x9F"), "[\"\\u{9f}\"]");       // last C1 control
  EXPECT_EQ(one("\x0B\x0C"), "[\"\\u{b}\\u{c}\"]");  // VT and FF have no short form
}

TEST(ListNotation, FormatCharacters) {
  EXPECT_EQ(one("\xE2\x80\x8D"), "[\"\\u{200d}\"]");       // ZERO WIDTH JOINER
  EXPECT_EQ(one("\xEF\xBB\xBF"), "[\"\\u{feff}\"]");       // BYTE ORDER MARK
  EXPECT_EQ(one("\xC2\xAD"), "[\"\\u{ad}\"]");             // SOFT HYPHEN
  EXPECT_EQ(one("\xE2\x80\xAE"), "[\"\\u{202e}\"]");       // RIGHT-TO-LEFT OVERRIDE
  EXPECT_EQ(one("\xF3\xA0\x80\x81"), "[\"\\u{e0001}\"]");  // LANGUAGE TAG
}

TEST(ListNotation, GraphemeExtendersAreEscapedWhateverTheirCategory) {
  EXPECT_EQ(one("e\xCC\x81"), "[\"e\\u{301}\"]");                             // COMBINING ACUTE, Mn
  EXPECT_EQ(one("\xE2\x9D\xA4\xEF\xB8\x8F"), "[\"\xE2\x9D\xA4\\u{fe0f}\"]");  // heart + VS16
  EXPECT_EQ(one("\xE0\xA6\xBE"), "[\"\\u{9be}\"]");   // BENGALI VOWEL SIGN AA, Mc
  EXPECT_EQ(one("\xEF\xBE\x9E"), "[\"\\u{ff9e}\"]");  // HALFWIDTH KATAKANA VOICED SOUND MARK, Lm
  EXPECT_EQ(one("\xD2\x88"), "[\"\\u{488}\"]");       // COMBINING CYRILLIC HUNDRED THOUSANDS, Me
}

TEST(ListNotation, MarksWithoutGraphemeExtendStayAsTheyAre) {
  EXPECT_EQ(one("\xE0\xA4\x83"), "[\"\xE0\xA4\x83\"]");          // DEVANAGARI SIGN VISARGA, Mc
  EXPECT_EQ(one("\xF0\x9F\x8F\xBB"), "[\"\xF0\x9F\x8F\xBB\"]");  // EMOJI MODIFIER, Sk
}

TEST(ListNotation, SeparatorsOtherThanThePlainSpace) {
  EXPECT_EQ(one("a b"), "[\"a b\"]");
  EXPECT_EQ(one("a\xC2\xA0"
                "b"),
            "[\"a\\u{a0}b\"]");                       // NO-BREAK SPACE
  EXPECT_EQ(one("\xE3\x80\x80"), "[\"\\u{3000}\"]");  // IDEOGRAPHIC SPACE
  EXPECT_EQ(one("\xE2\x80\x8A"), "[\"\\u{200a}\"]");  // HAIR SPACE
  EXPECT_EQ(one("\xE2\x80\xA8"), "[\"\\u{2028}\"]");  // LINE SEPARATOR
  EXPECT_EQ(one("\xE2\x80\xA9"), "[\"\\u{2029}\"]");  // PARAGRAPH SEPARATOR
}

TEST(ListNotation, UnassignedAndPrivateUse) {
  EXPECT_EQ(one("\xCD\xB8"), "[\"\\u{378}\"]");             // unassigned
  EXPECT_EQ(one("\xEF\xBF\xBF"), "[\"\\u{ffff}\"]");        // noncharacter
  EXPECT_EQ(one("\xF4\x8F\xBF\xBF"), "[\"\\u{10ffff}\"]");  // noncharacter, last code point
  EXPECT_EQ(one("\xEE\x80\x80"), "[\"\\u{e000}\"]");        // private use
  EXPECT_EQ(one("\xF3\xB0\x80\x80"), "[\"\\u{f0000}\"]");   // plane 15 private use
}

TEST(ListNotation, PrintableTextIsWrittenUnchanged) {
  const std::string text =
      "it's caf\xC3\xA9 \xE2\x80\x94 \xE4\xB8\xAD \xF0\x9F\x98\x80 \xEF\xBF\xBD "
      "~!@#$%^&*()_+{}|:<>?`'";
  EXPECT_EQ(one(text), "[\"" + text + "\"]");
  // Ranges the database gives as First/Last pairs are assigned throughout.
  EXPECT_EQ(one("\xE6\xB0\xB4"), "[\"\xE6\xB0\xB4\"]");          // U+6C34, CJK ideograph
  EXPECT_EQ(one("\xEB\x80\x80"), "[\"\xEB\x80\x80\"]");          // U+B000, Hangul syllable
  EXPECT_EQ(one("\xF0\xA0\x80\x80"), "[\"\xF0\xA0\x80\x80\"]");  // U+20000, Extension B
}

TEST(ListNotation, IllFormedBytesBecomeOneReplacementCharacterEach) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(one("a\xFF"
                "b"),
            "[\"a" + fffd + "b\"]");
  EXPECT_EQ(one("\xE2\x82"), "[\"" + fffd + "\"]");        // truncated: one subpart
  EXPECT_EQ(one("\xE2\x82\""), "[\"" + fffd + "\\\"\"]");  // the quote after it survives
  EXPECT_EQ(one("\xED\xA0\x80"), "[\"" + fffd + fffd + fffd + "\"]");  // encoded surrogate
  EXPECT_EQ(one("\xC0\x8A"), "[\"" + fffd + fffd + "\"]");             // overlong line feed
  EXPECT_EQ(one("\xF4\x90\x80\x80"), "[\"" + fffd + fffd + fffd + fffd + "\"]");  // above U+10FFFF
}

TEST(ListNotation, UnicodeEscapeTableBoundariesFromTheDatabase) {
  EXPECT_TRUE(needs_unicode_escape(0x0));
  EXPECT_TRUE(needs_unicode_escape(0x1F));
  EXPECT_FALSE(needs_unicode_escape(0x20));
  EXPECT_FALSE(needs_unicode_escape(0x7E));
  EXPECT_TRUE(needs_unicode_escape(0x7F));
  EXPECT_TRUE(needs_unicode_escape(0xA0));
  EXPECT_FALSE(needs_unicode_escape(0xA1));
  EXPECT_FALSE(needs_unicode_escape(0x377));
  EXPECT_TRUE(needs_unicode_escape(0x378));
  EXPECT_TRUE(needs_unicode_escape(0x379));
  EXPECT_FALSE(needs_unicode_escape(0x37A));
  EXPECT_FALSE(needs_unicode_escape(0x2FF));
  EXPECT_TRUE(needs_unicode_escape(0x300));
  EXPECT_TRUE(needs_unicode_escape(0x36F));
  EXPECT_FALSE(needs_unicode_escape(0x370));
}

TEST(ListNotation, UnicodeEscapeTableSurrogatesPrivateUseAndNoncharacters) {
  EXPECT_TRUE(needs_unicode_escape(0xD800));
  EXPECT_TRUE(needs_unicode_escape(0xDB80));
  EXPECT_TRUE(needs_unicode_escape(0xDFFF));
  EXPECT_TRUE(needs_unicode_escape(0xE000));
  EXPECT_TRUE(needs_unicode_escape(0xF8FF));
  EXPECT_FALSE(needs_unicode_escape(0xF900));
  EXPECT_TRUE(needs_unicode_escape(0xFDD0));
  EXPECT_TRUE(needs_unicode_escape(0xFDEF));
  EXPECT_TRUE(needs_unicode_escape(0xFFFE));
  EXPECT_FALSE(needs_unicode_escape(0xFFFD));
  EXPECT_TRUE(needs_unicode_escape(0x1FFFE));
  EXPECT_TRUE(needs_unicode_escape(0xF1234));
  EXPECT_TRUE(needs_unicode_escape(0x10FFFD));
  EXPECT_TRUE(needs_unicode_escape(0x10FFFF));
  EXPECT_TRUE(needs_unicode_escape(0x110000));
  EXPECT_TRUE(needs_unicode_escape(0xFFFFFFFF));
}

TEST(ListNotation, UnicodeEscapeTableFirstLastRangesCoverTheirInside) {
  EXPECT_FALSE(needs_unicode_escape(0x4E00));
  EXPECT_FALSE(needs_unicode_escape(0x7000));
  EXPECT_FALSE(needs_unicode_escape(0x9FFF));
  EXPECT_FALSE(needs_unicode_escape(0xAC00));
  EXPECT_FALSE(needs_unicode_escape(0xD7A3));
  EXPECT_TRUE(needs_unicode_escape(0xD7A4));
  EXPECT_FALSE(needs_unicode_escape(0x20000));
  EXPECT_FALSE(needs_unicode_escape(0x2A6DF));
  EXPECT_TRUE(needs_unicode_escape(0x2A6E0));
}

// Reads one quoted item back; empty when the text is not one well-formed item.
std::optional<std::string> unquote(std::string_view item) {
  if (item.size() < 2 || item.front() != '"' || item.back() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i + 1 < item.size(); ++i) {
    const char c = item[i];
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i + 1 >= item.size()) return std::nullopt;
    switch (item[i]) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case '0':
        out += '\0';
        break;
      case 'u': {
        const auto close = item.find('}', i);
        if (item[i + 1] != '{' || close == std::string_view::npos) return std::nullopt;
        const std::string hex(item.substr(i + 2, close - i - 2));
        if (hex.empty() || hex.size() > 6 || hex[0] == '0' ||
            hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
          return std::nullopt;
        }
        const unsigned long value = std::stoul(hex, nullptr, 16);
        std::u16string unit;
        if (value >= 0xD800 && value <= 0xDFFF) {
          return std::nullopt;  // surrogates cannot reach the output as UTF-8
        }
        if (value < 0x10000) {
          unit.push_back(static_cast<char16_t>(value));
        } else {
          unit.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
          unit.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
        }
        out += *utf16_to_utf8(unit);
        i = close;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

// Every scalar value, plane by plane: the notation is one line of valid UTF-8
// without a control byte, and it reads back to the message it was made from.
TEST(ListNotation, EveryCodePointIsWrittenOnOneLineAndReadsBack) {
  for (std::uint32_t plane = 0; plane <= 0x10; ++plane) {
    std::u16string utf16;
    for (char32_t cp = plane << 16; cp <= ((plane << 16) | 0xFFFF); ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      if (cp < 0x10000) {
        utf16.push_back(static_cast<char16_t>(cp));
      } else {
        utf16.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        utf16.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      }
    }
    const std::string message = *utf16_to_utf8(utf16);
    const std::string written = one(message);
    ASSERT_TRUE(is_valid_utf8(written)) << "plane " << plane;
    for (const char c : written) {
      const auto byte = static_cast<unsigned char>(c);
      ASSERT_TRUE(byte >= 0x20 && byte != 0x7F) << "plane " << plane << " byte " << int{byte};
    }
    ASSERT_EQ(unquote(std::string_view(written).substr(1, written.size() - 2)), message)
        << "plane " << plane;
  }
}

}  // namespace
}  // namespace nuv

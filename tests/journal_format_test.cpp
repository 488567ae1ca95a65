#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "state/journal_format.h"
#include "support/result_values.h"

namespace nuv {
namespace {

// Wraps one body in a journal of one element of the given kind.
std::string one(std::string_view kind, std::string_view body) {
  return "[{\"" + std::string(kind) + "\": " + std::string(body) + "}]";
}

void expect_invalid(std::string_view text) {
  EXPECT_FALSE(parse_journal(text)) << "accepted: " << text;
}

SystemChange parse_one(std::string_view text) {
  auto parsed = parse_journal(text);
  EXPECT_TRUE(parsed) << "refused: " << text;
  if (!parsed || parsed->size() != 1) return CustomCommand{};
  return (*parsed)[0];
}

// ---- structure ----

TEST(JournalFormat, StructureEmptyArrayIsAnEmptyJournal) {
  const auto parsed = parse_journal(" \t\r\n[ ]\n ");
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(parsed->empty());
}

TEST(JournalFormat, StructureRefusesAnythingButAnArrayOfOneMemberObjects) {
  for (const char* text : {"", " ", "{}", "null", "\"RouteAdded\"", "[\"RouteAdded\"]", "[{}]",
                           "[[]]", "[1]", "[null]"}) {
    expect_invalid(text);
  }
  // A second member beside the kind, even a valid one.
  expect_invalid(R"([{"FirewallRuleAdded": {"rule_name": "a"}, "x": 1}])");
  expect_invalid(
      R"([{"FirewallRuleAdded": {"rule_name": "a"}, "FirewallRuleAdded": {"rule_name": "b"}}])");
}

TEST(JournalFormat, StructureKindNamesAreExactAndOneUnknownSpoilsAll) {
  const std::string good = R"({"FirewallRuleAdded": {"rule_name": "a"}})";
  EXPECT_TRUE(parse_journal("[" + good + "," + good + "]"));
  const auto between_goods = [&](std::string_view kind) {
    return "[" + good + R"(, {")" + std::string(kind) + R"(": {"rule_name": "a"}}, )" + good + "]";
  };
  for (const char* kind :
       {"firewallRuleAdded", "FirewallRuleadded", "FirewallRuleAdded ", "Firewall", "NewKind"}) {
    expect_invalid(between_goods(kind));
  }
}

TEST(JournalFormat, StructureRefusesWhatRfc8259Refuses) {
  const std::string good = R"({"FirewallRuleAdded": {"rule_name": "a"}})";
  expect_invalid("[" + good + ",]");   // trailing comma
  expect_invalid("[" + good + "] x");  // trailing text
  expect_invalid("[" + good + "]]");
  expect_invalid("/* c */[" + good + "]");  // comment
  expect_invalid("[" + good + "]//");
  expect_invalid("\xEF\xBB\xBF[" + good + "]");  // byte-order mark
  expect_invalid("\xEF\xBB\xBF[]");
  expect_invalid(R"([{'FirewallRuleAdded': {"rule_name": "a"}}])");
  expect_invalid(std::string("[]\0", 3));  // NUL is no end of text
  expect_invalid(std::string("[]\0garbage", 10));
  expect_invalid("[]\f");  // not JSON whitespace
  expect_invalid(one("FirewallRuleAdded", R"({"rule_name": "a",})"));
}

TEST(JournalFormat, StructureNestsAtMost127Levels) {
  // Top array, element, body: three levels; the skipped value adds the rest.
  const auto nested = [](int levels) {
    const int inner = levels - 3;
    return one("FirewallRuleAdded", R"({"rule_name": "a", "x": )" + std::string(inner, '[') +
                                        std::string(inner, ']') + "}");
  };
  EXPECT_TRUE(parse_journal(nested(127)));
  expect_invalid(nested(128));
  expect_invalid(std::string(100'000, '['));

  // Objects count the same as arrays: the same three levels, then objects
  // nested in the skipped value, each holding the next as its member "y".
  const auto nested_objects = [](int levels) {
    const int inner = levels - 3;
    std::string value;
    for (int i = 1; i < inner; ++i) value += R"({"y": )";
    value += "{}" + std::string(inner - 1, '}');
    return one("FirewallRuleAdded", R"({"rule_name": "a", "x": )" + value + "}");
  };
  EXPECT_TRUE(parse_journal(nested_objects(127)));
  expect_invalid(nested_objects(128));
}

// ---- bodies ----

// Why parse_journal refused the text; empty when it accepted it.
std::string journal_fault(std::string_view text) {
  const auto parsed = parse_journal(text);
  return parsed ? std::string() : parsed.error().reason;
}

// The log says why a journal was refused; standard error never does.
TEST(JournalFormat, StructureRefusalHasAReasonAndAcceptanceHasNone) {
  EXPECT_EQ(journal_fault("[]"), "");
  EXPECT_EQ(journal_fault(R"([{"FirewallRuleAdded":{"rule_name":"x"}}])"), "");
  EXPECT_EQ(journal_fault("\xEF\xBB\xBF[]"), "it starts with a byte-order mark");
  EXPECT_EQ(journal_fault(std::string("[]\0x", 4)), "it holds a NUL byte at byte 2");
  EXPECT_EQ(journal_fault("[ ]]"), "it is not JSON (syntax error near byte 4)");
  EXPECT_EQ(journal_fault(R"([{"Unknown":{}}])"),
            "it is JSON, but not a list of known records with their fields");
}

TEST(JournalFormat, BodyReadsEveryKindInObjectForm) {
  EXPECT_EQ(
      parse_one(one("TunInterfaceUp",
                    R"({"netmask": "255.0.0.0", "address": "10.0.0.2", "interface": "utun-nuv"})")),
      SystemChange(TunInterfaceUp{"utun-nuv", "10.0.0.2", "255.0.0.0"}));
  EXPECT_EQ(parse_one(one("RouteAdded", R"({"destination": "0.0.0.0/1", "gateway": "10.0.0.1",
                                            "interface": "utun-nuv", "metric": 4294967295})")),
            SystemChange(RouteAdded{"0.0.0.0/1", "10.0.0.1", "utun-nuv", 4294967295u}));
  EXPECT_EQ(
      parse_one(one(
          "DnsOverridden",
          R"({"interface": "Wi-Fi", "interface_index": 7, "original_servers": ["1.1.1.1", "9.9.9.9"]})")),
      SystemChange(DnsOverridden{"Wi-Fi", 7u, {"1.1.1.1", "9.9.9.9"}}));
  EXPECT_EQ(parse_one(one("FirewallRuleAdded", R"({"rule_name": "NUV block"})")),
            SystemChange(FirewallRuleAdded{"NUV block"}));
  EXPECT_EQ(parse_one(one("SystemProxySet",
                          R"({"original_enabled": true, "original_server": "p:8080"})")),
            SystemChange(SystemProxySet{true, "p:8080"}));
  EXPECT_EQ(
      parse_one(one("CustomCommand", R"({"description": "d", "reverse_command": ["a", "b c"]})")),
      SystemChange(CustomCommand{"d", {"a", "b c"}}));
}

TEST(JournalFormat, BodyOptionalFieldsMayBeNullOrMissing) {
  const SystemChange bare = RouteAdded{"10.0.0.0/8", std::nullopt, std::nullopt, std::nullopt};
  EXPECT_EQ(parse_one(one("RouteAdded", R"({"destination": "10.0.0.0/8"})")), bare);
  EXPECT_EQ(
      parse_one(one(
          "RouteAdded",
          R"({"destination": "10.0.0.0/8", "gateway": null, "interface": null, "metric": null})")),
      bare);
  EXPECT_EQ(parse_one(one("SystemProxySet", R"({"original_enabled": false})")),
            SystemChange(SystemProxySet{false, std::nullopt}));
  EXPECT_EQ(parse_one(one("DnsOverridden", R"({"interface": "e", "original_servers": []})")),
            SystemChange(DnsOverridden{"e", std::nullopt, {}}));
  EXPECT_EQ(parse_one(one("CustomCommand", R"({"description": "d", "reverse_command": []})")),
            SystemChange(CustomCommand{"d", {}}));
}

TEST(JournalFormat, BodyRequiredFieldsMustBePresentAndNotNull) {
  expect_invalid(one("DnsOverridden", R"({"interface": "e"})"));
  expect_invalid(one("DnsOverridden", R"({"interface": "e", "original_servers": null})"));
  expect_invalid(one("RouteAdded", R"({"gateway": "g"})"));
  expect_invalid(one("FirewallRuleAdded", R"({"rule_name": null})"));
  expect_invalid(one("SystemProxySet", R"({"original_server": "p"})"));
  expect_invalid(one("CustomCommand", R"({"description": "d"})"));
  expect_invalid(one("TunInterfaceUp", R"({"interface": "i", "address": "a"})"));
  expect_invalid(one("FirewallRuleAdded", R"({})"));
}

TEST(JournalFormat, BodyWrongTypesAreRefused) {
  expect_invalid(one("FirewallRuleAdded", R"({"rule_name": 5})"));
  expect_invalid(one("FirewallRuleAdded", R"({"rule_name": ["a"]})"));
  expect_invalid(one("SystemProxySet", R"({"original_enabled": 1})"));
  expect_invalid(one("SystemProxySet", R"({"original_enabled": "true"})"));
  expect_invalid(one("CustomCommand", R"({"description": "d", "reverse_command": "a"})"));
  expect_invalid(one("CustomCommand", R"({"description": "d", "reverse_command": ["a", 1]})"));
  expect_invalid(one("CustomCommand", R"({"description": "d", "reverse_command": ["a", null]})"));
  expect_invalid(one("CustomCommand", R"({"description": "d", "reverse_command": [["a"]]})"));
  expect_invalid(one("RouteAdded", R"({"destination": "d", "metric": "5"})"));
  expect_invalid(one("RouteAdded", R"({"destination": {"a": 1}})"));
  expect_invalid(one("FirewallRuleAdded", R"("rule")"));
  expect_invalid(one("FirewallRuleAdded", R"(null)"));
}

TEST(JournalFormat, BodyUnknownMembersAreSkippedWhateverTheyHold) {
  const SystemChange rule = FirewallRuleAdded{"r"};
  for (const char* extra : {R"(null)", R"(-1.5e300)", R"("x")", R"([])", R"({})",
                            R"({"a": [{"b": {"c": [1, null, true, "rule_name"]}}]})",
                            R"({"rule_name": 1, "rule_name": 2})"}) {
    EXPECT_EQ(parse_one(one("FirewallRuleAdded", std::string(R"({"x": )") + extra +
                                                     R"(, "rule_name": "r", "y": )" + extra + "}")),
              rule)
        << extra;
  }
  // A repeated unknown member is no fault; a repeated field is.
  EXPECT_EQ(parse_one(one("FirewallRuleAdded", R"({"x": 1, "x": 2, "rule_name": "r"})")), rule);
  expect_invalid(one("FirewallRuleAdded", R"({"rule_name": "r", "rule_name": "r"})"));
  expect_invalid(one("RouteAdded", R"({"destination": "d", "gateway": null, "gateway": null})"));
  expect_invalid(one("DnsOverridden",
                     R"({"interface": "e", "original_servers": [], "original_servers": []})"));
}

TEST(JournalFormat, BodyArrayFormHoldsExactlyTheFieldsInOrder) {
  EXPECT_EQ(parse_one(one("RouteAdded", R"(["10.0.0.0/8", null, "eth0", 5])")),
            SystemChange(RouteAdded{"10.0.0.0/8", std::nullopt, "eth0", 5u}));
  EXPECT_EQ(parse_one(one("DnsOverridden", R"(["e", null, ["1.1.1.1"]])")),
            SystemChange(DnsOverridden{"e", std::nullopt, {"1.1.1.1"}}));
  EXPECT_EQ(parse_one(one("SystemProxySet", R"([true, null])")),
            SystemChange(SystemProxySet{true, std::nullopt}));
  expect_invalid(one("RouteAdded", R"(["10.0.0.0/8", null, "eth0"])"));
  expect_invalid(one("RouteAdded", R"(["10.0.0.0/8", null, "eth0", 5, 6])"));
  expect_invalid(one("RouteAdded", R"([])"));
  expect_invalid(one("RouteAdded", R"([null, null, null, null])"));
  expect_invalid(one("SystemProxySet", R"([null, true])"));
  expect_invalid(one("CustomCommand", R"(["d", ["a"], {}])"));
}

// ---- numbers ----

TEST(JournalFormat, NumbersU32FieldsTakePlainIntegersInRange) {
  for (const auto& [text, value] : {std::pair{"0", 0u}, {"4294967295", 4294967295u}, {"42", 42u}}) {
    EXPECT_EQ(parse_one(one("RouteAdded",
                            std::string(R"({"destination": "d", "metric": )") + text + "}")),
              SystemChange(RouteAdded{"d", std::nullopt, std::nullopt, value}));
  }
  for (const char* text : {"4294967296", "-1", "-0", "5.0", "1e3", "0e0", "01", "+1", "1.", ".5",
                           "18446744073709551616", "0x10", "NaN", "Infinity"}) {
    expect_invalid(
        one("RouteAdded", std::string(R"({"destination": "d", "metric": )") + text + "}"));
    expect_invalid(
        one("DnsOverridden",
            std::string(R"({"interface": "e", "original_servers": [], "interface_index": )") +
                text + "}"));
  }
}

// ---- strings ----

TEST(JournalFormat, StringsEscapesAndSurrogatePairsAreDecoded) {
  EXPECT_EQ(
      parse_one(one("FirewallRuleAdded",
                    R"({"rule_name": "\"\\\/\b\f\n\r\t\u0041\u00e9\u2014\ud83d\ude00\u0000"})")),
      SystemChange(FirewallRuleAdded{
          std::string("\"\\/\b\f\n\r\tA\xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80\0", 19)}));
  EXPECT_EQ(parse_one(one("FirewallRuleAdded", "{\"rule_name\": \"\xC3\xA9\x7F\"}")),
            SystemChange(FirewallRuleAdded{"\xC3\xA9\x7F"}));
}

TEST(JournalFormat, StringsRefusesBadEscapesLoneSurrogatesControlsAndBadUtf8) {
  for (const std::string& body : std::vector<std::string>{
           R"("\x41")",
           R"("\u12")",
           R"("\U0041")",
           R"("\a")",
           R"("\')",
           R"("\ud800")",
           R"("\udc00")",
           R"("\ud800\u0041")",
           R"("\ude00\ud83d")",
           "\"a\tb\"",
           "\"a\nb\"",
           std::string("\"a\0b\"", 5),
           "\"\x1F\"",
           "\"\xC0\xAF\"",
           "\"\xED\xA0\x80\"",
           "\"\xFF\"",
           "\"\xE2\x82\"",
       }) {
    expect_invalid(one("FirewallRuleAdded", R"({"rule_name": )" + body + "}"));
  }
}

// ---- meta ----

TEST(JournalFormat, MetaRecordReadsObjectAndArrayForms) {
  EXPECT_EQ(
      test::value_of(parse_meta(
          R"({"partial_rollback_count": 3, "last_partial_rollback_unix": 18446744073709551615})")),
      (SystemStateMeta{3, 18446744073709551615ull}));
  EXPECT_EQ(
      test::value_of(parse_meta(
          R"({"last_partial_rollback_unix": 5, "x": [{}], "partial_rollback_count": 4294967295})")),
      (SystemStateMeta{4294967295u, 5}));
  EXPECT_EQ(test::value_of(parse_meta("[1, 2]")), (SystemStateMeta{1, 2}));
}

TEST(JournalFormat, MetaRecordRefusesMissingRepeatedOrOutOfRangeValues) {
  for (
      const char* text : {
          R"({"partial_rollback_count": 3})",
          R"({"partial_rollback_count": 3, "last_partial_rollback_unix": 1, "partial_rollback_count": 3})",
          R"({"partial_rollback_count": 4294967296, "last_partial_rollback_unix": 1})",
          R"({"partial_rollback_count": 1, "last_partial_rollback_unix": 18446744073709551616})",
          R"({"partial_rollback_count": 1, "last_partial_rollback_unix": -1})",
          R"({"partial_rollback_count": 1, "last_partial_rollback_unix": null})", "[1]",
          "[1, 2, 3]", "[]", "{}", "1", "", "\xEF\xBB\xBF[1, 2]", "[1, 2] 3",
          "[4294967296, 1]",  // the count is 32-bit even in the array form
      }) {
    EXPECT_FALSE(parse_meta(text)) << text;
  }
}

TEST(JournalFormat, MetaRecordNestsAtMost127Levels) {
  // The top object is the first level; the skipped value adds the rest.
  const auto nested = [](int levels, std::string_view open, std::string_view innermost,
                         char close) {
    const int inner = levels - 1;
    std::string value;
    for (int i = 1; i < inner; ++i) value += open;
    value += std::string(innermost) + std::string(inner - 1, close);
    return R"({"partial_rollback_count": 1, "x": )" + value +
           R"(, "last_partial_rollback_unix": 2})";
  };
  for (const auto& [open, innermost, close] :
       {std::tuple{R"({"y": )", "{}", '}'}, std::tuple{"[", "[]", ']'}}) {
    EXPECT_EQ(test::value_of(parse_meta(nested(127, open, innermost, close))),
              (SystemStateMeta{1, 2}))
        << open;
    EXPECT_FALSE(parse_meta(nested(128, open, innermost, close))) << open;
  }
}

// ---- writing ----

TEST(JournalFormat, LayoutEmptyJournalAndMetaHaveTheirFixedText) {
  EXPECT_EQ(format_journal({}), "[]");
  EXPECT_EQ(format_meta({7, 1700000000}),
            "{\n  \"partial_rollback_count\": 7,\n  \"last_partial_rollback_unix\": 1700000000\n}");
}

TEST(JournalFormat, LayoutEveryKindIsWrittenByteForByte) {
  const std::vector<SystemChange> changes{
      TunInterfaceUp{"utun-nuv", "10.8.0.2", "255.255.255.0"},
      RouteAdded{"0.0.0.0/1", std::nullopt, std::nullopt, std::nullopt},
      RouteAdded{"10.0.0.0/8", "10.8.0.1", "utun-nuv", 0u},
      DnsOverridden{"Wi-Fi", std::nullopt, {}},
      DnsOverridden{"Ethernet", 12u, {"1.1.1.1", "2606:4700::1111"}},
      FirewallRuleAdded{"tab\there \"quoted\" \x01 del\x7F a/b \xC3\xA9\xE2\x80\x94"},
      SystemProxySet{true, std::nullopt},
      SystemProxySet{false, "proxy:3128"},
      CustomCommand{"back\\slash \b\f\n\r\x1f", {}},
      CustomCommand{"restore", {"netsh", "interface", "set"}},
  };
  const std::string expected =
      "[\n"
      "  {\n    \"TunInterfaceUp\": {\n"
      "      \"interface\": \"utun-nuv\",\n      \"address\": \"10.8.0.2\",\n"
      "      \"netmask\": \"255.255.255.0\"\n    }\n  },\n"
      "  {\n    \"RouteAdded\": {\n"
      "      \"destination\": \"0.0.0.0/1\",\n      \"gateway\": null,\n"
      "      \"interface\": null,\n      \"metric\": null\n    }\n  },\n"
      "  {\n    \"RouteAdded\": {\n"
      "      \"destination\": \"10.0.0.0/8\",\n      \"gateway\": \"10.8.0.1\",\n"
      "      \"interface\": \"utun-nuv\",\n      \"metric\": 0\n    }\n  },\n"
      "  {\n    \"DnsOverridden\": {\n"
      "      \"interface\": \"Wi-Fi\",\n      \"interface_index\": null,\n"
      "      \"original_servers\": []\n    }\n  },\n"
      "  {\n    \"DnsOverridden\": {\n"
      "      \"interface\": \"Ethernet\",\n      \"interface_index\": 12,\n"
      "      \"original_servers\": [\n        \"1.1.1.1\",\n        \"2606:4700::1111\"\n"
      "      ]\n    }\n  },\n"
      "  {\n    \"FirewallRuleAdded\": {\n"
      "      \"rule_name\": \"tab\\there \\\"quoted\\\" \\u0001 del\x7F a/b "
      "\xC3\xA9\xE2\x80\x94\"\n"
      "    }\n  },\n"
      "  {\n    \"SystemProxySet\": {\n"
      "      \"original_enabled\": true,\n      \"original_server\": null\n    }\n  },\n"
      "  {\n    \"SystemProxySet\": {\n"
      "      \"original_enabled\": false,\n      \"original_server\": \"proxy:3128\"\n    }\n  },\n"
      "  {\n    \"CustomCommand\": {\n"
      "      \"description\": \"back\\\\slash \\b\\f\\n\\r\\u001f\",\n"
      "      \"reverse_command\": []\n    }\n  },\n"
      "  {\n    \"CustomCommand\": {\n"
      "      \"description\": \"restore\",\n      \"reverse_command\": [\n"
      "        \"netsh\",\n        \"interface\",\n        \"set\"\n      ]\n    }\n  }\n"
      "]";
  const std::string written = format_journal(changes);
  EXPECT_EQ(written, expected);
  EXPECT_EQ(test::value_of(parse_journal(written)), changes);
}

TEST(JournalFormat, LayoutWrittenTextReadsBackToEqualRecords) {
  std::vector<SystemChange> changes;
  std::string every_byte;
  for (int c = 1; c < 0x80; ++c) every_byte += static_cast<char>(c);
  every_byte += std::string("\0\xF4\x8F\xBF\xBF", 5);
  changes.emplace_back(CustomCommand{every_byte, {every_byte, "", every_byte}});
  changes.emplace_back(RouteAdded{"", "", "", 4294967295u});
  changes.emplace_back(DnsOverridden{"", 0u, {""}});
  EXPECT_EQ(test::value_of(parse_journal(format_journal(changes))), changes);

  const SystemStateMeta meta{4294967295u, 18446744073709551615ull};
  EXPECT_EQ(test::value_of(parse_meta(format_meta(meta))), meta);
}

// A journal written in place is padded with spaces to the old length before
// it is shortened; cut off between the two, it reads as the new records.
TEST(JournalFormat, LayoutWrittenTextFollowedBySpacesReadsBackToEqualRecords) {
  const std::vector<SystemChange> changes{FirewallRuleAdded{"r"}};
  EXPECT_EQ(test::value_of(parse_journal(format_journal(changes) + std::string(4096, ' '))),
            changes);
}

}  // namespace
}  // namespace nuv

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/recording_sink.h"
#include "watchdog/recovery.h"

namespace nuv {
namespace {

using test::RecordingSink;

std::vector<std::string> recover(std::uint64_t orphans,
                                 std::optional<std::vector<std::string>> errors,
                                 std::vector<std::string>* order = nullptr) {
  RecordingSink sink;
  run_recovery(sink, {
                         .clean_wintun_orphans =
                             [&] {
                               if (order) order->push_back("orphans");
                               return orphans;
                             },
                         .recover_system_state =
                             [&] {
                               if (order)
                                 order->push_back("state (after " +
                                                  std::to_string(sink.lines.size()) + " line)");
                               return errors;
                             },
                         .out_of_memory = {},
                     });
  return sink.lines;
}

TEST(RecoverySequence, BothStepsRunInOrderEachWithItsLine) {
  std::vector<std::string> order;
  EXPECT_EQ(recover(0, std::nullopt, &order),
            (std::vector<std::string>{"nuv-watchdog: no wintun orphans",
                                      "nuv-watchdog: no system_state to recover"}));
  EXPECT_EQ(order, (std::vector<std::string>{"orphans", "state (after 1 line)"}));
}

TEST(RecoverySequence, OrphanCountsAndStateOutcomes) {
  EXPECT_EQ(recover(1, std::vector<std::string>{})[0], "nuv-watchdog: cleaned 1 wintun orphan(s)");
  EXPECT_EQ(recover(3, std::vector<std::string>{})[0], "nuv-watchdog: cleaned 3 wintun orphan(s)");
  EXPECT_EQ(recover(18446744073709551615u, std::nullopt)[0],
            "nuv-watchdog: cleaned 18446744073709551615 wintun orphan(s)");
  EXPECT_EQ(recover(0, std::vector<std::string>{})[1], "nuv-watchdog: system_state recovery clean");
}

TEST(RecoverySequence, ErrorsStayOnOneLineInListNotation) {
  EXPECT_EQ(
      recover(0, std::vector<std::string>{"delete firewall rule failed: Access is denied.\r\n"})[1],
      "nuv-watchdog: system_state recovery had 1 errors: "
      "[\"delete firewall rule failed: Access is denied.\\r\\n\"]");
  EXPECT_EQ(recover(0, std::vector<std::string>{"a \"b\"", "c\\d"})[1],
            "nuv-watchdog: system_state recovery had 2 errors: [\"a \\\"b\\\"\", \"c\\\\d\"]");
}

}  // namespace
}  // namespace nuv

#include "watchdog/logged_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording.h"

namespace nuv {
namespace {

// Every line goes to both, and to the log first; only a line longer than the
// log keeps whole is cut there, between code points, with what it left out
// counted. Standard error always gets the line whole.
TEST(LoggedSink, LogsEachLineAndCutsOnlyWhatPassesTheLimit) {
  const std::string at_limit(kLoggedLineLimit, 'a');
  // A three-byte character across the limit moves out whole.
  const std::string across = std::string(kLoggedLineLimit - 1, 'b') + "\xE2\x80\x94" + "cc";
  struct Case {
    std::string line;
    std::string logged;
  };
  for (const Case& c : std::vector<Case>{
           {"nuv-watchdog: no wintun orphans", "nuv-watchdog: no wintun orphans"},
           {at_limit, at_limit},
           {at_limit + "z", at_limit + " [1 more bytes]"},
           {across, std::string(kLoggedLineLimit - 1, 'b') + " [5 more bytes]"},
       }) {
    test::RecordingSink out;
    test::RecordingLog log;
    LoggedSink sink(out, log);
    sink.write_line(c.line);
    EXPECT_TRUE(out.lines == std::vector<std::string>{c.line}) << c.line.size();
    EXPECT_TRUE(log.lines == std::vector<std::string>{c.logged}) << c.line.size();
  }
}

}  // namespace
}  // namespace nuv

// The journal's two markers: raised and lowered, found or not, and every
// answer of the system that is neither said as a reason.
#include <gtest/gtest.h>

#include <string>

#include "common/win32.h"
#include "common/os_error.h"
#include "state/journal_lock_name.h"
#include "state/journal_lock_win.h"
#include "support/checked_win.h"
#include "watchdog/monitoring_marker_win.h"

namespace nuv::test {
namespace {

TEST(MonitoringMarker, EachKindIsFoundWhileRaisedAndNotOnceLowered) {
  const std::string path = narrow(unique_temp_path(L"system_state.json"));
  const auto there = [&path](MarkerKind kind) {
    const auto found = find_marker(kind, path);
    EXPECT_TRUE(found) << (found ? "" : found.error());
    return found && *found;
  };
  JournalMarker monitoring(MarkerKind::kMonitoring);
  JournalMarker pending(MarkerKind::kPending);
  EXPECT_FALSE(there(MarkerKind::kMonitoring));
  ASSERT_TRUE(monitoring.raise(path));
  EXPECT_TRUE(there(MarkerKind::kMonitoring));
  EXPECT_FALSE(there(MarkerKind::kPending)) << "one kind is not the other";
  ASSERT_TRUE(pending.raise(path));
  monitoring.lower();
  EXPECT_FALSE(there(MarkerKind::kMonitoring));
  EXPECT_TRUE(there(MarkerKind::kPending));
  pending.lower();
  EXPECT_FALSE(there(MarkerKind::kPending));
}

// Neither "there" nor "not there": the caller weighs the doubt, with the
// system's words for it.
TEST(MonitoringMarker, AnAnswerThatIsNeitherIsAReason) {
  const auto unmade = find_marker(MarkerKind::kMonitoring,
                                  Result<std::u16string, OsError>(unexpected(OsError{123})));
  ASSERT_FALSE(unmade);
  EXPECT_EQ(unmade.error(), "its name cannot be formed: " + os_error_text(123));

  // Another kind of object under the marker's name.
  const std::string path = narrow(unique_temp_path(L"system_state.json"));
  const auto key = journal_name_key(path);
  ASSERT_TRUE(key);
  const std::u16string name = monitoring_marker_name(*key);
  const UniqueHandle squatter(
      ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str())));
  ASSERT_TRUE(squatter.valid());
  const auto other = find_marker(MarkerKind::kMonitoring, path);
  ASSERT_FALSE(other);
  EXPECT_EQ(other.error(), os_error_text(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace nuv::test

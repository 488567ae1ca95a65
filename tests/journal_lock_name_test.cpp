// The names of a journal's lock and of its two markers.
#include <gtest/gtest.h>

#include <string>

#include "state/journal_lock_name.h"

namespace nuv {
namespace {

TEST(JournalLockName, IsAHashOfThePathWithoutABackslash) {
  const std::u16string prefix = u"Local\\nuv-watchdog-journal-";
  // 64-bit FNV-1a: its offset basis for no input.
  EXPECT_EQ(journal_lock_name(u""), prefix + u"cbf29ce484222325");
  const std::u16string path = u"C:\\USERS\\U\\APPDATA\\ROAMING\\NUV CLIENT\\SYSTEM_STATE.JSON";
  const std::u16string name = journal_lock_name(path);
  EXPECT_EQ(name, journal_lock_name(path));
  EXPECT_EQ(name.size(), prefix.size() + 16);
  EXPECT_EQ(name.substr(0, prefix.size()), prefix);
  EXPECT_EQ(name.find(u'\\', prefix.size()), std::u16string::npos);
  std::u16string other_drive = path;
  other_drive[0] = u'D';
  EXPECT_NE(name, journal_lock_name(other_drive));
  EXPECT_NE(name, journal_lock_name(path + u"X"));
  // Both bytes of each code unit count.
  EXPECT_NE(journal_lock_name(u"\u0141"), journal_lock_name(u"\u0041"));
  // A path far longer than a mutex name may be gives a name as short as any.
  EXPECT_EQ(journal_lock_name(std::u16string(40000, u'A')).size(), name.size());
}

// The markers share the lock's hash, each under its own prefix, so that no
// marker can be taken for the lock or for the other marker.
TEST(JournalLockName, MarkersShareTheHashUnderPrefixesOfTheirOwn) {
  const std::u16string path = u"C:\\USERS\\U\\APPDATA\\ROAMING\\NUV CLIENT\\SYSTEM_STATE.JSON";
  const std::u16string hash = journal_lock_name(path).substr(27);
  EXPECT_EQ(monitoring_marker_name(path), u"Local\\nuv-watchdog-monitor-" + hash);
  EXPECT_EQ(pending_marker_name(path), u"Local\\nuv-watchdog-pending-" + hash);
}

}  // namespace
}  // namespace nuv

// The system-wide names that stand for one journal: its recovery lock, the
// marker of the watchdog that monitors it, and the marker of a watchdog whose
// client has ended and that may be about to recover it.
#pragma once

#include <string>
#include <string_view>

namespace nuv {

// The name of the lock of a journal, from the journal's full path already
// upper-cased, so that every spelling of one file gives one name: a hash of
// the path, because a mutex name holds no backslash and is limited in length.
std::u16string journal_lock_name(std::u16string_view upper_case_full_path);

// The name of the event that a monitoring watchdog holds for the journal at
// that path: the same hash as the lock's name, under another prefix.
std::u16string monitoring_marker_name(std::u16string_view upper_case_full_path);

// The name of the event that a watchdog holds from its client's end until it
// holds the journal's lock: the same hash again, under a third prefix.
std::u16string pending_marker_name(std::u16string_view upper_case_full_path);

}  // namespace nuv

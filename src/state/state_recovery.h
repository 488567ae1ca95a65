// The state recovery run: finds the client's journal, loads it with its meta
// record, has it rolled back, and hands back the error messages.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error_list.h"
#include "common/result.h"
#include "state/journal_outcome.h"
#include "state/state_files.h"
#include "state/system_change.h"
#include "state/system_state_store.h"

namespace nuv {

inline constexpr std::string_view kDataFolderName = "NUV Client";
inline constexpr std::string_view kStateFileName = "system_state.json";

// <APPDATA>\NUV Client: the client's data folder, which holds the journal.
std::string data_folder(std::string_view appdata);

struct StatePaths {
  std::string state;  // <APPDATA>\NUV Client\system_state.json
  std::string meta;   // the same with ".meta" appended
};
StatePaths state_paths(std::string_view appdata);

// Held for as long as it lives: one recovery of a journal at a time, across
// processes. The system releases it when its holder dies.
class JournalLock {
 public:
  virtual ~JournalLock() = default;
  // True when it was had only because its last holder ended without giving
  // it back: that holder's recovery may have stopped part-way.
  [[nodiscard]] virtual bool abandoned() const { return false; }
};

// The log's line for a lock that was had that way.
std::string abandoned_lock_text(const std::string& state_path);

// The name of the lock of a journal, from the journal's full path already
// upper-cased, so that every spelling of one file gives one name: a hash of
// the path, because a mutex name holds no backslash and is limited in length.
std::u16string journal_lock_name(std::u16string_view upper_case_full_path);

// The name of the event that a monitoring watchdog holds for the journal at
// that path: the same hash as the lock's name, under another prefix.
std::u16string monitoring_marker_name(std::u16string_view upper_case_full_path);

// Why there is nothing to roll back.
enum class NothingToRecover {
  kNoAppdata,   // APPDATA is not set
  kNoJournal,   // no journal file (or no data folder)
  kUnreadable,  // a journal is there but cannot be read
  kInvalid,     // a journal is there but is not UTF-8 or not a valid journal
  kNoRecords,   // a valid journal that holds no record
  kNoRuntime,   // the runtime of the rollback could not be made
};

// A journal read and understood.
struct LoadedJournal {
  std::string text;  // the bytes as read
  std::vector<SystemChange> changes;
};

// Why a journal could not be loaded: kNoJournal, kUnreadable or kInvalid,
// and the words the log and the plan use for it ("cannot be read: ...",
// "is invalid: ...").
struct JournalUnavailable {
  NothingToRecover why = NothingToRecover::kUnreadable;
  std::string reason;
};

// Reads the journal at `path` whole and parses it strictly. Nothing is written.
Result<LoadedJournal, JournalUnavailable> load_journal(const StateFiles& files,
                                                       const std::string& path);

// "2 records", "1 record".
std::string record_count_text(std::size_t count);

// What the run asks of the system.
struct StateRecoverySystem {
  // The value of APPDATA; absent when it is not set.
  std::function<std::optional<std::string>()> appdata;
  // The journal and the meta file are read through it; the journal is deleted
  // through it after a complete rollback. Only read, remove and read_error
  // are used here.
  StateFiles files;
  // Starts a runtime for this run alone, rolls the store back on it, shuts it
  // down and returns the outcome; absent when the runtime cannot be made.
  std::function<std::optional<RollbackOutcome>(SystemStateStore&)> roll_back;
  // Waits until the journal at this path is no other recovery's, and keeps it
  // so while the result lives. Null when no lock can be had: the run then
  // goes on without one. Not set: no locking.
  std::function<std::unique_ptr<JournalLock>(const std::string& state_path)> lock_journal;
  // Detail lines for the log: how the journal was found and kept. Not set:
  // none are written.
  std::function<void(std::string_view line)> log;
};

// Why there was nothing to recover (no APPDATA, no readable, UTF-8, valid and
// non-empty journal, or no runtime); then neither file has been touched.
// Otherwise the rollback's messages, possibly none, and how the journal was
// left.
Result<RollbackOutcome, NothingToRecover> recover_journal(const StateRecoverySystem& system);

// The same, absent when there was nothing to recover.
std::optional<RollbackOutcome> recover_system_state_with_outcome(const StateRecoverySystem& system);

// The same, the messages alone.
std::optional<ErrorList> recover_system_state(const StateRecoverySystem& system);

}  // namespace nuv

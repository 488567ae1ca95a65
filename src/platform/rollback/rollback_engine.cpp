#include "platform/rollback/rollback_engine.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "state/journal_format.h"

namespace nuv {
namespace {

// A crash or power loss in the middle of rewriting the journal in place would
// leave it truncated: it would then read as invalid and every change still in
// it would never be undone. So the new text goes to a temporary file beside
// it, flushed, and replaces the journal by a rename. Only when that is
// impossible is the journal written in place, so that the outcome is kept.
void write_journal(StateFiles& files, const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  if (files.write(temporary, text) && files.replace(temporary, path)) return;
  files.remove(temporary);
  files.write(path, text);
}

void write_meta(StateFiles& files, const std::string& path, const SystemStateMeta& meta) {
  const std::string temporary = path + ".tmp";
  if (!files.write(temporary, format_meta(meta))) {
    files.remove(temporary);  // a partial temporary file; the meta file stays as it was
    return;
  }
  if (!files.replace(temporary, path)) files.remove(temporary);
}

void persist_complete(SystemStateStore& store, StateFiles& files) {
  if (store.state_path) files.remove(*store.state_path);
  {
    const std::lock_guard lock(store.meta_lock);
    store.meta = SystemStateMeta{};
  }
  if (store.meta_path) files.remove(*store.meta_path);
}

void persist_partial(SystemStateStore& store, std::vector<SystemChange> failed, StateFiles& files,
                     const WallClock& clock) {
  std::reverse(failed.begin(), failed.end());  // back to journal order
  {
    const std::lock_guard lock(store.changes_lock);
    store.changes = std::move(failed);
    // Held while the journal is written, so nobody sees the list change under it.
    if (store.state_path) write_journal(files, *store.state_path, format_journal(store.changes));
  }

  const std::int64_t now = clock();
  SystemStateMeta updated;
  {
    const std::lock_guard lock(store.meta_lock);
    if (store.meta.partial_rollback_count < std::numeric_limits<std::uint32_t>::max()) {
      ++store.meta.partial_rollback_count;
    }
    store.meta.last_partial_rollback_unix = now > 0 ? static_cast<std::uint64_t>(now) : 0;
    updated = store.meta;
  }
  if (store.meta_path) write_meta(files, *store.meta_path, updated);
}

}  // namespace

std::vector<std::string> rollback_changes(SystemStateStore& store, const CommandRunner& run,
                                          StateFiles& files, const WallClock& clock) {
  std::vector<SystemChange> pending;
  {
    const std::lock_guard lock(store.changes_lock);
    pending.swap(store.changes);
  }

  std::vector<std::string> errors;
  std::vector<SystemChange> failed;
  while (!pending.empty()) {
    SystemChange change = std::move(pending.back());
    pending.pop_back();
    if (auto message = undo_change(change, run)) {
      errors.push_back(std::move(*message));
      failed.push_back(std::move(change));
    }
  }

  if (errors.empty()) {
    persist_complete(store, files);
  } else {
    persist_partial(store, std::move(failed), files, clock);
  }
  return errors;
}

}  // namespace nuv

#include "watchdog/recovery_plan.h"

#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/list_notation.h"
#include "common/utf.h"
#include "platform/process/program_launch.h"
#include "platform/rollback/undo_plan.h"
#include "platform/wintun/candidate_names.h"
#include "state/journal_format.h"
#include "state/journal_schema.h"
#include "state/state_recovery.h"
#include "watchdog/exit_codes.h"

namespace nuv {
namespace {

// The program a step would start, as the log would name it, and why it
// cannot be started, if it cannot: the runner's own checks, the program
// search and the command line, then the file that the system would start.
struct LaunchCheck {
  std::string program;
  std::optional<std::string> refusal;  // the launch error's display text
};

LaunchCheck check_launch(const CommandRequest& request, const PlanSystem& system) {
  auto launch = prepare_launch(request, system.program_search);
  if (!launch) {
    const LaunchError& error = launch.error();
    return {error.program_path.empty() ? request.program : error.program_path, error.text};
  }
  std::string program = launch->program_path.empty() ? request.program : launch->program_path;
  if (auto startable = system.check_application(launch->application); !startable) {
    return {std::move(program), startable.error().text};
  }
  return {std::move(program), std::nullopt};
}

// A custom command's effect is the client's own and is never read back.
std::string plan_state_text(const ReadBack& state) {
  if (state.state == ChangeState::kCannotTell && state.facts.empty()) {
    return "cannot tell: what a custom command changed is not read back";
  }
  return change_state_text(state);
}

// "; 1 in place, 2 already gone, 0 cannot tell" for the first line.
std::string state_counts_text(const std::vector<ReadBack>& states, bool named_file) {
  std::size_t in_place = 0, gone = 0, cannot_tell = 0;
  for (const ReadBack& state : states) {
    switch (state.state) {
      case ChangeState::kInPlace:
        ++in_place;
        break;
      case ChangeState::kGone:
        ++gone;
        break;
      case ChangeState::kCannotTell:
        ++cannot_tell;
        break;
    }
  }
  return std::string(named_file ? "; on this machine, which need not be the one that wrote it, "
                                : "; now ") +
         std::to_string(in_place) + " in place, " + std::to_string(gone) + " already gone, " +
         std::to_string(cannot_tell) + " cannot tell";
}

// One line per command that the undo would run, each the program as the
// search finds it now and then the arguments in list notation, as the log
// names a command it ran; a command that cannot start says why, in the words
// that its launch error would have.
void show_change(std::size_t number, const SystemChange& change,
                 const std::optional<ReadBack>& state, const PlanSystem& system, MessageSink& out) {
  const std::string head = std::to_string(number) + ". " +
                           std::string(journal_schema::kKindNames[change.index()]) + ": ";
  // On a line of its own, after the commands: the command lines stay the
  // plan's stable part.
  const auto show_state = [&] {
    if (state) out.write_line(head + "now " + plan_state_text(*state));
  };
  const auto steps = undo_plan(change);
  if (steps.empty()) {
    out.write_line(head + "nothing to run");
    show_state();
    return;
  }
  for (const UndoStep& step : steps) {
    if (step.refusal) {
      out.write_line(head + step.launch_prefix + *step.refusal);
      continue;
    }
    const LaunchCheck launch = check_launch(step.request, system);
    std::string line = head + launch.program + " " + list_notation(step.request.args);
    if (launch.refusal) line += " (cannot be started: " + *launch.refusal + ")";
    if (!step.outcome_counts) line += " (its result is ignored)";
    out.write_line(line);
  }
  show_state();
}

void show_meta(const std::string& meta_path, const PlanSystem& system, MessageSink& out) {
  const auto text = system.files.read(meta_path);
  if (!text) return;  // none, or none to be read: a recovery counts from 0
  const std::string meta = "meta " + list_notation({meta_path});
  const auto values =
      is_valid_utf8(*text) ? parse_meta(*text) : unexpected(JournalFault{"it is not UTF-8"});
  if (!values) {
    out.write_line(meta + " is invalid; a recovery counts from 0");
    return;
  }
  out.write_line(meta + ": partial_rollback_count " +
                 std::to_string(values->partial_rollback_count) + ", last_partial_rollback_unix " +
                 std::to_string(values->last_partial_rollback_unix));
}

// The plan's lines, held until the plan is whole, so that memory running out
// half-way leaves nothing half said.
class HeldLines final : public MessageSink {
 public:
  void write_line(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

// The plan into `out`, and its exit code; `state_path` gets the journal's
// path as soon as it is known.
int make_plan(const PlanRequest& request, const PlanSystem& system, std::string& state_path,
              MessageSink& out) {
  if (request.journal_path) {
    state_path = *request.journal_path;
  } else {
    const auto appdata = system.appdata();
    if (!appdata) {
      out.write_line("no journal: APPDATA is not set");
      return kExitJournalUnusable;
    }
    state_path = state_paths(*appdata).state;
  }

  const std::string journal = "journal " + list_notation({state_path});
  const auto loaded = load_journal(system.files, state_path);
  int code = kExitClean;
  // Read back first, so that the first line can count the states.
  std::vector<ReadBack> states;
  if (loaded && system.read_back) {
    states.reserve(loaded->changes.size());
    for (const SystemChange& change : loaded->changes) states.push_back(system.read_back(change));
  }
  if (loaded) {
    out.write_line(journal + " holds " + record_count_text(loaded->changes.size()) +
                   (states.empty() ? std::string()
                                   : state_counts_text(states, request.journal_path.has_value())));
  } else {
    out.write_line(journal + " " + loaded.error().reason);
    // The client's journal may well be absent; a file named to be checked
    // must be there.
    const bool absent_is_fine =
        loaded.error().why == NothingToRecover::kNoJournal && !request.journal_path;
    if (!absent_is_fine) code = kExitJournalUnusable;
  }
  out.write_line("adapters: a recovery first tries the client's " +
                 std::to_string(wintun_candidate_names().size()) + " adapter names");
  if (loaded) {
    const auto& changes = loaded->changes;
    for (std::size_t i = changes.size(); i > 0; --i) {
      const auto state = states.empty() ? std::optional<ReadBack>() : states[i - 1];
      show_change(i, changes[i - 1], state, system, out);
    }
  }
  show_meta(state_path + ".meta", system, out);
  return code;
}

}  // namespace

int show_recovery_plan(const PlanRequest& request, const PlanSystem& system, MessageSink& out) {
  std::string state_path;
  HeldLines held;
  int code = kExitJournalUnusable;
  try {
    code = make_plan(request, system, state_path, held);
  } catch (const std::bad_alloc&) {
    // Most likely in reading or parsing a huge file. What was read went with
    // the frames that held it; the lines made so far go too, and the one
    // line left needs little memory, the system's words being had already.
    std::vector<std::string>().swap(held.lines);
    try {
      out.write_line("journal " + list_notation({state_path}) +
                     " cannot be read: out of memory: " + system.out_of_memory_text);
    } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): the exit code still says it
    }
    return kExitJournalUnusable;
  }
  for (const auto& line : held.lines) out.write_line(line);
  return code;
}

}  // namespace nuv

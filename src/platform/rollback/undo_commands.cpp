// Running an undo's steps: each answer judged, each command logged, and the
// proxy change announced.
#include "platform/rollback/undo_commands.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <utility>
#include <variant>

#include "common/list_notation.h"
#include "common/utf.h"

namespace nuv {
namespace {

std::string shown_program(const UndoStep& step, const std::string& resolved) {
  return resolved.empty() ? step.request.program : resolved;
}

// A journal's arguments can be long; the log keeps their start.
std::string clipped(std::string text) {
  if (text.size() <= kLoggedArgumentBytes) return text;
  const std::size_t dropped = text.size() - kLoggedArgumentBytes;
  text.resize(kLoggedArgumentBytes);
  return decode_utf8_lossy(text) + more_bytes_text(dropped);
}

std::string milliseconds_since(std::chrono::steady_clock::time_point start) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count()) +
         " ms";
}

bool is_trailing_space_or_stop(std::string_view text, std::size_t& length) {
  static constexpr std::array<std::string_view, 10> kTrailing = {
      " ",
      "\t",
      "\r",
      "\n",
      "\v",
      "\f",
      ".",
      "\xC2\xA0",      // U+00A0 no-break space
      "\xE3\x80\x80",  // U+3000 ideographic space
      "\xE3\x80\x82",  // U+3002 ideographic full stop
  };
  for (const std::string_view end : kTrailing) {
    if (text.ends_with(end)) {
      length = end.size();
      return true;
    }
  }
  return false;
}

// The first reading that decodes cleanly is the one a person reads best;
// without one, the UTF-8 decoding with its replacement characters.
struct LoggedText {
  std::string text;
  std::uint64_t unlogged = 0;
};

LoggedText logged_standard_error(const CommandOutput& output,
                                 const std::vector<std::string>& readings) {
  const std::string& bytes = output.stderr_bytes;
  if (readings.empty() || readings.front() == bytes) {
    const std::uint64_t unlogged =
        bytes.size() > kLoggedStandardErrorBytes
            ? bytes.size() - kLoggedStandardErrorBytes + output.stderr_dropped
            : output.stderr_dropped;
    return {decode_utf8_lossy(std::string_view(bytes).substr(0, kLoggedStandardErrorBytes)),
            unlogged};
  }
  // A code page's reading, already UTF-8: cut at a character's start, and
  // count the rest of the reading's bytes and those the runner dropped.
  const std::string& reading = readings.front();
  std::size_t cut = std::min(reading.size(), kLoggedStandardErrorBytes);
  while (cut > 0 && cut < reading.size() &&
         (static_cast<unsigned char>(reading[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return {reading.substr(0, cut), reading.size() - cut + output.stderr_dropped};
}

// Whether a failed step's answer says that the change was already gone: an
// English text anywhere in the UTF-8 decoding, or the system's own text of a
// tolerated message in any clean reading. A message text that could not be
// had, or is empty once trimmed, is never searched for: a doubtful match
// would drop a change that may still be live.
bool already_gone(const UndoStep& step, const std::string& stderr_text,
                  const std::vector<std::string>& readings, const UndoSystem& system) {
  for (const auto& text : step.tolerated) {
    if (stderr_text.find(text) != std::string::npos) return true;
  }
  if (!system.message_texts) return false;
  for (const std::uint32_t code : step.tolerated_messages) {
    for (const auto& message : system.message_texts(code)) {
      const std::string wanted = trimmed_message_text(message);
      if (wanted.empty()) continue;
      for (const auto& reading : readings) {
        if (reading.find(wanted) != std::string::npos) return true;
      }
    }
  }
  return false;
}

void announce_proxy_change(const UndoSystem& system, Log& log) {
  if (!system.announce_internet_settings_changed) return;
  if (const auto announced = system.announce_internet_settings_changed(); !announced) {
    log.write("the Internet settings change was not announced: " + announced.error());
  } else {
    log.write("announced the Internet settings change to running programs");
  }
}

// The tools' verdict on an undo; `refused` when a step refused to run, so
// that nothing ran that a read-back could judge.
struct StepsRun {
  Result<void, ErrorMessage> verdict;
  bool refused = false;
};

StepsRun run_steps(const std::vector<UndoStep>& steps, const UndoSystem& system, Log& log) {
  for (const UndoStep& step : steps) {
    if (step.refusal) {
      log.write("undo not run: " + step.launch_prefix + *step.refusal);
      return {unexpected(ErrorMessage{step.launch_prefix + *step.refusal, 0}), true};
    }
    const auto started = std::chrono::steady_clock::now();
    auto outcome = system.run(step.request);
    const std::string args = clipped(list_notation(step.request.args));
    if (!outcome) {
      log.write("could not run " + shown_program(step, outcome.error().program_path) + " " + args +
                ": " + outcome.error().text + (step.outcome_counts ? "" : " (ignored)"));
      if (!step.outcome_counts) continue;
      return {unexpected(ErrorMessage{step.launch_prefix + outcome.error().text, 0})};
    }
    const std::string ran = "ran " + shown_program(step, outcome->program_path) + " " + args +
                            ": exit code " + std::to_string(outcome->exit_code) + " after " +
                            milliseconds_since(started);
    if (!step.outcome_counts) {
      log.write(ran + (outcome->exit_code == 0 ? "" : " (ignored)"));
      continue;
    }
    if (outcome->exit_code == 0) {
      log.write(ran);
      continue;
    }
    // Only the kept bytes are looked at; those read beyond them are counted.
    std::string stderr_text = decode_utf8_lossy(outcome->stderr_bytes);
    const auto readings = standard_error_readings(outcome->stderr_bytes, system);
    if (already_gone(step, stderr_text, readings, system)) {
      log.write(ran + ", accepted: its standard error says the change was already gone");
      continue;
    }
    const LoggedText logged = logged_standard_error(*outcome, readings);
    log.write(ran + ", not accepted; its standard error: " + list_notation({logged.text}) +
              more_bytes_text(logged.unlogged));
    return {unexpected(ErrorMessage{step.failure_prefix + stderr_text, outcome->stderr_dropped})};
  }
  return {};
}

// Tools lie (route exits 0 having done nothing, netsh under Wine does
// nothing at all, a localized tool answers in words no list holds), so the
// machine's state, when it says, decides over the tools' verdict.
Result<void, ErrorMessage> judged_by_read_back(const SystemChange& change, const ReadBack& found,
                                               Result<void, ErrorMessage> verdict, Log& log) {
  const bool tools_undid = verdict.has_value();
  const auto write = [&log, &found](bool overrules) {
    const bool said = found.state != ChangeState::kCannotTell;
    // A custom command is never read: no line, or a journal of many of them
    // would fill the log.
    if (!said && found.facts.empty()) return;
    std::string line = "read back: " + change_state_text(found);
    if (said && !found.facts.empty()) line += ": " + found.facts;
    if (overrules) line += "; this overrules the tool's answer";
    log.write(line);
  };
  switch (found.state) {
    case ChangeState::kGone:
      write(!tools_undid);
      return {};
    case ChangeState::kInPlace:
      write(tools_undid);
      if (!tools_undid) return verdict;
      return unexpected(ErrorMessage{still_there_message(change), 0});
    case ChangeState::kCannotTell:
      break;
  }
  write(false);
  return verdict;
}

}  // namespace

std::string trimmed_message_text(std::string_view text) {
  std::size_t length = 0;
  while (is_trailing_space_or_stop(text, length)) text.remove_suffix(length);
  return std::string(text);
}

std::vector<std::string> standard_error_readings(std::string_view bytes, const UndoSystem& system) {
  std::vector<std::string> readings;
  if (is_valid_utf8(bytes)) readings.emplace_back(bytes);
  if (system.code_page_readings) {
    for (auto& reading : system.code_page_readings(bytes)) {
      // A reading that is not UTF-8 would be searched and logged as garbage.
      if (is_valid_utf8(reading)) readings.push_back(std::move(reading));
    }
  }
  return readings;
}

Result<void, std::string> undo_change(const SystemChange& change, const CommandRunner& run) {
  NullLog none;
  return undo_change(change, UndoSystem{run, {}, {}, {}}, none);
}

Result<void, std::string> undo_change(const SystemChange& change, const CommandRunner& run,
                                      Log& log) {
  return undo_change(change, UndoSystem{run, {}, {}, {}}, log);
}

Result<void, std::string> undo_change(const SystemChange& change, const UndoSystem& system,
                                      Log& log) {
  const auto undone = undo_change_error(change, system, log);
  if (!undone) return unexpected(text_with_more_bytes(undone.error()));
  return {};
}

Result<void, ErrorMessage> undo_change_error(const SystemChange& change, const UndoSystem& system,
                                             Log& log) {
  const StepsRun ran = run_steps(undo_plan(change), system, log);
  if (ran.refused) return ran.verdict;
  // Programs that use WinINet keep the proxy they read until told that it
  // changed; told whatever reg answered, since either write may have landed.
  if (std::holds_alternative<SystemProxySet>(change)) announce_proxy_change(system, log);
  if (!system.read_back) return ran.verdict;
  return judged_by_read_back(change, system.read_back(change), ran.verdict, log);
}

}  // namespace nuv

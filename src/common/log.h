// The watchdog's durable record of a run, one line at a time. Writing never
// fails as far as the caller can tell: a record that cannot be kept is not
// worth stopping a recovery for.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace nuv {

class Log {
 public:
  virtual ~Log() = default;
  // One line, without its line feed.
  virtual void write(std::string_view text) = 0;
};

// For runs and tests that keep no record.
class NullLog final : public Log {
 public:
  void write(std::string_view) override {}
};

// Passes lines on until they add up to `budget` bytes, then says so once and
// drops the rest: a journal of thousands of records must not turn one run's
// detail lines into a log of many megabytes. Each line is charged what the
// log writes for it: its text, once more each line break in it (written as
// two characters), and `per_line` for what the log adds (its stamp and line
// feed), so that many short lines cannot pass the budget several times over.
class BudgetedLog final : public Log {
 public:
  BudgetedLog(Log& inner, std::size_t budget, std::size_t per_line = 0)
      : inner_(inner), budget_(budget), per_line_(per_line), left_(budget) {}
  void write(std::string_view text) override {
    if (exhausted_) return;
    const std::size_t cost =
        text.size() + per_line_ +
        static_cast<std::size_t>(
            std::count_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }));
    if (cost > left_) {
      exhausted_ = true;
      inner_.write("further detail lines of this run are not logged: they passed " +
                   std::to_string(budget_) + " bytes");
      return;
    }
    left_ -= cost;
    inner_.write(text);
  }

 private:
  Log& inner_;
  const std::size_t budget_;
  const std::size_t per_line_;
  std::size_t left_;
  bool exhausted_ = false;
};

}  // namespace nuv

// The watchdog's durable record of a run, one line at a time. Writing never
// fails as far as the caller can tell: a record that cannot be kept is not
// worth stopping a recovery for.
#pragma once

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
// detail lines into a log of many megabytes.
class BudgetedLog final : public Log {
 public:
  BudgetedLog(Log& inner, std::size_t budget) : inner_(inner), budget_(budget), left_(budget) {}
  void write(std::string_view text) override {
    if (exhausted_) return;
    if (text.size() > left_) {
      exhausted_ = true;
      inner_.write("further detail lines of this run are not logged: they passed " +
                   std::to_string(budget_) + " bytes");
      return;
    }
    left_ -= text.size();
    inner_.write(text);
  }

 private:
  Log& inner_;
  const std::size_t budget_;
  std::size_t left_;
  bool exhausted_ = false;
};

}  // namespace nuv

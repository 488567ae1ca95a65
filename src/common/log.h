// The watchdog's durable record of a run, one line at a time. Writing never
// fails as far as the caller can tell: a record that cannot be kept is not
// worth stopping a recovery for.
#pragma once

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

}  // namespace nuv

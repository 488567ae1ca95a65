// The recovery's error list, held as the summary line will show it. Clients
// parse that line, and a journal of thousands of failing undos, or undos
// whose tools flood their standard error, must neither fill the memory nor
// write a line of many megabytes. So each message is kept in the form it
// will be written in as soon as it is added:
//   - every failure counts, in order;
//   - a message is kept whole while the list text before its opening quote
//     is within kWholeMessageLimit (so the first one always is);
//   - every later one keeps its first kCutMessageBytes (cut between code
//     points) and one ending " [<m> more bytes]" that counts every byte left
//     out, those already left out before it came here included;
//   - once a message would take the list text, "[" to "]", past
//     kListTextLimit, the list is closed: that failure and every later one
//     are only counted. The first message is always listed.
// The budgets count the bytes of the list text as written, escapes included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace nuv {

inline constexpr std::size_t kWholeMessageLimit = std::size_t{1024} * 1024;
inline constexpr std::size_t kCutMessageBytes = 256;
inline constexpr std::size_t kListTextLimit = std::size_t{2} * 1024 * 1024;

// One failure's message, and how many bytes of it were left out before it
// got here (a tool's standard error beyond what the runner kept).
struct ErrorMessage {
  std::string text;
  std::uint64_t more_bytes = 0;
  bool operator==(const ErrorMessage&) const = default;
};

// " [<count> more bytes]", or nothing for 0: what follows a text that was
// cut short.
std::string more_bytes_text(std::uint64_t count);

// The text with its ending, as a list or a log shows it.
std::string text_with_more_bytes(const ErrorMessage& message);

class ErrorList {
 public:
  ErrorList() = default;
  // Each message added in turn, with nothing left out of it before.
  ErrorList(std::initializer_list<std::string> messages);
  // Implicit: any list of messages is an error list, under the same rule.
  ErrorList(const std::vector<std::string>& messages);  // NOLINT(google-explicit-constructor)

  void add(ErrorMessage message);
  void add(std::string text) { add(ErrorMessage{std::move(text), 0}); }

  // Every failure added, listed or not.
  [[nodiscard]] std::size_t count() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }
  // The messages as the list writes them, endings included, in order.
  [[nodiscard]] const std::vector<std::string>& listed() const { return listed_; }
  // The failures after the last listed one.
  [[nodiscard]] std::size_t unlisted() const { return count_ - listed_.size(); }

  bool operator==(const ErrorList&) const = default;

 private:
  std::vector<std::string> listed_;
  std::size_t count_ = 0;
  std::size_t list_text_size_ = 2;  // "[" and "]"
};

// The list in list notation, followed by " (<k> more errors not listed)"
// when the list was closed early.
std::string error_list_notation(const ErrorList& errors);

}  // namespace nuv

#include "common/error_list.h"

#include "common/list_notation.h"
#include "common/utf.h"

namespace nuv {
namespace {

constexpr std::size_t kSeparatorSize = 2;  // ", "

}  // namespace

std::string more_bytes_text(std::uint64_t count) {
  return count == 0 ? std::string() : " [" + std::to_string(count) + " more bytes]";
}

std::string text_with_more_bytes(const ErrorMessage& message) {
  return message.text + more_bytes_text(message.more_bytes);
}

ErrorList::ErrorList(std::initializer_list<std::string> messages) {
  for (const auto& message : messages) add(message);
}

ErrorList::ErrorList(const std::vector<std::string>& messages) {
  for (const auto& message : messages) add(message);
}

void ErrorList::add(ErrorMessage message) {
  ++count_;
  // Closed once: the list shows the failures in order, without a gap.
  if (listed_.size() + 1 != count_) return;
  const std::size_t separator = listed_.empty() ? 0 : kSeparatorSize;
  const std::size_t before = list_text_size_ - 1 + separator;  // up to its opening quote
  std::string item;
  if (listed_.empty() || before <= kWholeMessageLimit) {
    item = std::move(message.text);
    item += more_bytes_text(message.more_bytes);
  } else {
    const std::size_t cut = utf8_prefix_length(message.text, kCutMessageBytes);
    // A fresh string: the message may hold megabytes of capacity.
    item = message.text.substr(0, cut);
    item += more_bytes_text(message.more_bytes + (message.text.size() - cut));
  }
  const std::size_t size = list_item_size(item);
  if (!listed_.empty() && list_text_size_ + separator + size > kListTextLimit) return;
  item.shrink_to_fit();
  listed_.push_back(std::move(item));
  list_text_size_ += separator + size;
}

std::string error_list_notation(const ErrorList& errors) {
  std::string out = list_notation(errors.listed());
  if (errors.unlisted() != 0) {
    out += " (" + std::to_string(errors.unlisted()) + " more errors not listed)";
  }
  return out;
}

}  // namespace nuv

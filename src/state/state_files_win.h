// The journal's and meta file's file operations on Windows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/rollback/rollback_engine.h"

namespace nuv {

class WindowsStateFiles final : public StateFiles {
 public:
  std::optional<std::string> read(const std::string& path) override;
  bool remove(const std::string& path) override;
  bool write(const std::string& path, std::string_view bytes) override;
  bool replace(const std::string& from, const std::string& to) override;
};

// The whole file, or empty when it cannot be opened or read.
std::optional<std::string> read_whole_file(const std::string& path);

}  // namespace nuv

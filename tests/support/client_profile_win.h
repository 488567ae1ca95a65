// A client's profile for the tests that run the program or its state
// recovery: an APPDATA folder with the client's data folder in it, where the
// journal, its meta file and the watchdog's logs are, all named as the
// program names them; and the stand-in tools beside the program under test.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace nuv::test {

class ClientProfile {
 public:
  ClientProfile() = default;
  // The profile whose APPDATA is `appdata`; nothing is made yet.
  explicit ClientProfile(std::wstring appdata);

  const std::wstring& appdata() const { return appdata_; }
  // The client's data folder in APPDATA, which holds the rest.
  const std::wstring& data_folder() const { return data_folder_; }
  const std::wstring& journal() const { return journal_; }
  const std::wstring& meta() const { return meta_; }
  const std::wstring& log() const { return log_; }
  const std::wstring& old_log() const { return old_log_; }

  // Makes APPDATA and, with `with_data_folder`, the data folder in it (the
  // client makes that one; the watchdog never does).
  testing::AssertionResult make(bool with_data_folder = true) const;
  // Writes the journal, in the data folder made before.
  testing::AssertionResult write_journal(const std::string& text) const;

 private:
  std::wstring appdata_, data_folder_, journal_, meta_, log_, old_log_;
};

// Copies the build's stand-in tool into `folder` as <tool>.exe for each of
// `tools`, and writes their script there, answers.txt, empty: every tool
// answers with exit code 0 until a test writes another.
testing::AssertionResult install_stand_in_tools(const std::wstring& folder,
                                                std::initializer_list<const wchar_t*> tools);

}  // namespace nuv::test

// A client's profile for the tests that run the program or its state
// recovery: an APPDATA folder with the client's data folder in it, where the
// journal, its meta file and the watchdog's logs are, all named as the
// program names them; and the stand-in tools beside the program under test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/scratch_test_win.h"

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
                                                const std::vector<const wchar_t*>& tools);

// A scratch folder laid out as the client leaves a machine: the program
// under test with the stand-in tools beside it, and the client's profile in
// "appdata" with its data folder made. A fixture adds what else its tests
// find in prepare_profile().
class ClientProfileTest : public ScratchTest {
 protected:
  // `program`: the build's program to run, copied into the folder.
  ClientProfileTest(std::wstring stem, std::wstring program, std::vector<const wchar_t*> tools)
      : ScratchTest(std::move(stem)), program_(std::move(program)), tools_(std::move(tools)) {}

  void prepare() final {
    profile_ = ClientProfile(in_root(L"appdata"));
    ASSERT_TRUE(profile_.make());
    copy_from_build(program_, program_);
    ASSERT_TRUE(install_stand_in_tools(root_, tools_));
    if (!HasFatalFailure()) prepare_profile();
  }
  virtual void prepare_profile() {}

  // The program as copied into the folder.
  std::wstring program() const { return in_root(program_); }
  std::wstring state() const { return profile_.journal(); }
  std::wstring meta() const { return profile_.meta(); }

  ClientProfile profile_;

 private:
  std::wstring program_;
  std::vector<const wchar_t*> tools_;
};

}  // namespace nuv::test

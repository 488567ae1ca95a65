// A test whose files live in a folder of its own: made afresh before each
// test, and removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "support/checked_win.h"
#include "tools/support/files_win.h"

namespace nuv::test {

class ScratchTest : public testing::Test {
 protected:
  // `stem` ends the folder's name, to tell the tests' folders apart.
  explicit ScratchTest(std::wstring stem) : stem_(std::move(stem)) {}

  void SetUp() final {
    auto made = support::ScratchFolder::make_unique(stem_);
    ASSERT_TRUE(made) << made.error().text();
    scratch_.emplace(std::move(*made));
    root_ = scratch_->path();
    prepare();
  }
  void TearDown() override { scratch_.reset(); }

  // What each test of the fixture finds in the folder; runs in SetUp.
  virtual void prepare() {}

  // A path in the folder.
  std::wstring in_root(const std::wstring& name) const { return root_ + L"\\" + name; }

  // Makes a folder in the folder (with its parents), failing the test if it
  // cannot.
  void make_folder(const std::wstring& name) const { ASSERT_TRUE(make_folders(in_root(name))); }

  // Copies a file of the build (a path from the test program's folder) into
  // the folder as `name`.
  void copy_from_build(const std::wstring& built, const std::wstring& name) const {
    ASSERT_TRUE(copy_file(program_folder() + built, in_root(name)));
  }

  std::wstring root_;

 private:
  std::wstring stem_;
  std::optional<support::ScratchFolder> scratch_;
};

}  // namespace nuv::test

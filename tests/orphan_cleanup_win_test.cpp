// The orphan adapter cleanup and the Wintun binding under Wine: a driver runs
// them in a folder of its own, beside a stand-in wintun.dll (or none), with
// TEMP, TMP and the stand-in's adapters set for each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>
#include "platform/wintun/candidate_names.h"
#include "support/checked_win.h"
#include "support/scratch_test_win.h"

namespace nuv::test {
namespace {

class OrphanCleanup : public ScratchTest {
 protected:
  OrphanCleanup() : ScratchTest(L"wintun") {}
  void prepare() override {
    make_folder(L"temp");
    copy_from_build(L"nuv-wintun-driver.exe", L"nuv-wintun-driver.exe");
  }

  std::wstring driver() const { return root_ + L"\\nuv-wintun-driver.exe"; }
  std::wstring temp() const { return root_ + L"\\temp"; }
  std::wstring lock() const { return temp() + L"\\nuv-wintun-cleanup.lock"; }

  void install_library(const wchar_t* variant = L"full", const std::wstring& folder = {}) {
    const std::wstring from = program_folder() + L"wintun-stand-in\\" + variant + L"\\wintun.dll";
    ASSERT_TRUE(copy_file(from, (folder.empty() ? root_ : folder) + L"\\wintun.dll"));
  }

  // Starts the driver; `changes` adjusts the environment set by default.
  StartedProcess start(const std::wstring& arguments,
                       std::map<std::wstring, std::optional<std::wstring>> changes = {},
                       const std::optional<std::wstring>& current_folder = std::nullopt) {
    std::map<std::wstring, std::optional<std::wstring>> environment{
        {L"TEMP", temp()},
        {L"TMP", std::nullopt},
        {L"NUV_WINTUN_LOG", root_ + L"\\wintun.log"},
        {L"NUV_WINTUN_LOCK_FILE", lock()},
        {L"NUV_WINTUN_ADAPTERS", L""},
    };
    for (auto& [name, value] : changes) environment[name] = value;
    return start_captured(driver(), L"nuv-wintun-driver " + arguments,
                          environment_block(environment), current_folder);
  }

  std::string run(const std::wstring& arguments,
                  std::map<std::wstring, std::optional<std::wstring>> changes = {},
                  const std::optional<std::wstring>& current_folder = std::nullopt) {
    auto child = start(arguments, std::move(changes), current_folder);
    const std::string output = read_to_end(child.stdout_read.get());
    EXPECT_EQ(wait_for_exit(child.process.get()), 0u);
    return output;
  }

  std::vector<std::string> library_log() const {
    return split_lines(read_file(root_ + L"\\wintun.log").value_or(""));
  }
};

TEST_F(OrphanCleanup, WithoutTheLibraryCountsNothingAndRemovesTheLock) {
  EXPECT_EQ(run(L"clean"), "0\n");
  EXPECT_FALSE(exists(lock()));
  EXPECT_EQ(run(L"load"), "LoadFailed\nerror mode 0\n");  // no dialog mode left behind
}

TEST_F(OrphanCleanup, LibraryLackingAnEntryPointIsRefusedAndUnloaded) {
  install_library(L"no-send-packet");
  EXPECT_EQ(run(L"clean"), "0\n");
  EXPECT_EQ(library_log(), (std::vector<std::string>{"load (lock file present)", "unload"}));
  EXPECT_FALSE(exists(lock()));
  EXPECT_EQ(run(L"load"), "EntryPointMissing\nerror mode 0\n");
}

TEST_F(OrphanCleanup, LibraryInTheCurrentFolderAloneIsNotLoaded) {
  const std::wstring planted = in_root(L"planted");
  make_folder(L"planted");
  install_library(L"full", planted);
  EXPECT_EQ(run(L"load", {}, planted), "LoadFailed\nerror mode 0\n");
  EXPECT_EQ(run(L"load", {{L"PATH", planted}}), "LoadFailed\nerror mode 0\n");
  EXPECT_TRUE(library_log().empty());

  install_library(L"full");  // beside the program: where the client ships it
  EXPECT_EQ(run(L"load", {}, planted), "loaded\nerror mode 0\n");
}

// Without AddDllDirectory the library's safe search flags fail: the cleanup
// says so instead of counting nothing in silence, and loads nothing.
TEST_F(OrphanCleanup, WithoutSafeDllSearchSkipsAndSaysWhy) {
  install_library();
  auto child = start(L"clean-unsafe", {{L"NUV_WINTUN_ADAPTERS", L"utun-nuv"}});
  const std::string output = read_to_end(child.stdout_read.get());
  const std::string log = read_to_end(child.stderr_read.get());
  EXPECT_EQ(wait_for_exit(child.process.get()), 0u);
  EXPECT_EQ(output, "0\n");
  EXPECT_EQ(log.substr(0, log.find_last_not_of("\r\n") + 1),
            "adapter cleanup skipped: this system has no safe DLL search (no AddDllDirectory in "
            "kernel32.dll; Windows 8.1 or later is needed)");
  EXPECT_TRUE(library_log().empty());
  EXPECT_FALSE(exists(lock()));
  EXPECT_EQ(run(L"clean", {{L"NUV_WINTUN_ADAPTERS", L"utun-nuv"}}),
            "0\n");  // the real kernel32 has it
  EXPECT_FALSE(library_log().empty());
}

TEST_F(OrphanCleanup, TriesTheSixtySixNamesInOrderAndClosesWhatOpened) {
  install_library();
  // These adapters exist in the library, but no interface of theirs resolves
  // under Wine here: each is opened, closed again at once, and not counted.
  auto child =
      start(L"clean", {{L"NUV_WINTUN_ADAPTERS", L"utun-nuv;utun-nuv 2;utun-nuv 33;utun-nuv-2"}});
  const std::string output = read_to_end(child.stdout_read.get());
  auto log = split_lines(read_to_end(child.stderr_read.get()));
  EXPECT_EQ(wait_for_exit(child.process.get()), 0u);
  EXPECT_EQ(output, "0\n");

  // The count leaves them out, but the log names each, in the order tried,
  // with the system's reason.
  for (auto& line : log) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  const std::string uncounted = " without counting it: its name resolves to no interface: ";
  ASSERT_EQ(log.size(), 2u) << testing::PrintToString(log);
  EXPECT_EQ(log[0].rfind("closed adapter [\"utun-nuv 2\"]" + uncounted, 0), 0u) << log[0];
  EXPECT_EQ(log[1].rfind("closed adapter [\"utun-nuv\"]" + uncounted, 0), 0u) << log[1];
  for (const auto& line : log) {
    EXPECT_NE(line.rfind(" (os error "), std::string::npos) << line;
    EXPECT_EQ(line.back(), ')') << line;
  }

  std::vector<std::string> expected{"load (lock file present)", "WintunSetLogger",
                                    "logger called from another thread"};
  for (const auto& name : wintun_candidate_names()) {
    expected.push_back("WintunOpenAdapter " + name);
    if (name == "utun-nuv 2" || name == "utun-nuv")
      expected.push_back("WintunCloseAdapter " + name);
  }
  expected.push_back("unload");
  EXPECT_EQ(library_log(), expected);
  EXPECT_FALSE(exists(lock()));
}

TEST_F(OrphanCleanup, LockFileAlreadyPresentSkipsEverythingAndStays) {
  install_library();
  ASSERT_TRUE(write_file(lock(), ""));
  EXPECT_EQ(run(L"clean"), "0\n");
  EXPECT_TRUE(library_log().empty());
  EXPECT_TRUE(exists(lock()));
}

TEST_F(OrphanCleanup, TempUnsetUsesTmpAndAMissingTempFolderGivesZero) {
  install_library();
  const std::wstring tmp = in_root(L"tmp");
  make_folder(L"tmp");
  EXPECT_EQ(run(L"clean", {{L"TEMP", std::nullopt},
                           {L"TMP", tmp},
                           {L"NUV_WINTUN_LOCK_FILE", tmp + L"\\nuv-wintun-cleanup.lock"}}),
            "0\n");
  ASSERT_FALSE(library_log().empty());
  EXPECT_EQ(library_log().front(), "load (lock file present)");
  EXPECT_FALSE(exists(tmp + L"\\nuv-wintun-cleanup.lock"));

  ASSERT_TRUE(::DeleteFileW((root_ + L"\\wintun.log").c_str()));
  EXPECT_EQ(run(L"clean", {{L"TEMP", root_ + L"\\missing"}, {L"TMP", tmp}}), "0\n");
  EXPECT_TRUE(library_log().empty());  // no fall-back to TMP
  EXPECT_FALSE(exists(tmp + L"\\nuv-wintun-cleanup.lock"));
}

TEST_F(OrphanCleanup, LoggerIsInstalledOnceAcrossTwoLoads) {
  install_library();
  EXPECT_EQ(run(L"open-twice utun-nuv NuvCore"),
            "WintunOpenAdapter failed\nWintunOpenAdapter failed\n");
  EXPECT_EQ(library_log(), (std::vector<std::string>{"load", "WintunSetLogger",
                                                     "logger called from another thread",
                                                     "WintunOpenAdapter utun-nuv", "unload", "load",
                                                     "WintunOpenAdapter NuvCore", "unload"}));
}

// An adapter that opens but whose interface does not resolve (none does
// under Wine) is closed at once; the error carries the system's message on
// one line, then its code, as every system failure does.
TEST_F(OrphanCleanup, AdapterWithoutAnInterfaceGivesTheSystemMessageOnOneLine) {
  install_library();
  const std::string output =
      run(L"open-twice utun-nuv NuvCore", {{L"NUV_WINTUN_ADAPTERS", L"utun-nuv;NuvCore"}});
  const auto lines = split_lines(output);
  ASSERT_EQ(lines.size(), 2u) << output;
  for (const auto& line : lines) {
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    EXPECT_NE(line.rfind(" (os error "), std::string::npos) << line;
    EXPECT_EQ(line.back(), ')') << line;
  }
  const auto log = library_log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "WintunCloseAdapter utun-nuv"), 1) << output;
  EXPECT_EQ(std::count(log.begin(), log.end(), "WintunCloseAdapter NuvCore"), 1) << output;
}

// A watchdog killed while it holds the lock must not leave the lock file
// behind: every later cleanup on the machine would be skipped.
TEST_F(OrphanCleanup, LockFileIsGoneAfterAKill) {
  install_library();
  auto child = start(L"clean", {{L"NUV_WINTUN_OPEN_DELAY_MS", L"10000"}});
  for (int i = 0; i < 500 && library_log().size() < 4; ++i) ::Sleep(20);
  ASSERT_GE(library_log().size(), 4u) << "the cleanup never reached its first adapter";
  EXPECT_TRUE(exists(lock()));
  ::TerminateProcess(child.process.get(), 9);
  wait_for_exit(child.process.get());
  EXPECT_FALSE(exists(lock()));
  EXPECT_EQ(run(L"clean"), "0\n");  // and the next cleanup runs
  EXPECT_EQ(library_log().back(), "unload");
}

}  // namespace
}  // namespace nuv::test

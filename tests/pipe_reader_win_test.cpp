// The loop that reads one output pipe to its end, through a stand-in for
// NtReadFile: Wine never completes a pipe read with 0 bytes (it drops a
// writer's empty write), Windows does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/os_error.h"
#include "common/result.h"
#include "platform/process/command.h"
#include "platform/process/pipe_reader_win.h"

namespace nuv {
namespace {

// Byte i is 'a' + i % 26, as the runner's helper writes.
std::string pattern(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>('a' + i % 26);
  return out;
}

// How a read loop ended, in words that a failed expectation shows.
std::string ending(const Result<void, OsError>& outcome) {
  return outcome ? "end of stream" : "os error " + std::to_string(outcome.error().code);
}

constexpr long kStatusSuccess = 0;
constexpr long kStatusEndOfFile = static_cast<long>(0xC0000011);
constexpr long kStatusPipeBroken = static_cast<long>(0xC000014B);
constexpr long kStatusAccessDenied = static_cast<long>(0xC0000022);

struct Scripted {
  long status;
  std::string bytes;
};

PipeReader scripted_reader(std::vector<Scripted> script) {
  auto steps = std::make_shared<std::vector<Scripted>>(std::move(script));
  auto next = std::make_shared<std::size_t>(0);
  return PipeReader([steps, next](char* buffer, std::size_t size) -> PipeReadResult {
    if (*next == steps->size()) {
      ADD_FAILURE() << "read again after the end";
      return {kStatusEndOfFile, 0};
    }
    const Scripted& step = (*steps)[(*next)++];
    EXPECT_LE(step.bytes.size(), size);
    std::copy(step.bytes.begin(), step.bytes.end(), buffer);
    return {step.status, step.bytes.size()};
  });
}

TEST(PipeReader, AReadOfZeroBytesIsNotTheEndOfTheStream) {
  PipeReader reader = scripted_reader({{kStatusSuccess, ""},
                                       {kStatusSuccess, "first"},
                                       {kStatusSuccess, ""},
                                       {kStatusSuccess, ", second"},
                                       {kStatusEndOfFile, ""}});
  EXPECT_EQ(ending(reader.read_to_end()), "end of stream");
  EXPECT_EQ(reader.take(), "first, second");
  EXPECT_EQ(reader.dropped(), 0u);

  PipeReader broken =
      scripted_reader({{kStatusSuccess, ""}, {kStatusSuccess, "data"}, {kStatusPipeBroken, ""}});
  EXPECT_EQ(ending(broken.read_to_end()), "end of stream");
  EXPECT_EQ(broken.take(), "data");
}

TEST(PipeReader, AFailedReadEndsTheLoopWithItsSystemError) {
  PipeReader reader = scripted_reader({{kStatusSuccess, "kept"}, {kStatusAccessDenied, ""}});
  EXPECT_EQ(ending(reader.read_to_end()), "os error 5");  // ERROR_ACCESS_DENIED
  EXPECT_EQ(reader.take(), "kept");
}

TEST(PipeReader, KeepsTheFirstMebibyteAcrossReadsAndCountsTheRest) {
  const std::string chunk = pattern(600 * 1024);
  PipeReader reader = scripted_reader({{kStatusSuccess, chunk},
                                       {kStatusSuccess, chunk},
                                       {kStatusSuccess, chunk},
                                       {kStatusEndOfFile, ""}});
  EXPECT_EQ(ending(reader.read_to_end()), "end of stream");
  const std::string kept = reader.take();
  ASSERT_EQ(kept.size(), kCaptureLimit);
  EXPECT_TRUE(kept == (chunk + chunk).substr(0, kCaptureLimit));
  EXPECT_EQ(reader.dropped(), 3 * chunk.size() - kCaptureLimit);
}

TEST(PipeReader, RunningOutOfMemoryEndsTheReadWithNotEnoughMemory) {
  int reads = 0;
  PipeReader reader([&reads](char* buffer, std::size_t) -> PipeReadResult {
    if (++reads == 2) throw std::bad_alloc();
    buffer[0] = 'x';
    return {kStatusSuccess, 1};
  });
  EXPECT_EQ(ending(reader.read_to_end()), "os error 8");  // ERROR_NOT_ENOUGH_MEMORY
  EXPECT_EQ(reader.take(), "x");
}

}  // namespace
}  // namespace nuv

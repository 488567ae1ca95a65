#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "support/checked_win.h"
#include "watchdog/message_sink_win.h"

namespace nuv {
namespace {

// Points standard error elsewhere for one test and puts it back afterwards.
// The suite bears the name of the class it tests, which is therefore named
// in full here.
class StandardErrorSink : public testing::Test {
 protected:
  void SetUp() override { saved_ = ::GetStdHandle(STD_ERROR_HANDLE); }
  void TearDown() override { ::SetStdHandle(STD_ERROR_HANDLE, saved_); }

  struct Pipe {
    UniqueFileHandle reader, writer;
  };
  // A pipe of `size` bytes (0: the system's choice) whose writing end is now
  // standard error.
  static Pipe pipe_as_standard_error(DWORD size) {
    HANDLE read = nullptr, write = nullptr;
    EXPECT_TRUE(::CreatePipe(&read, &write, nullptr, size));
    Pipe pipe{UniqueFileHandle(read), UniqueFileHandle(write)};
    ::SetStdHandle(STD_ERROR_HANDLE, pipe.writer.get());
    return pipe;
  }

  HANDLE saved_ = nullptr;
  nuv::StandardErrorSink sink_;
};

TEST_F(StandardErrorSink, PipeGetsTheUtf8BytesAndOneLineFeed) {
  auto pipe = pipe_as_standard_error(0);
  sink_.write_line("nuv-watchdog: a \xE2\x80\x94 b \xC3\xA9");
  ::SetStdHandle(STD_ERROR_HANDLE, saved_);
  pipe.writer.reset();
  EXPECT_EQ(test::read_to_end(pipe.reader.get()), "nuv-watchdog: a \xE2\x80\x94 b \xC3\xA9\n");
}

TEST_F(StandardErrorSink, FileGetsTheUtf8Bytes) {
  const auto path = test::unique_temp_path(L"stderr.txt");
  {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    ::SetStdHandle(STD_ERROR_HANDLE, file.get());
    sink_.write_line("one");
    sink_.write_line("\xE2\x80\x94");
    ::SetStdHandle(STD_ERROR_HANDLE, saved_);
  }
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(test::read_to_end(file.get()), "one\n\xE2\x80\x94\n");
}

TEST_F(StandardErrorSink, MissingOrBrokenStandardErrorDropsTheLine) {
  ::SetStdHandle(STD_ERROR_HANDLE, nullptr);
  sink_.write_line("dropped");
  ::SetStdHandle(STD_ERROR_HANDLE, INVALID_HANDLE_VALUE);
  sink_.write_line("dropped");

  HANDLE read = nullptr, write = nullptr;
  ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
  UniqueFileHandle reader(read), writer(write);
  reader.reset();  // the reader has gone
  ::SetStdHandle(STD_ERROR_HANDLE, writer.get());
  sink_.write_line("the reader has gone");  // must return, not stop or hang
  sink_.write_line(std::string(200'000, 'x'));
  SUCCEED();
}

// A reader that keeps the pipe open but reads nothing: the write is cancelled
// after the limit, and every later line is dropped at once instead of costing
// the limit again.
TEST_F(StandardErrorSink, StalledReaderCostsOneLimitThenLinesAreDropped) {
  using Clock = std::chrono::steady_clock;
  using namespace std::chrono_literals;
  auto pipe = pipe_as_standard_error(4096);
  nuv::StandardErrorSink sink(300ms);

  const auto start = Clock::now();
  sink.write_line(std::string(1 << 20, 'x'));  // far more than the pipe holds
  const auto first = Clock::now() - start;
  sink.write_line("later");
  const auto second = Clock::now() - start - first;
  ::SetStdHandle(STD_ERROR_HANDLE, saved_);
  pipe.writer.reset();

  EXPECT_GE(first, 250ms);
  EXPECT_LT(first, 10s);
  EXPECT_LT(second, 250ms);
  const std::string got = test::read_to_end(pipe.reader.get());
  EXPECT_LT(got.size(), std::size_t{1} << 20);
  EXPECT_EQ(got.find("later"), std::string::npos);
}

// A reader that is only slow gets every line whole: the limit is for a
// reader that stalls, not one that drains the pipe late.
TEST_F(StandardErrorSink, SlowReaderWithinTheLimitGetsEveryLine) {
  auto pipe = pipe_as_standard_error(4096);
  nuv::StandardErrorSink sink(std::chrono::seconds(20));
  std::string got;
  std::thread drain([&] {
    ::Sleep(500);
    got = test::read_to_end(pipe.reader.get());
  });
  const std::string big(200'000, 'y');
  sink.write_line(big);
  sink.write_line("after");
  ::SetStdHandle(STD_ERROR_HANDLE, saved_);
  pipe.writer.reset();
  drain.join();
  EXPECT_EQ(got, big + "\nafter\n");
}

// The limit passes while no write is in progress (here, between two chunks):
// it stays passed, so the line stops at the next chunk and every later line
// is dropped, although the reader drains the pipe.
TEST_F(StandardErrorSink, ALimitThatPassesBetweenChunksStopsTheLine) {
  auto pipe = pipe_as_standard_error(4096);
  std::string got;
  std::thread drain([&] { got = test::read_to_end(pipe.reader.get()); });
  nuv::StandardErrorSink sink(std::chrono::milliseconds(300), [](std::size_t chunk) {
    if (chunk == 1) ::Sleep(700);
  });
  const std::string line(1 << 20, 'z');
  sink.write_line(line);
  sink.write_line("later");
  ::SetStdHandle(STD_ERROR_HANDLE, saved_);
  pipe.writer.reset();
  drain.join();
  // The first chunk, and at most the one begun before the limit passed.
  EXPECT_GE(got.size(), std::size_t{0x10000});
  EXPECT_LE(got.size(), std::size_t{0x20000});
  EXPECT_TRUE(got == line.substr(0, got.size())) << "not the line's first bytes";
}

// A write that begins after the limit has passed, on a pipe that its reader
// no longer empties, is cancelled too: the cancellation is made again until
// the line is given up, not only once.
TEST_F(StandardErrorSink, AWriteBegunAfterTheLimitHasPassedIsCancelledToo) {
  using Clock = std::chrono::steady_clock;
  using namespace std::chrono_literals;
  auto pipe = pipe_as_standard_error(4096);
  // Reads the first chunk, then nothing more while the pipe stays open.
  std::string first;
  std::thread read_first([&] {
    char buffer[4096];
    DWORD n = 0;
    while (first.size() < 0x10000 &&
           ::ReadFile(pipe.reader.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
      first.append(buffer, n);
    }
  });
  // The stall comes after the chunk's check against the limit, as if the
  // limit passed just as the write was about to begin.
  nuv::StandardErrorSink sink(300ms, [](std::size_t chunk) {
    if (chunk == 1) ::Sleep(700);
  });
  const auto start = Clock::now();
  auto written = std::async(std::launch::async, [&] {
    sink.write_line(std::string(1 << 20, 'q'));
    sink.write_line("later");
  });
  const bool returned = written.wait_for(5s) == std::future_status::ready;
  const auto took = Clock::now() - start;
  if (!returned) pipe.reader.reset();  // ends the blocked write, so that the test can end
  written.wait();
  read_first.join();
  ::SetStdHandle(STD_ERROR_HANDLE, saved_);
  EXPECT_TRUE(returned) << "a write begun after the limit blocked for good";
  EXPECT_GE(took, 650ms);
  EXPECT_LT(took, 3s);
  EXPECT_TRUE(first == std::string(0x10000, 'q'));
}

}  // namespace
}  // namespace nuv

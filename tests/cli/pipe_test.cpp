// Pipes: '-' reads standard input and writes standard output, a FIFO works as an input, and
// every input is opened once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

TEST(Pipe, StandardInputAndOutputCarryEveryFormat) {
  ScratchDirectory scratch;
  const std::vector<int32_t> input = TestNoise(2 * 24000, 9000, 4);
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 2, 16, input);
  WritePcm(scratch.Path("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 16, input);
  ASSERT_EQ(RunTessil({"render", scratch.Path("in.wav"), scratch.Path("reference.wav")}).status, 0);
  const std::string reference = FileBytes(scratch.Path("reference.wav"));

  // In from a pipe, WAV and FLAC alike: the same file as from the disk.
  for (const char* name : {"in.wav", "in.flac"}) {
    SCOPED_TRACE(name);
    const std::string out = scratch.Path(std::string("from-pipe-") + name + ".wav");
    const RunResult run = RunTessilPiped({"render", "-", out}, FileBytes(scratch.Path(name)));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FileBytes(out), reference);
  }

  // Out to a pipe, in formats whose header is normally rewritten on closing: the bytes decode
  // to the whole file, and the report moved to stderr.
  for (const char* type : {"wav", "flac", "ogg"}) {
    SCOPED_TRACE(type);
    const RunResult run = RunTessilPiped({"render", scratch.Path("in.wav"), "-", "--type", type}, "");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("integrated"), std::string::npos);
    const std::string copy = scratch.Path(std::string("piped.") + type);
    WriteText(copy, run.out);
    SF_INFO info;
    ReadFloats(copy, &info);
    EXPECT_EQ(info.frames, 24000);
    if (std::string(type) == "wav") {
      EXPECT_EQ(run.out, reference);
    }
  }

  const RunResult untyped = RunTessilPiped({"render", scratch.Path("in.wav"), "-"}, "");
  EXPECT_EQ(untyped.status, 1);
  EXPECT_NE(untyped.err.find("--type"), std::string::npos) << untyped.err;
  EXPECT_TRUE(untyped.out.empty());
}

TEST(Pipe, AFifoInputIsReadOnce) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 24000, 9000, 4));
  const std::string fifo = scratch.Path("in.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string bytes = FileBytes(scratch.Path("in.wav"));
  // The writer sends the file once and closes. A second open would wait for ever; after a while
  // the writer releases such a reader with an empty stream, so that the run fails instead.
  const pid_t writer = ::fork();
  if (writer == 0) {
    const int descriptor = ::open(fifo.c_str(), O_WRONLY);
    for (size_t done = 0; descriptor >= 0 && done < bytes.size();) {
      const ssize_t put = ::write(descriptor, bytes.data() + done, bytes.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::close(descriptor);
    ::sleep(10);
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    ::_exit(0);
  }
  const RunResult run = RunTessil({"render", fifo, scratch.Path("out.wav"), "--json"});
  ::kill(writer, SIGKILL);
  ::waitpid(writer, nullptr, 0);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(JsonNumber(run.out, "", "frames"), 24000.0);
}

}  // namespace
}  // namespace tessil::cli_test

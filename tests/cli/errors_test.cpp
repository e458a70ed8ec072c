// Bad input of every kind: one line naming what and why, exit status 1 (2 for a command line
// that makes no sense), and nothing left behind where the output would have gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class RenderErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    WritePcm(scratch_.Path("in.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 4800, 9000, 1));
    WriteText(scratch_.Path("out.wav"), "an earlier render");
  }

  // Runs a render that must fail with `status`, naming every one of `mentions` on one line, and
  // leaving the directory as it was (the earlier out.wav intact, no temporary files).
  void ExpectFailure(const std::vector<std::string>& arguments, int status,
                     const std::vector<std::string>& mentions) {
    const std::vector<std::string> before = scratch_.Entries();
    const RunResult run = RunTessil(arguments);
    EXPECT_EQ(run.status, status) << run.err;
    if (status == 1) {
      EXPECT_EQ(Lines(run.err), 1u) << run.err;
    }
    for (const std::string& mention : mentions) EXPECT_NE(run.err.find(mention), std::string::npos) << run.err;
    EXPECT_EQ(scratch_.Entries(), before);
    EXPECT_EQ(FileBytes(scratch_.Path("out.wav")), "an earlier render");
  }

  std::vector<std::string> Render(std::vector<std::string> options) const {
    // -y: even where replacing is allowed, a failed run leaves the earlier file as it was.
    std::vector<std::string> arguments = {"render", "-y", scratch_.Path("in.wav"), scratch_.Path("out.wav")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
  }

  ScratchDirectory scratch_;
};

TEST_F(RenderErrors, SettingsTheDriverRefusesOrThatNameNothing) {
  ExpectFailure(Render({"--set", "output-gain=13"}), 1, {"output-gain=13", "refused", "12 dB or less"});
  ExpectFailure(Render({"--set", "core-level=0"}), 1, {"core-level=0", "refused"});
  ExpectFailure(Render({"--set", "highpass-order=11"}), 1, {"highpass-order=11", "refused"});
  ExpectFailure(Render({"--set", "input-gain=1"}), 1, {"input-gain=1", "refused"});
  ExpectFailure(Render({"--set", "core-weighting=2"}), 1, {"core-weighting=2", "refused"});
  ExpectFailure(Render({"--set", "output-stage-amount=-1"}), 1, {"output-stage-amount=-1", "negative"});
  // A refusal after accepted settings still stops the run before any audio is written.
  ExpectFailure(Render({"--set", "input-gain=-3", "--set", "lowpass-frequency=19"}), 1, {"lowpass-frequency=19"});
  ExpectFailure(Render({"--set", "loudness=3"}), 1, {"loudness=3", "unknown property"});
  ExpectFailure(Render({"--set", "core-enable=2"}), 1, {"core-enable=2", "0 or 1"});
  ExpectFailure(Render({"--set", "core-level=fifty"}), 1, {"core-level=fifty", "whole number"});
  ExpectFailure(Render({"--set", "core-level=5000000000"}), 1, {"core-level=5000000000"});
  ExpectFailure(Render({"--set", "core-level"}), 1, {"NAME=VALUE"});
  ExpectFailure(Render({"--set", "eq-band-gain.0.4=3"}), 1, {"eq-band-gain.0.4=3", "band"});
  ExpectFailure(Render({"--set", "eq-band-gain.2.1=3"}), 1, {"eq-band-gain.CH.BAND"});
  ExpectFailure(Render({"--set", "eq-band-gain=3"}), 1, {"eq-band-gain.CH.BAND"});
  ExpectFailure(Render({"--set", "eq-enable=1"}), 1, {"eq-enable.CH"});
  ExpectFailure(Render({"--set", "input-gain.0=-3"}), 1, {"takes no channel"});
}

TEST_F(RenderErrors, ValuesThatWouldWrapAndSettingsThatFloodAreRefused) {
  // Decibels are signed 32-bit values, everything else unsigned: nothing may arrive as another value.
  ExpectFailure(Render({"--set", "input-gain=4294967295"}), 1, {"input-gain=4294967295", "decibel"});
  ExpectFailure(Render({"--set", "output-gain=-2147483649"}), 1, {"output-gain=-2147483649"});
  ExpectFailure(Render({"--set", "eq-band-q.0.2=-998"}), 1, {"eq-band-q.0.2=-998", "negative"});
  ExpectFailure(Render({"--set", "highpass-frequency=-20"}), 1, {"negative"});
  // A huge value is quoted in part: the error stays one short line.
  const std::string huge = "core-level=" + std::string(100000, '7');
  ExpectFailure(Render({"--set", huge}), 1, {"core-level=777", "bytes"});
  EXPECT_LT(RunTessil(Render({"--set", huge})).err.size(), 400u);

  ExpectFailure(Render({"--settings", "/dev/zero"}), 1, {"/dev/zero:1", "NUL"});
  WriteText(scratch_.Path("nul.txt"), std::string("core-level=50\ncore-level=5\0" "0\n", 28));
  ExpectFailure(Render({"--settings", scratch_.Path("nul.txt")}), 1, {"nul.txt:2", "NUL"});
  WriteText(scratch_.Path("long.txt"), "# fine\ncore-level=" + std::string(5000, '5') + "\n");
  ExpectFailure(Render({"--settings", scratch_.Path("long.txt")}), 1, {"long.txt:2", "4096"});
}

TEST_F(RenderErrors, PresetFileErrorsNameTheFileAndLine) {
  WriteText(scratch_.Path("preset.txt"), "# fine so far\ninput-gain=-2\n\ncore-levle=20\n");
  ExpectFailure(Render({"--settings", scratch_.Path("preset.txt")}), 1, {"preset.txt:4", "core-levle"});
  ExpectFailure(Render({"--settings", scratch_.Path("missing.txt")}), 1, {"missing.txt", "cannot read"});
}

TEST_F(RenderErrors, InputsThatCannotBeRead) {
  ExpectFailure({"render", "-y", scratch_.Path("absent.wav"), scratch_.Path("out.wav")}, 1,
                {"absent.wav", "No such file"});
  WriteText(scratch_.Path("text.wav"), "this is not audio, whatever its name says\n");
  ExpectFailure({"render", "-y", scratch_.Path("text.wav"), scratch_.Path("out.wav")}, 1, {"text.wav", "unsupported"});
  ExpectFailure({"render", "-y", scratch_.Root(), scratch_.Path("out.wav")}, 1, {"is a directory"});
}

TEST_F(RenderErrors, OutputsThatCannotBeWritten) {
  ExpectFailure({"render", scratch_.Path("in.wav"), scratch_.Path("no/such/dir/out.wav")}, 1,
                {"no/such/dir/out.wav", "cannot write"});
  ExpectFailure({"render", scratch_.Path("in.wav"), scratch_.Root()}, 1, {"is a directory"});
  ExpectFailure({"render", scratch_.Path("in.wav"), scratch_.Path("in.wav")}, 1, {"overwrite the input"});
}

TEST_F(RenderErrors, CommandLinesThatMakeNoSenseAreUsageErrors) {
  ExpectFailure({"render", scratch_.Path("in.wav")}, 2, {"IN OUT"});
  ExpectFailure(Render({"--buffer-frames", "0"}), 2, {"--buffer-frames"});
  ExpectFailure(Render({"--buffer-frames", "many"}), 2, {"--buffer-frames"});
  ExpectFailure(Render({"--bits", "12"}), 2, {"--bits"});
  ExpectFailure(Render({"--format", "mp4"}), 2, {"--format"});
  ExpectFailure(Render({"--jobs", "0"}), 2, {"--jobs"});
  ExpectFailure(Render({"--frobnicate"}), 2, {"--frobnicate"});
  ExpectFailure({"transmogrify"}, 2, {});
  ExpectFailure({}, 2, {});
}

// A mistyped option stops the run before anything is written and names the option meant, for
// whichever command it was given to; a word far from every option is only named.
TEST_F(RenderErrors, AMistypedOptionNamesTheClosestOne) {
  const std::string in = scratch_.Path("in.wav");
  const struct {
    std::vector<std::string> arguments;
    std::string said;
  } cases[] = {
      {Render({"--targte", "-14"}), "tessil render: unknown option '--targte'; did you mean '--target'?"},
      {Render({"--ceilng=-1"}), "unknown option '--ceilng'; did you mean '--ceiling'?"},
      {Render({"-target", "-14"}), "unknown option '-target'; did you mean '--target'?"},
      {Render({"--no-reprot"}), "did you mean '--no-report'?"},
      {Render({"--frobnicate"}), "unknown option '--frobnicate'\n"},
      {Render({"--out", "elsewhere"}), "unknown option '--out'\n"},
      {Render({"-x"}), "unknown option '-x'\n"},
      {{"analyse", "--jsn", in}, "tessil analyse: unknown option '--jsn'; did you mean '--json'?"},
      {{"properties", "--sett", "core-level=60"}, "did you mean '--set'?"},
      {{"--verison"}, "tessil: unknown option '--verison'; did you mean '--version'?"},
  };
  for (const auto& c : cases) ExpectFailure(c.arguments, 2, {c.said, "--help' for the options"});
  // A negative value is a value, not an option: this run gets as far as opening its input.
  ExpectFailure({"render", "-y", "--target", "-14", scratch_.Path("missing.wav"), scratch_.Path("out.wav")}, 1,
                {"missing.wav"});
}

TEST(RenderBatch, AFailingFileDoesNotStopTheOthers) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("good.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 4800, 9000, 4));
  const RunResult run = RunTessil({"render", "-o", scratch.Path("rendered"), "--json", scratch.Path("missing.wav"),
                                   scratch.Path("good.wav")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find("missing.wav"), std::string::npos);
  EXPECT_NE(run.out.find("\"error\""), std::string::npos);
  SF_INFO info;
  ReadPcm(scratch.Path("rendered/good.wav"), 16, &info);
  EXPECT_EQ(info.frames, 4800);
  std::vector<std::string> rendered;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.Path("rendered"))) {
    rendered.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(rendered, std::vector<std::string>{"good.wav"});
}

TEST(RenderBatch, TwoInputsWithOneNameAreRefusedBeforeAnything) {
  ScratchDirectory scratch;
  std::filesystem::create_directories(scratch.Path("a"));
  std::filesystem::create_directories(scratch.Path("b"));
  WritePcm(scratch.Path("a/x.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 480, 9000, 4));
  WritePcm(scratch.Path("b/x.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 480, 9000, 5));
  const RunResult run = RunTessil({"render", "-o", scratch.Path("out"), scratch.Path("a/x.wav"), scratch.Path("b/x.wav")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("same output"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(scratch.Path("out/x.wav")));
}

TEST(RenderHelp, DocumentsEveryOption) {
  const RunResult run = RunTessil({"render", "--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--output-dir", "--buffer-frames", "--bits", "--format", "--no-align", "--json",
                             "--jobs", "--set", "--settings", "--help", "IN OUT", "f32", "wav16", "wav24",
                             "NAME.CH.BAND", "both", "latency", "Exit status", "--overwrite", "--type", "--quality",
                             "--target", "--ceiling", "130", "cover art", "ReplayGain", "RF64"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  const RunResult top = RunTessil({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_NE(top.out.find("130"), std::string::npos);
  EXPECT_NE(top.out.find("analyse"), std::string::npos);
}

// What a first run asks: the version, and examples that use only options their commands take.
TEST(RenderHelp, VersionAndExamplesAnswerAFirstRun) {
  const RunResult version = RunTessil({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("tessil [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;

  const RunResult top = RunTessil({"--help"});
  ASSERT_EQ(top.status, 0);
  const size_t examples = top.out.find("Examples:\n");
  ASSERT_NE(examples, std::string::npos) << top.out;
  std::istringstream lines(top.out.substr(examples));
  int checked = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string program;
    std::string command;
    if (!(words >> program >> command) || program != "tessil") continue;
    const RunResult help = RunTessil({command, "--help"});
    ASSERT_EQ(help.status, 0) << line;
    // The spellings in the help's option list: "  -o,--output-dir DIR   ..." gives -o and --output-dir.
    std::set<std::string> spellings;
    const size_t options = help.out.find("\nOptions:\n");
    ASSERT_NE(options, std::string::npos) << help.out;
    std::istringstream helpLines(help.out.substr(options + 1));
    for (std::string option; std::getline(helpLines, option) && !option.empty();) {
      if (option.rfind("  -", 0) != 0) continue;
      std::istringstream names(option.substr(2, option.find(' ', 2) - 2));
      for (std::string name; std::getline(names, name, ',');) spellings.insert(name);
    }
    for (std::string word; words >> word;) {
      if (word.size() < 2 || word[0] != '-' || std::isdigit(static_cast<unsigned char>(word[1]))) continue;
      EXPECT_EQ(spellings.count(word.substr(0, word.find('='))), 1u) << line;
    }
    ++checked;
  }
  EXPECT_GE(checked, 3) << top.out;
}

TEST(Terminal, AMistypedCommandNamesTheClosestOne) {
  const RunResult run = RunTessil({"rendr", "in.wav", "out.wav"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("did you mean 'render'"), std::string::npos) << run.err;
  EXPECT_NE(RunTessil({"analyze", "--help"}).status, 2);
  EXPECT_EQ(RunTessil({"anlayse"}).err.find("did you mean 'analyse'") == std::string::npos, false);
}

// On a terminal the progress bar and the reports share the screen: every report line must
// start on a line of its own, however the parallel files finish.
TEST(Terminal, TheProgressBarNeverSharesALineWithAReport) {
  ScratchDirectory scratch;
  // One-frame buffers keep the render going long enough for the bar to appear; a machine fast
  // enough to finish first gets longer files.
  RunResult run;
  for (const int seconds : {3, 15, 60}) {
    WritePcm(scratch.Path("a.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 48000 * seconds, 9000, 1));
    WritePcm(scratch.Path("b.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 48000 * seconds, 9000, 2));
    run = RunTessilOnTerminal({"render", "-y", "-o", scratch.Path("out"), "--jobs", "2", "--buffer-frames", "1",
                               scratch.Path("a.wav"), scratch.Path("b.wav")});
    if (run.out.find("rendering [") != std::string::npos) break;
  }
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("rendering ["), std::string::npos) << "the bar was drawn";
  size_t reportLines = 0;
  size_t start = 0;
  for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = run.out.substr(start, end - start);
    // What stays visible: the text after the last carriage return.
    const size_t back = line.rfind('\r', line.size() >= 2 ? line.size() - 2 : 0);
    const std::string visible = back == std::string::npos ? line : line.substr(back + 1);
    if (line.find(" -> ") == std::string::npos) continue;
    ++reportLines;
    EXPECT_EQ(visible.find("rendering"), std::string::npos) << "a report line carries the bar: " << visible;
  }
  EXPECT_EQ(reportLines, 2u);
}

}  // namespace
}  // namespace tessil::cli_test

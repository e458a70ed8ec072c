#include "cli/arguments.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/errors.h"
#include "cli/plot.h"

namespace tessil::cli {

namespace {

constexpr const char* kSettingsFooter =
    "Settings are the driver's properties in their own integer units: gains in whole dB (-999 is\n"
    "silence), levels, amounts and Q in hundredths, frequencies in Hz, switches 0 or 1. Per-channel\n"
    "and per-band properties take the channel (0 left, 1 right, both) and the band (0 to 3):\n"
    "  --set input-gain=-3 --set core-level=50 --set highpass-frequency=80 --set core-enable=0\n"
    "  --set eq-enable.both=1 --set eq-band-gain.0.2=6 --set eq-band-frequency.both.2=2500\n"
    "'tessil properties' lists every property with its unit, accepted values and default.\n"
    "Preset files (--settings) hold the same NAME=VALUE lines; '#' starts a comment. Presets are\n"
    "applied first, in order, then every --set, in order; a refused value stops the run before\n"
    "any audio is written.";

constexpr const char* kRenderFooter =
    "\n\nOUT's extension chooses its format: wav (RF64 past 4 GiB), flac, ogg, opus, mp3, aiff,\n"
    "caf, w64 or rf64; --type chooses it for '-' or another name. Without --format the input's\n"
    "encoding is kept where the format holds it; otherwise integer sources get PCM of their depth\n"
    "(24 bits at most in FLAC), float and lossy sources 32-bit float (24-bit PCM in FLAC). Text\n"
    "tags are copied, except ReplayGain values (the render changed the loudness); cover art and\n"
    "other pictures are not carried.\n"
    "An existing OUT is only replaced with -y; the replacement keeps its permissions, and a file\n"
    "the user could not write is never replaced. '-' as IN reads standard input, as OUT writes\n"
    "standard output (any format, chosen with --type; the finished file is copied there once\n"
    "it has been checked, and the report goes to stderr).\n"
    "The output is aligned with the input by default: the same length, the effect's latency\n"
    "(22 frames of look-ahead while enable and core-enable are on, plus 239 frames when the\n"
    "buffer size is not a multiple of 240) trimmed from the start and the tail flushed with\n"
    "silence. --no-align writes the stream as the processor delivers it: delayed by that\n"
    "latency and cut at the input's length. Files with more than two channels have only the\n"
    "first two processed; the others pass through untouched.\n"
    "Exit status: 0 done, 1 a file, setting or driver failure (one line on stderr, no partial\n"
    "output is left behind), 2 a usage error, 130 interrupted (Ctrl-C; 128 + N for signal N).";

constexpr const char* kExitFooter =
    "\n\nExit status: 0 done, 1 a failure, 2 a usage error, 130 interrupted (Ctrl-C).";

constexpr const char* kExamples =
    "Examples:\n"
    "  tessil render in.wav out.wav                      the driver's default settings\n"
    "  tessil render in.flac out.flac --target -14       searched until the output is -14 LUFS\n"
    "  tessil render in.wav out.wav --set core-level=70  any property by name\n"
    "  tessil render -o levelled/ *.wav --jobs 2         a directory of files, two at a time\n"
    "  tessil analyse song.flac --json                   loudness and peaks; nothing written\n"
    "  tessil properties                                 every property, its range and default\n"
    "  tessil demo -o demo/                              a synthesised clip, before and after\n"
    "'tessil COMMAND --help' describes each command's options.";

void AddPlotOption(CLI::App* command, CommandLine* commandLine) {
  command->add_option("--plot", commandLine->render.plot,
                      "Draw loudness over time into FILE.svg or FILE.png; with several inputs one picture "
                      "each, the input's name added (FILE-NAME.svg)")
      ->type_name("FILE")
      ->check([](const std::string& path) {
        return IsPlotPath(path) ? std::string() : std::string("the picture's name must end in .svg or .png");
      });
}

void AddSettingOptions(CLI::App* command, CommandLine* commandLine) {
  command->add_option("--set", commandLine->settings,
                      "Set a property through the driver's property set: NAME=VALUE, NAME.CH=VALUE or "
                      "NAME.CH.BAND=VALUE; repeatable")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  command->add_option("--settings", commandLine->settingsFiles,
                      "Read NAME=VALUE lines from a preset file ('#' comments); repeatable")
      ->type_name("FILE")
      ->allow_extra_args(false);
}

// Characters to insert, delete or replace to turn one word into the other.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// CLI11's ranges let NaN through, since every comparison with it is false; infinities have no
// place in these options either.
const CLI::Validator kFiniteNumber(
    [](std::string& text) -> std::string {
      char* end = nullptr;
      const double value = std::strtod(text.c_str(), &end);
      return std::isfinite(value) ? std::string() : "a finite number is needed, not " + Quoted(text);
    },
    "", "finite");

// The known word nearest to `word`, or empty when even that one is more than `maxDistance` away.
std::string Nearest(const std::string& word, const std::vector<std::string>& known, size_t maxDistance) {
  std::string best;
  size_t bestDistance = 0;
  for (const std::string& candidate : known) {
    const size_t distance = EditDistance(word, candidate);
    if (best.empty() || distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return bestDistance <= maxDistance ? best : std::string();
}

// The long option names `command` and the commands above it accept, without their dashes.
std::vector<std::string> LongOptionNames(const CLI::App* command) {
  std::vector<std::string> names;
  for (; command != nullptr; command = command->get_parent()) {
    for (const CLI::Option* option : command->get_options()) {
      for (const std::string& name : option->get_lnames()) names.push_back(name);
    }
  }
  return names;
}

bool IsNumber(const std::string& word) {
  char* end = nullptr;
  std::strtod(word.c_str(), &end);
  return !word.empty() && *end == '\0';
}

// CLI11 calls a mistyped option an argument it did not expect, or, before a command is named,
// reports the missing command instead. Whatever it found wrong, a word that looks like an option
// and is none is the likelier cause: name it and the nearest option the command takes.
// Returns false when there is no such word.
bool ReportUnknownOptions(const CLI::App& app) {
  const std::vector<CLI::App*> commands = app.get_subcommands();
  const CLI::App* command = commands.empty() ? &app : commands.back();
  const std::vector<std::string> names = LongOptionNames(command);
  const std::string who = command == &app ? "tessil" : "tessil " + command->get_name();
  bool reported = false;
  for (const std::string& word : app.remaining(true)) {
    // "-" is standard input and "-14" a value: neither is an option.
    if (word.size() < 2 || word[0] != '-' || IsNumber(word)) continue;
    const std::string spelled = word.substr(0, word.find('='));
    const size_t start = spelled.find_first_not_of('-');
    const std::string name = start == std::string::npos ? std::string() : spelled.substr(start);
    // Compared without dashes, so "-target" finds "--target"; a third of the name may be wrong,
    // which keeps short words ("--out") from guesses that share little with them. A lone letter
    // is too short to guess from.
    const std::string closest = name.size() > 1 ? Nearest(name, names, std::max<size_t>(1, name.size() / 3))
                                                 : std::string();
    std::fprintf(stderr, "%s: unknown option '%s'%s\n", who.c_str(), Quoted(spelled).c_str(),
                 closest.empty() ? "" : ("; did you mean '--" + closest + "'?").c_str());
    reported = true;
  }
  if (reported) std::fprintf(stderr, "Run '%s --help' for the options.\n", who.c_str());
  return reported;
}

}  // namespace

std::string ClosestWord(const std::string& word, const std::vector<std::string>& known) {
  // Beyond half the word, the guess would be noise.
  return Nearest(word, known, std::max<size_t>(2, word.size() / 2));
}

std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine* commandLine) {
  const std::vector<std::string> commands = {"render", "analyse", "properties", "demo"};
  if (argc > 1 && argv[1][0] != '-' &&
      std::find(commands.begin(), commands.end(), argv[1]) == commands.end() &&
      std::string(argv[1]) != "analyze") {
    const std::string closest = ClosestWord(argv[1], commands);
    std::fprintf(stderr, "tessil: unknown command '%s'%s\nRun 'tessil --help' for the commands.\n",
                 std::string(argv[1]).substr(0, 80).c_str(),
                 closest.empty() ? "" : ("; did you mean '" + closest + "'?").c_str());
    return kExitUsage;
  }

  CLI::App app("Renders audio files through the Tessil effect, exactly as a host driver would.",
               "tessil");
  app.set_version_flag("--version", "tessil " TESSIL_VERSION);
  app.require_subcommand(1);
  app.footer(std::string(kExamples) + kExitFooter);

  CLI::App* render = app.add_subcommand(
      "render",
      "Render IN to OUT, or each IN into a directory with -o, and report loudness and peaks");
  render->add_option("files", commandLine->files,
                     "IN OUT; with -o DIR, one or more inputs (any format libsndfile reads; '-' is "
                     "standard input or output)")
      ->type_name("FILE")
      ->required();
  render->add_option("-o,--output-dir", commandLine->outputDirectory,
                     "Render every input into this directory, under its own file name (created "
                     "when missing)")
      ->type_name("DIR");
  render->add_flag("-y,--overwrite", commandLine->render.overwrite,
                   "Replace outputs that already exist (keeping their permissions)");
  render->add_option("--buffer-frames", commandLine->render.bufferFrames,
                     "Frames per host buffer handed to the processor")
      ->check(CLI::Range(1, 1 << 20))
      ->capture_default_str();
  render->add_option("--bits", commandLine->render.bits,
                     "Bits per sample of the stream (default: 8, 16, 24 or 32 from the file; 32 "
                     "for float and lossy files)")
      ->check(CLI::IsMember({8, 16, 24, 32}));
  std::string encodingName = "same";
  render->add_option("--format", encodingName,
                     "Output encoding: same (the input's where OUT's format holds it), pcm8, pcm16, "
                     "pcm24, pcm32, f32 (32-bit float holding the stream's output divided by "
                     "2^(bits-1), exact) or f64; wav16 and wav24 are older names of pcm16 and pcm24")
      ->type_name("ENCODING")
      ->check(CLI::IsMember({"same", "pcm8", "pcm16", "pcm24", "pcm32", "f32", "float", "f64",
                             "double", "wav16", "wav24"}))
      ->capture_default_str();
  render->add_option("--type", commandLine->render.type,
                     "Output format when OUT's extension does not say it (needed for '-'): wav, "
                     "flac, ogg, opus, mp3, aiff, caf, w64 or rf64")
      ->type_name("EXT");
  render->add_option("--quality", commandLine->render.quality,
                     "0 to 10: quality of ogg, opus and mp3 output (10 best), or FLAC compression "
                     "(10 smallest)")
      ->check(kFiniteNumber)
      ->check(CLI::Range(0.0, 10.0));
  render->add_option("--target", commandLine->render.targetLufs,
                     "Integrated loudness to reach, in LUFS: the core level is searched so that the "
                     "output lands within 0.2 LU of it")
      ->type_name("LUFS")
      ->check(kFiniteNumber)
      ->check(CLI::Range(-70.0, 0.0));
  render->add_option("--ceiling", commandLine->render.ceilingDbtp,
                     "Highest true peak of the output, in dBTP: the host lowers the driver's output "
                     "by the least gain that keeps it there")
      ->type_name("DBTP")
      ->check(kFiniteNumber)
      ->check(CLI::Range(-60.0, 0.0));
  bool noAlign = false;
  render->add_flag("--no-align", noAlign,
                   "Write the raw stream: delayed by the latency, cut at the input's length");
  bool noReport = false;
  render->add_flag("--no-report", noReport,
                   "Skip the loudness and peak measurement of input and output");
  render->add_flag("--json", commandLine->render.json,
                   "Print the report as JSON: an object for IN OUT, an array with -o");
  render->add_flag("--progress", commandLine->render.progress,
                   "Print progress lines (done, time left) on stderr when it is a pipe or a log; "
                   "a terminal shows a progress bar anyway");
  AddPlotOption(render, commandLine);
  render->add_option("-j,--jobs", commandLine->render.jobs,
                     "Files rendered at once with -o, each by its own processor (default: the "
                     "number of cores)")
      ->check(CLI::Range(1, 1024));
  AddSettingOptions(render, commandLine);
  render->footer(std::string(kSettingsFooter) + kRenderFooter);

  CLI::App* analyse = app.add_subcommand(
      "analyse", "Report loudness and peaks of each FILE as it is; nothing is written");
  analyse->alias("analyze");
  analyse->add_option("files", commandLine->files, "Audio files ('-' is standard input)")
      ->type_name("FILE")
      ->required();
  analyse->add_flag("--json", commandLine->render.json,
                    "Print the report as JSON: an array with one object per file");
  analyse->add_flag("--progress", commandLine->render.progress,
                    "Print progress lines on stderr when it is a pipe or a log");
  AddPlotOption(analyse, commandLine);
  analyse->add_flag("-y,--overwrite", commandLine->render.overwrite, "Replace pictures that already exist");
  analyse->footer(kExitFooter + 2);

  CLI::App* properties = app.add_subcommand(
      "properties", "List the twenty properties with unit, accepted values and current value");
  AddSettingOptions(properties, commandLine);
  properties->footer(kSettingsFooter);

  CLI::App* demo = app.add_subcommand(
      "demo",
      "Write a synthesised 20 s programme (demo-input.wav, 44.1 kHz) and render it to "
      "demo-output.wav in buffers of 441 frames, with the before/after report");
  demo->add_option("-o,--output-dir", commandLine->outputDirectory,
                   "Directory for demo-input.wav and demo-output.wav (default: the current one)")
      ->type_name("DIR");
  demo->add_flag("--json", commandLine->render.json, "Print the report as JSON");
  AddPlotOption(demo, commandLine);
  demo->footer(std::string(kSettingsFooter) + kExitFooter);
  AddSettingOptions(demo, commandLine);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() != 0 && ReportUnknownOptions(app)) return kExitUsage;
    const int status = app.exit(error);
    return status == 0 ? 0 : kExitUsage;
  }

  if (render->parsed()) {
    commandLine->command = CommandLine::Command::Render;
    commandLine->render.align = !noAlign;
    commandLine->render.report = !noReport;
    commandLine->render.encoding = ParseEncoding(encodingName);
    if (noReport && !commandLine->render.plot.empty()) {
      std::fprintf(stderr, "tessil render: --plot draws what the report measures; it cannot go with --no-report\n");
      return kExitUsage;
    }
    const bool toDirectory = !commandLine->outputDirectory.empty();
    if (!toDirectory && commandLine->files.size() != 2) {
      std::fprintf(stderr,
                   "tessil render: expected IN OUT, or -o DIR IN...\n"
                   "Run with --help for more information.\n");
      return kExitUsage;
    }
    if (!commandLine->render.type.empty() && !ContainerByExtension(commandLine->render.type)) {
      std::fprintf(stderr, "tessil render: --type %s: unknown (known: %s)\n",
                   commandLine->render.type.substr(0, 80).c_str(), KnownExtensions().c_str());
      return kExitUsage;
    }
    int standardInputs = 0;
    for (size_t i = 0; i < commandLine->files.size(); ++i) {
      const bool isOutput = !toDirectory && i == 1;
      if (commandLine->files[i] == "-" && !isOutput) ++standardInputs;
    }
    if (standardInputs > 1 || (toDirectory && standardInputs > 0)) {
      std::fprintf(stderr, "tessil render: '-' (standard input) can only be the one IN of IN OUT\n");
      return kExitUsage;
    }
  } else if (analyse->parsed()) {
    commandLine->command = CommandLine::Command::Analyse;
    if (std::count(commandLine->files.begin(), commandLine->files.end(), "-") > 1) {
      std::fprintf(stderr, "tessil analyse: standard input ('-') can be read only once\n");
      return kExitUsage;
    }
  } else if (properties->parsed()) {
    commandLine->command = CommandLine::Command::Properties;
  } else {
    commandLine->command = CommandLine::Command::Demo;
    commandLine->render.bufferFrames = 441;
    // The demo's own two files are rewritten on every run.
    commandLine->render.overwrite = true;
  }
  return std::nullopt;
}

}  // namespace tessil::cli

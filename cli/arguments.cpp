#include "cli/arguments.h"

#include <CLI/CLI.hpp>

#include <map>

#include "cli/errors.h"

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
    "\n\nThe output is aligned with the input by default: the same length, the effect's latency\n"
    "(22 frames of look-ahead while enable and core-enable are on, plus 239 frames when the\n"
    "buffer size is not a multiple of 240) trimmed from the start and the tail flushed with\n"
    "silence. --no-align writes the stream as the processor delivers it: delayed by that\n"
    "latency and cut at the input's length.\n"
    "Exit status: 0 done, 1 a file, setting or driver failure (one line on stderr, no partial\n"
    "output is left behind), 2 a usage error.";

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

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine* commandLine) {
  CLI::App app("Renders audio files through the Tessil effect, exactly as a host driver would.",
               "tessil");
  app.set_version_flag("--version", "tessil 0.1.0");
  app.require_subcommand(1);

  CLI::App* render = app.add_subcommand(
      "render",
      "Render IN to OUT, or each IN into a directory with -o, and report loudness and peaks");
  render->add_option("files", commandLine->files,
                     "IN OUT; with -o DIR, one or more inputs (any format libsndfile reads)")
      ->type_name("FILE")
      ->required();
  render->add_option("-o,--output-dir", commandLine->outputDirectory,
                     "Render every input into this directory, under its own file name (created "
                     "when missing)")
      ->type_name("DIR");
  render->add_option("--buffer-frames", commandLine->render.bufferFrames,
                     "Frames per host buffer handed to the processor")
      ->check(CLI::Range(1, 1 << 20))
      ->capture_default_str();
  render->add_option("--bits", commandLine->render.bits,
                     "Bits per sample of the stream (default: 8, 16, 24 or 32 from the file; 32 "
                     "for float and lossy files)")
      ->check(CLI::IsMember({8, 16, 24, 32}));
  std::string formatName = "same";
  render->add_option("--format", formatName,
                     "Output format: same (the input's), f32 (32-bit float WAV holding the "
                     "stream's output divided by 2^(bits-1), exact), wav16 or wav24 (PCM WAV)")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"same", "f32", "wav16", "wav24"}))
      ->capture_default_str();
  bool noAlign = false;
  render->add_flag("--no-align", noAlign,
                   "Write the raw stream: delayed by the latency, cut at the input's length");
  render->add_flag("--json", commandLine->render.json,
                   "Print the report as JSON: an object for IN OUT, an array with -o");
  render->add_option("-j,--jobs", commandLine->render.jobs,
                     "Files rendered at once with -o, each by its own processor (default: the "
                     "number of cores)")
      ->check(CLI::Range(1, 1024));
  AddSettingOptions(render, commandLine);
  render->footer(std::string(kSettingsFooter) + kRenderFooter);

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
  demo->footer(kSettingsFooter);
  AddSettingOptions(demo, commandLine);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : kExitUsage;
  }

  if (render->parsed()) {
    commandLine->command = CommandLine::Command::Render;
    commandLine->render.align = !noAlign;
    const std::map<std::string, OutputFormat> formats = {{"same", OutputFormat::Same},
                                                         {"f32", OutputFormat::Float32},
                                                         {"wav16", OutputFormat::Wav16},
                                                         {"wav24", OutputFormat::Wav24}};
    commandLine->render.format = formats.at(formatName);
    const bool toDirectory = !commandLine->outputDirectory.empty();
    if (!toDirectory && commandLine->files.size() != 2) {
      std::fprintf(stderr,
                   "tessil render: expected IN OUT, or -o DIR IN...\n"
                   "Run with --help for more information.\n");
      return kExitUsage;
    }
  } else if (properties->parsed()) {
    commandLine->command = CommandLine::Command::Properties;
  } else {
    commandLine->command = CommandLine::Command::Demo;
    commandLine->render.bufferFrames = 441;
  }
  return std::nullopt;
}

}  // namespace tessil::cli

#include "cli/demo.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "cli/audio_file.h"
#include "cli/batch.h"
#include "cli/demo_programme.h"
#include "cli/errors.h"

namespace tessil::cli {

namespace {

constexpr int kDemoBits = 16;

void WriteDemoInput(const std::string& path) {
  std::vector<float> programme = SynthesiseDemoProgramme(kDemoSampleRate, kDemoSeconds);
  const float scale = std::ldexp(1.0f, kDemoBits - 1);
  for (float& sample : programme) sample *= scale;
  WriteOptions options;
  options.overwrite = true;
  AudioWriter writer(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, kDemoSampleRate, 2, options);
  writer.WriteHost(programme.data(), programme.size() / 2, kDemoBits);
  writer.Commit();
}

}  // namespace

int RunDemo(const CommandLine& commandLine) {
  const std::filesystem::path directory =
      commandLine.outputDirectory.empty() ? "." : commandLine.outputDirectory;
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    throw CliError(directory.string() + ": cannot use as output directory: " + error.message());
  }
  CommandLine render = commandLine;
  render.command = CommandLine::Command::Render;
  render.outputDirectory.clear();
  render.files = {(directory / "demo-input.wav").string(), (directory / "demo-output.wav").string()};

  WriteDemoInput(render.files[0]);
  // With --json the standard output carries the report alone.
  std::fprintf(render.render.json ? stderr : stdout,
               "Wrote %s: %.0f s of synthesised programme, %d Hz, 16-bit stereo.\n"
               "Rendering it in buffers of %d frames:\n\n",
               render.files[0].c_str(), kDemoSeconds, kDemoSampleRate, render.render.bufferFrames);
  std::fflush(stdout);
  return RunRender(render);
}

}  // namespace tessil::cli

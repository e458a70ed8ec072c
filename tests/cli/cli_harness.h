// Running the built tessil binary and making and reading its audio files, for the end-to-end
// tests of the command-line host.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessil::cli_test {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  long peakKiB = 0;  // the child's peak resident memory
};

// Runs the tessil binary with these arguments, capturing both output streams.
RunResult RunTessil(const std::vector<std::string>& arguments);
// The same with standard input and output as pipes, `input` fed to standard input.
RunResult RunTessilPiped(const std::vector<std::string>& arguments, const std::string& input);
// The same with standard output and error on one pseudo-terminal, as in an interactive shell;
// `out` holds everything the terminal received.
RunResult RunTessilOnTerminal(const std::vector<std::string>& arguments);
// Starts tessil, waits until `ready` holds (polled every millisecond, ten seconds at most),
// sends `signal` and waits for the end.
RunResult RunTessilAndSignal(const std::vector<std::string>& arguments, int signal,
                             const std::function<bool()>& ready);

// A private directory, removed with its contents at the end of the test.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Root() const { return path_; }
  // File names in the directory, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

// Samples are integers at the file's own depth (16-bit: -32768 .. 32767), interleaved.
void WritePcm(const std::string& path, int format, int rate, int channels, int depth,
              const std::vector<int32_t>& samples);
std::vector<int32_t> ReadPcm(const std::string& path, int depth, SF_INFO* info);
// Floats as stored (float files) or normalised (PCM files), interleaved; a float WAV unless
// `format` says otherwise, with libsndfile's channel map when one is given. Throws when the file
// cannot be written whole.
void WriteFloats(const std::string& path, int rate, int channels, const std::vector<float>& samples,
                 int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT, const std::vector<int>& channelMap = {});
std::vector<float> ReadFloats(const std::string& path, SF_INFO* info);

// Noise spread over most of the 16-bit range, the same on every run.
std::vector<int32_t> TestNoise(size_t samples, int32_t amplitude, uint32_t seed);

std::string FileBytes(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// Integrated loudness by ITU-R BS.1770-4 at 48 kHz, computed here from first principles:
// nominal samples (full scale 1.0), interleaved; `weights` per channel (empty: all 1).
double IntegratedLoudness48k(const std::vector<double>& interleaved, int channels,
                             const std::vector<double>& weights = {});

// The number stored under `key` inside the JSON object named `object` (empty: anywhere in the
// text), from the first match; NaN when absent or null.
double JsonNumber(const std::string& json, const std::string& object, const std::string& key);

}  // namespace tessil::cli_test

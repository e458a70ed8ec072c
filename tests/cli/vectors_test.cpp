// The whole host path against the reference vectors: a 16-bit file through tessil render must
// give exactly what the processor gives for the same host buffers, raw and aligned.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

std::vector<float> ReadVector(const std::string& name) {
  std::ifstream file(std::string(TESSIL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

struct StreamVector {
  const char* name;
  int rate;
  const char* buffer;
  int latency;  // of the stream with these settings and buffers
  std::vector<std::string> settings;
};

TEST(Vectors, RenderedFilesHoldExactlyTheProcessorsOutput) {
  const StreamVector vectors[] = {
      {"stream48-defaults-480", 48000, "480", 22, {}},
      {"stream44-defaults-441", 44100, "441", 22 + 239, {}},
      {"stream48-bypass-480", 48000, "480", 0, {"--set", "enable=0", "--set", "bypass-gain=-12"}},
      {"stream48-coreoff-480", 48000, "480", 0, {"--set", "core-enable=0"}},
      {"stream32-custom-960", 32000, "960", 22,
       {"--set", "input-gain=-2", "--set", "output-gain=-6", "--set", "highpass-frequency=150", "--set",
        "highpass-order=3", "--set", "lowpass-frequency=9000", "--set", "lowpass-order=5", "--set",
        "eq-band-gain.0.0=6", "--set", "eq-band-frequency.0.0=200", "--set", "eq-band-q.0.0=70", "--set",
        "eq-band-gain.1.2=-6", "--set", "eq-band-frequency.1.2=3000", "--set", "eq-band-q.1.2=400", "--set",
        "eq-band-enable.0.3=0", "--set", "output-stage-amount=50", "--set", "core-level=35", "--set",
        "core-weighting=0"}},
  };
  ScratchDirectory scratch;
  for (const StreamVector& vector : vectors) {
    SCOPED_TRACE(vector.name);
    const std::vector<float> host = ReadVector(std::string(vector.name) + ".in.f32");
    const std::vector<float> expected = ReadVector(std::string(vector.name) + ".out.f32");
    ASSERT_FALSE(host.empty());
    ASSERT_EQ(host.size(), expected.size());
    std::vector<int32_t> samples(host.begin(), host.end());
    const std::string in = scratch.Path("in.wav");
    WritePcm(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, vector.rate, 2, 16, samples);

    for (const bool align : {false, true}) {
      const std::string out = scratch.Path(align ? "aligned.wav" : "raw.wav");
      std::vector<std::string> arguments = {"render", "-y", in, out, "--format", "f32", "--buffer-frames", vector.buffer};
      if (!align) arguments.push_back("--no-align");
      arguments.insert(arguments.end(), vector.settings.begin(), vector.settings.end());
      const RunResult run = RunTessil(arguments);
      ASSERT_EQ(run.status, 0) << run.err;
      SF_INFO info;
      const std::vector<float> output = ReadFloats(out, &info);
      ASSERT_EQ(output.size(), host.size());
      // Aligned frame i is the stream's frame i + latency; the vectors end before the flushed tail.
      const size_t offset = align ? 2 * static_cast<size_t>(vector.latency) : 0;
      size_t mismatches = 0;
      size_t first = 0;
      for (size_t i = 0; i + offset < expected.size(); ++i) {
        if (output[i] * 32768.0f != expected[i + offset] && mismatches++ == 0) first = i;
      }
      EXPECT_EQ(mismatches, 0u) << (align ? "aligned" : "raw") << ", first at sample " << first << ": "
                                << output[first] * 32768.0f << " instead of " << expected[first + offset];
    }
  }
}

}  // namespace
}  // namespace tessil::cli_test

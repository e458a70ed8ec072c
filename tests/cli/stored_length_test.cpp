#include "cli/stored_length.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_harness.h"

namespace tessil::cli {
namespace {

using cli_test::ScratchDirectory;

constexpr int kFrames = 1000;

void WriteRamp(const std::string& path, int format) {
  std::vector<float> samples(2 * kFrames);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i % 200) / 400.0f - 0.25f;
  cli_test::WriteFloats(path, 48000, 2, samples, format);
}

// What the render's check after writing relies on: the stored length matches a full decode, and
// a file cut short (a full disk) shows fewer frames, never the length its header claims.
int64_t Stored(const std::string& path, int64_t* decoded) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  if (file == nullptr) return -2;
  const int64_t stored = StoredFrames(file, info);
  if (stored >= 0) sf_seek(file, 0, SEEK_SET);  // -1 leaves it there already
  std::vector<float> frames(2 * 256);
  *decoded = 0;
  for (sf_count_t got; (got = sf_readf_float(file, frames.data(), 256)) > 0;) *decoded += got;
  sf_close(file);
  return stored;
}

TEST(StoredLength, PlainSamplesWholeAndCutShort) {
  ScratchDirectory scratch;
  for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                           SF_FORMAT_AIFF | SF_FORMAT_PCM_24}) {
    SCOPED_TRACE(format);
    const std::string path = scratch.Path("ramp");
    WriteRamp(path, format);
    int64_t decoded = 0;
    EXPECT_EQ(Stored(path, &decoded), kFrames);
    EXPECT_EQ(decoded, kFrames);

    // Cut the last 300 frames and a byte off: the header still says 1000.
    std::FILE* raw = std::fopen(path.c_str(), "rb");
    ASSERT_NE(raw, nullptr);
    std::fseek(raw, 0, SEEK_END);
    const long size = std::ftell(raw);
    std::fclose(raw);
    const int frameBytes = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 ? 4
                           : (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 6 : 8;
    ASSERT_EQ(::truncate(path.c_str(), size - 300 * frameBytes - 1), 0);
    const int64_t stored = Stored(path, &decoded);
    EXPECT_LT(decoded, kFrames);
    EXPECT_NE(stored, kFrames);
    if (stored >= 0) {
      EXPECT_EQ(stored, decoded);
    }
  }
}

TEST(StoredLength, CompressedFormatsNeedADecode) {
  ScratchDirectory scratch;
  const std::string path = scratch.Path("ramp.flac");
  WriteRamp(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  int64_t decoded = 0;
  EXPECT_EQ(Stored(path, &decoded), -1);
  EXPECT_EQ(decoded, kFrames);  // and the file is at its start again
}

}  // namespace
}  // namespace tessil::cli

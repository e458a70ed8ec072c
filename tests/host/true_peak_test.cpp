// The true-peak meter against libebur128 run directly on the same samples: within 0.05 dB
// whatever the rate and however the audio is split into pieces, planar or interleaved.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "host/true_peak.h"
#include "support/ebur128_reference.h"

namespace tessil::host {
namespace {

test_support::Ebur128Figures Ebur128(const std::vector<float>& interleaved, int channels, int rate) {
  return test_support::Ebur128Measure(interleaved.data(), interleaved.size() / channels, channels, rate);
}

double TruePeakDb(const std::vector<float>& interleaved, int channels, int rate, size_t piece) {
  TruePeakMeter meter(channels, rate);
  for (size_t start = 0; start < interleaved.size() / channels; start += piece) {
    const size_t frames = std::min(piece, interleaved.size() / channels - start);
    meter.AddInterleaved(interleaved.data() + start * channels, frames);
  }
  return 20 * std::log10(meter.TruePeak());
}

// Stereo tones whose peaks fall between samples: a quarter of the rate at 45 degrees (3 dB
// between samples), near the top of the band, and an odd frequency.
std::vector<float> InterSampleTone(int rate, double hertz, double phase, int frames) {
  std::vector<float> samples(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const double angle = 2 * std::numbers::pi * hertz * i / rate + phase;
    samples[2 * i] = static_cast<float>(0.5 * std::sin(angle));
    samples[2 * i + 1] = static_cast<float>(0.25 * std::cos(angle));
  }
  return samples;
}

// Programme-like: a chord and band-limited noise with a slow swell, driven into hard clipping,
// which leaves overs between the flattened samples.
std::vector<float> ClippedProgramme(int rate, int frames) {
  std::vector<float> samples(static_cast<size_t>(frames) * 2);
  uint32_t noise = 7;
  float smoothed[2] = {0.0f, 0.0f};
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double swell = 0.6 + 0.6 * std::sin(2 * std::numbers::pi * 0.5 * t);
    for (int c = 0; c < 2; ++c) {
      noise = noise * 1664525u + 1013904223u;
      smoothed[c] = 0.7f * smoothed[c] + 0.3f * (static_cast<int32_t>(noise) / 2147483648.0f);
      double x = swell * (0.4 * std::sin(2 * std::numbers::pi * (220 + 110 * c) * t) +
                          0.3 * std::sin(2 * std::numbers::pi * 2637 * t) + 0.5 * smoothed[c]);
      x = std::fmax(-0.8, std::fmin(0.8, x));
      samples[2 * i + c] = static_cast<float>(x);
    }
  }
  return samples;
}

TEST(TruePeak, WithinAFiftiethOfADecibelOfLibebur128) {
  struct Case {
    const char* name;
    int rate;
    std::vector<float> samples;
  };
  const std::vector<Case> cases = {
      {"quarter rate at 45 degrees, 48 kHz", 48000,
       InterSampleTone(48000, 12000, std::numbers::pi / 4, 48000)},
      {"quarter rate at 45 degrees, 44.1 kHz", 44100,
       InterSampleTone(44100, 11025, std::numbers::pi / 4, 44100)},
      {"near the top of the band", 48000, InterSampleTone(48000, 19000, 0.3, 48000)},
      {"odd frequency", 44100, InterSampleTone(44100, 7919.5, 1.1, 44100)},
      {"twice oversampled at 96 kHz", 96000,
       InterSampleTone(96000, 24000, std::numbers::pi / 4, 96000)},
      {"clipped programme, 48 kHz", 48000, ClippedProgramme(48000, 48000 * 6)},
      {"clipped programme, 32 kHz", 32000, ClippedProgramme(32000, 32000 * 6)},
  };
  for (const Case& c : cases) {
    const test_support::Ebur128Figures reference = Ebur128(c.samples, 2, c.rate);
    for (size_t piece : {size_t{480}, size_t{441}, size_t{7}, size_t{1} << 20}) {
      const double measured = TruePeakDb(c.samples, 2, c.rate, piece);
      EXPECT_NEAR(measured, reference.truePeakDb, 0.05) << c.name << " in pieces of " << piece;
      EXPECT_GE(measured, reference.samplePeakDb - 1e-9) << c.name;
    }
  }
  // The inter-sample case really is one: about 3 dB over the sample peak.
  const test_support::Ebur128Figures quarter = Ebur128(cases[0].samples, 2, 48000);
  EXPECT_GT(quarter.truePeakDb - quarter.samplePeakDb, 2.9);
}

TEST(TruePeak, PlanarAndInterleavedAgreeAndBlocksReportTheirOwnPeak) {
  const std::vector<float> samples = ClippedProgramme(44100, 44100 * 2);
  const size_t frames = samples.size() / 2;
  std::vector<float> left(frames), right(frames);
  for (size_t i = 0; i < frames; ++i) {
    left[i] = samples[2 * i];
    right[i] = samples[2 * i + 1];
  }
  TruePeakMeter interleaved(2, 44100), planar(2, 44100);
  interleaved.AddInterleaved(samples.data(), frames);
  double highestBlock = 0.0;
  for (size_t start = 0; start < frames; start += 256) {
    const float* channels[2] = {left.data() + start, right.data() + start};
    planar.Add(channels, std::min<size_t>(256, frames - start));
    EXPECT_LE(planar.BlockTruePeak(), planar.TruePeak());
    highestBlock = std::max(highestBlock, planar.BlockTruePeak());
  }
  EXPECT_EQ(planar.TruePeak(), interleaved.TruePeak());
  EXPECT_EQ(planar.SamplePeak(), interleaved.SamplePeak());
  EXPECT_EQ(highestBlock, planar.TruePeak());
  EXPECT_EQ(std::max(planar.ChannelTruePeak(0), planar.ChannelTruePeak(1)), planar.TruePeak());
  EXPECT_NE(planar.ChannelTruePeak(0), planar.ChannelTruePeak(1));
  planar.Reset();
  EXPECT_EQ(planar.TruePeak(), 0.0);
  EXPECT_EQ(PeakDecibels(planar.TruePeak()), -std::numeric_limits<double>::infinity());
}

TEST(TruePeak, RecentPeakHoldsAboutOneSecond) {
  // A peak of 0.5 in one block, then quiet blocks of 10 ms: held for 0.9 to 1.1 s.
  RecentPeak recent(48000);
  recent.Add(0.5, 480);
  int heldBlocks = 0;
  for (int block = 0; block < 300; ++block) {
    recent.Add(0.01, 480);
    if (recent.Highest() == 0.5) heldBlocks = block + 1;
  }
  EXPECT_GE(heldBlocks, 90);
  EXPECT_LE(heldBlocks, 110);
  EXPECT_EQ(recent.Highest(), 0.01);
  recent.Reset();
  EXPECT_EQ(recent.Highest(), 0.0);
}

}  // namespace
}  // namespace tessil::host

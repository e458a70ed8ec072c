// The render report's meter against libebur128 run directly on the same samples: true peak from
// the oversampling interpolator within 0.05 dB, loudness and range identical, whatever the rate
// and however the audio is split into pieces.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "cli/cli_harness.h"
#include "cli/loudness.h"
#include "cli/true_peak.h"

namespace tessil::cli_test {
namespace {

using cli::LoudnessFigures;
using cli::LoudnessMeter;
using cli::TruePeakMeter;

struct Reference {
  double truePeakDb;
  double samplePeakDb;
  double integrated;
  double range;
};

Reference Ebur128(const std::vector<float>& interleaved, int channels, int rate) {
  ebur128_state* state =
      ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                   EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK |
                       EBUR128_MODE_SAMPLE_PEAK);
  ebur128_add_frames_float(state, interleaved.data(), interleaved.size() / channels);
  double truePeak = 0.0, samplePeak = 0.0, value = 0.0;
  for (int c = 0; c < channels; ++c) {
    ebur128_true_peak(state, static_cast<unsigned>(c), &value);
    truePeak = std::fmax(truePeak, value);
    ebur128_sample_peak(state, static_cast<unsigned>(c), &value);
    samplePeak = std::fmax(samplePeak, value);
  }
  Reference reference{20 * std::log10(truePeak), 20 * std::log10(samplePeak), 0.0, 0.0};
  ebur128_loudness_global(state, &reference.integrated);
  ebur128_loudness_range(state, &reference.range);
  ebur128_destroy(&state);
  return reference;
}

double TruePeakDb(const std::vector<float>& interleaved, int channels, int rate, size_t piece) {
  TruePeakMeter meter(channels, rate);
  for (size_t start = 0; start < interleaved.size() / channels; start += piece) {
    const size_t frames = std::min(piece, interleaved.size() / channels - start);
    meter.Add(interleaved.data() + start * channels, frames);
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
    const Reference reference = Ebur128(c.samples, 2, c.rate);
    for (size_t piece : {size_t{480}, size_t{441}, size_t{7}, size_t{1} << 20}) {
      const double measured = TruePeakDb(c.samples, 2, c.rate, piece);
      EXPECT_NEAR(measured, reference.truePeakDb, 0.05) << c.name << " in pieces of " << piece;
      EXPECT_GE(measured, reference.samplePeakDb - 1e-9) << c.name;
    }
  }
  // The inter-sample case really is one: about 3 dB over the sample peak.
  const Reference quarter = Ebur128(cases[0].samples, 2, 48000);
  EXPECT_GT(quarter.truePeakDb - quarter.samplePeakDb, 2.9);
}

TEST(LoudnessMeterThread, FiguresMatchLibebur128WhateverThePieces) {
  const std::vector<float> nominal = ClippedProgramme(48000, 48000 * 8);
  const Reference reference = Ebur128(nominal, 2, 48000);
  // As a 16-bit host stream: integer scale in, nominal scale measured.
  std::vector<float> host(nominal.size());
  for (size_t i = 0; i < nominal.size(); ++i) host[i] = nominal[i] * 32768.0f;
  for (size_t piece : {size_t{480}, size_t{1000}, size_t{100000}}) {
    LoudnessMeter meter(2, 48000);
    for (size_t start = 0; start < host.size() / 2; start += piece) {
      meter.AddHost(host.data() + start * 2, std::min(piece, host.size() / 2 - start), 16);
    }
    const LoudnessFigures figures = meter.Figures();
    ASSERT_TRUE(figures.measured);
    EXPECT_EQ(figures.integratedLufs, reference.integrated) << piece;
    EXPECT_EQ(figures.rangeLu, reference.range) << piece;
    EXPECT_NEAR(figures.samplePeakDbfs, reference.samplePeakDb, 1e-6) << piece;
    EXPECT_NEAR(figures.truePeakDbtp, reference.truePeakDb, 0.05) << piece;
  }
  // Silence has no loudness and no peak.
  LoudnessMeter silent(2, 48000);
  std::vector<float> zeros(48000 * 2, 0.0f);
  silent.AddHost(zeros.data(), 48000, 16);
  const LoudnessFigures quiet = silent.Figures();
  EXPECT_TRUE(std::isinf(quiet.integratedLufs));
  EXPECT_TRUE(std::isinf(quiet.truePeakDbtp) && quiet.truePeakDbtp < 0);
}

// Without the report the file is the same (read and written in large pieces either way, here
// across several pieces and a ragged end); the report says nothing was measured.
TEST(RenderReport, NoReportWritesTheSameFileAndMeasuresNothing) {
  ScratchDirectory scratch;
  const std::string in = scratch.Path("in.wav");
  WritePcm(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 16, TestNoise(2 * 40007, 9000, 3));
  const RunResult full = RunTessil({"render", in, scratch.Path("full.wav")});
  ASSERT_EQ(full.status, 0) << full.err;
  EXPECT_NE(full.out.find("true peak"), std::string::npos);
  const RunResult bare = RunTessil({"render", "--no-report", in, scratch.Path("bare.wav")});
  ASSERT_EQ(bare.status, 0) << bare.err;
  EXPECT_NE(bare.out.find("not measured"), std::string::npos) << bare.out;
  EXPECT_EQ(bare.out.find("true peak"), std::string::npos) << bare.out;
  EXPECT_EQ(FileBytes(scratch.Path("bare.wav")), FileBytes(scratch.Path("full.wav")));
  const RunResult json =
      RunTessil({"render", "--no-report", "--json", in, scratch.Path("json.wav")});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"output_loudness\": null"), std::string::npos) << json.out;
}

}  // namespace
}  // namespace tessil::cli_test

// The report's meter thread against libebur128 run directly on the same samples, and a render
// without the report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "cli/cli_harness.h"
#include "cli/loudness.h"
#include "support/ebur128_reference.h"
#include "support/signals.h"

namespace tessil::cli_test {
namespace {

using cli::LoudnessFigures;
using cli::LoudnessMeter;

test_support::Ebur128Figures Ebur128(const std::vector<float>& interleaved, int channels, int rate) {
  return test_support::Ebur128Measure(interleaved.data(), interleaved.size() / channels, channels, rate);
}

TEST(LoudnessMeterThread, FiguresMatchLibebur128WhateverThePieces) {
  // 80 s: added in one call, more than the queue holds, so the caller measures part of it itself.
  const std::vector<float> nominal = test_support::SynthesizeProgramme(48000, 48000 * 80);
  const test_support::Ebur128Figures reference = Ebur128(nominal, 2, 48000);
  // As a 16-bit host stream: integer scale in, nominal scale measured.
  std::vector<float> host(nominal.size());
  for (size_t i = 0; i < nominal.size(); ++i) host[i] = nominal[i] * 32768.0f;
  for (size_t piece : {size_t{480}, size_t{100000}, host.size() / 2}) {
    LoudnessMeter meter(2, 48000);
    for (size_t start = 0; start < host.size() / 2; start += piece) {
      meter.AddHost(host.data() + start * 2, std::min(piece, host.size() / 2 - start), 16);
    }
    const LoudnessFigures figures = meter.Figures();
    ASSERT_TRUE(figures.measured);
    EXPECT_NEAR(figures.integratedLufs, reference.integratedLufs, 0.01) << piece;
    EXPECT_NEAR(figures.rangeLu, reference.rangeLu, 0.05) << piece;
    EXPECT_NEAR(figures.samplePeakDbfs, reference.samplePeakDb, 1e-6) << piece;
    EXPECT_GE(figures.truePeakDbtp, figures.samplePeakDbfs) << piece;
    EXPECT_EQ(figures.series.shortTerm.size(), 800u) << piece;
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

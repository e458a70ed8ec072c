// The loudness meters against libebur128 run here on the same samples: momentary and short-term
// loudness after every 100 ms step, integrated loudness and loudness range at the end, on
// music-like material and on edge cases (silence, tones, blocks at the gates), at rates from
// 8 kHz to 192 kHz with one, two and six channels; the same figures whatever the pieces the
// audio arrives in, planar or interleaved; and each channel role's weight.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "cli/demo_programme.h"
#include "host/programme_loudness.h"
#include "host/true_peak.h"
#include "support/allocation_counter.h"
#include "support/ebur128_reference.h"

namespace tessil::host {
namespace {

struct Figures {
  std::vector<double> momentary;  // after each step
  std::vector<double> shortTerm;
  double integrated = 0.0;
  double range = 0.0;
};

Figures Ebur128(const std::vector<float>& interleaved, int channels, int rate, bool dualMono) {
  const test_support::Ebur128Figures r = test_support::Ebur128Measure(
      interleaved.data(), interleaved.size() / channels, channels, rate, static_cast<size_t>(rate + 5) / 10, dualMono);
  return {r.momentaryPerHop, r.shortTermPerHop, r.integratedLufs, r.rangeLu};
}

// Interleaved audio in pieces of `piece` frames, or planar in pieces when `planar`.
Figures Measure(const std::vector<float>& interleaved, int channels, int rate, bool dualMono, size_t piece,
                bool planar) {
  std::vector<ChannelRole> roles = DefaultChannelRoles(channels);
  if (dualMono) roles[0] = ChannelRole::DualMono;
  ProgrammeLoudness programme(rate, roles);
  const size_t frames = interleaved.size() / channels;
  std::vector<std::vector<float>> split(channels, std::vector<float>(frames));
  for (size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) split[c][i] = interleaved[i * channels + c];
  }
  Figures figures;
  for (size_t start = 0; start < frames; start += piece) {
    const size_t end = std::min(start + piece, frames);
    // Each piece split where steps end, to read every step's figures.
    for (size_t at = start; at < end;) {
      const size_t count = std::min(end - at, programme.Meter().FramesToNextStep());
      if (planar) {
        std::vector<const float*> pointers;
        for (const auto& channel : split) pointers.push_back(channel.data() + at);
        programme.Add(pointers.data(), count);
      } else {
        programme.AddInterleaved(interleaved.data() + at * channels, count);
      }
      at += count;
      if (programme.Meter().FramesToNextStep() == programme.Meter().StepFrames()) {
        figures.momentary.push_back(programme.Meter().MomentaryLufs());
        figures.shortTerm.push_back(programme.Meter().ShortTermLufs());
      }
    }
  }
  figures.integrated = programme.IntegratedLufs();
  figures.range = programme.RangeLu();
  return figures;
}

std::vector<float> Tone(int rate, int channels, double seconds, double dbfs, double hertz = 997.0) {
  const auto frames = static_cast<size_t>(seconds * rate);
  std::vector<float> samples(frames * channels);
  const double amplitude = std::pow(10.0, dbfs / 20.0);
  for (size_t i = 0; i < frames; ++i) {
    const auto value = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hertz * i / rate));
    for (int c = 0; c < channels; ++c) samples[i * channels + c] = value;
  }
  return samples;
}

std::vector<float> Joined(std::initializer_list<std::vector<float>> parts) {
  std::vector<float> joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// The demo clip's band at `rate` on `channels` channels, three times over at falling levels.
// Six channels: centre and surrounds from the stereo mix, and a loud LFE that must not count.
std::vector<float> Music(int rate, int channels, const double (&gainsDb)[3], double seconds = cli::kDemoSeconds) {
  std::vector<float> stereo = cli::SynthesiseDemoProgramme(rate, seconds);
  const size_t frames = stereo.size() / 2;
  std::vector<float> out(3 * frames * channels);
  float* to = out.data();
  for (int pass = 0; pass < 3; ++pass) {
    const auto gain = static_cast<float>(std::pow(10.0, gainsDb[pass] / 20.0));
    for (size_t i = 0; i < frames; ++i) {
      const float left = gain * stereo[2 * i], right = gain * stereo[2 * i + 1];
      const size_t late = (i + frames - static_cast<size_t>(rate) / 3) % frames;
      if (channels == 1) {
        *to++ = 0.5f * (left + right);
        continue;
      }
      *to++ = left;
      *to++ = right;
      if (channels == 2) continue;
      *to++ = 0.5f * (left + right);
      *to++ = static_cast<float>(0.9 * std::sin(2 * std::numbers::pi * 80.0 * i / rate));
      *to++ = 0.5f * gain * stereo[2 * late + 1];
      *to++ = 0.5f * gain * stereo[2 * late];
    }
  }
  return out;
}

struct Case {
  std::string name;
  int rate;
  int channels;
  std::vector<float> samples;
  bool dualMono = false;
  // What libebur128 must find for the case to test its edge: integrated within these bounds
  // (NaN: no bound), or no integrated loudness at all; a loudness range within these bounds.
  double integratedAbove = NAN, integratedBelow = NAN;
  double rangeAbove = NAN, rangeBelow = NAN;
};

std::vector<Case> Cases() {
  const double falling[3] = {0.0, -8.0, -16.0};
  const double level[3] = {-3.0, -3.0, -3.0};
  const double inf = std::numeric_limits<double>::infinity();
  return {
      {"music, 44.1 kHz stereo", 44100, 2, Music(44100, 2, falling), false, NAN, NAN, 10.0},
      {"music, 48 kHz, 6 channels", 48000, 6, Music(48000, 6, falling, 10.0)},
      {"music, 8 kHz mono", 8000, 1, Music(8000, 1, level)},
      {"music, 11.025 kHz (steps of 1103 frames)", 11025, 2, Music(11025, 2, falling)},
      {"music, 192 kHz stereo", 192000, 2, Music(192000, 2, level, 4.0)},
      {"dual mono", 22050, 1, Music(22050, 1, falling, 10.0), true},
      {"silence", 48000, 2, std::vector<float>(48000 * 2 * 5, 0.0f), false, NAN, -inf},
      {"tone at -23 dBFS, 96 kHz", 96000, 2, Tone(96000, 2, 5, -23)},
      {"tone at 50 Hz, 22.05 kHz", 22050, 1, Tone(22050, 1, 5, -10, 50)},
      {"shorter than one block", 48000, 2, Tone(48000, 2, 0.35, -10), false, NAN, -inf},
      // The quiet half just above and just below the relative gate (12.8 dB under the loud
      // half for two halves of equal length), and just above and below the absolute gate.
      {"relative gate, quiet half kept", 32000, 2, Joined({Tone(32000, 2, 6, -10), Tone(32000, 2, 6, -22.7)}),
       false, NAN, -12.0},
      {"relative gate, quiet half dropped", 32000, 2, Joined({Tone(32000, 2, 6, -10), Tone(32000, 2, 6, -22.9)}),
       false, -10.5},
      {"absolute gate, just above", 44100, 2, Tone(44100, 2, 4, -69.95), false, -inf},
      {"absolute gate, just below", 44100, 2, Tone(44100, 2, 4, -70.05), false, NAN, -inf},
      // The same for the range's gate, 23 dB under the loud half.
      {"range gate, quiet half kept", 16000, 2, Joined({Tone(16000, 2, 12, -10), Tone(16000, 2, 12, -32.9)}),
       false, NAN, NAN, 20.0},
      {"range gate, quiet half dropped", 16000, 2, Joined({Tone(16000, 2, 12, -10), Tone(16000, 2, 12, -33.1)}),
       false, NAN, NAN, NAN, 5.0},
  };
}

double Clamped(double lufs) { return std::max(lufs, -90.0); }

TEST(LoudnessMeter, MatchesLibebur128StepByStepAndOverallWhateverThePieces) {
  for (const Case& c : Cases()) {
    const Figures reference = Ebur128(c.samples, c.channels, c.rate, c.dualMono);
    // The case reaches the edge it is named after (a bound of -inf: no loudness at all).
    if (c.integratedBelow == -std::numeric_limits<double>::infinity()) {
      EXPECT_TRUE(std::isinf(reference.integrated)) << c.name;
    } else {
      EXPECT_FALSE(reference.integrated <= c.integratedAbove) << c.name;
      EXPECT_FALSE(reference.integrated >= c.integratedBelow) << c.name;
    }
    EXPECT_FALSE(reference.range <= c.rangeAbove || reference.range >= c.rangeBelow) << c.name;

    const Figures measured = Measure(c.samples, c.channels, c.rate, c.dualMono, 4096, false);
    ASSERT_EQ(measured.shortTerm.size(), reference.shortTerm.size()) << c.name;
    for (size_t i = 0; i < reference.shortTerm.size(); ++i) {
      ASSERT_NEAR(Clamped(measured.shortTerm[i]), Clamped(reference.shortTerm[i]), 0.1) << c.name << " step " << i;
      ASSERT_NEAR(Clamped(measured.momentary[i]), Clamped(reference.momentary[i]), 0.1) << c.name << " step " << i;
    }
    EXPECT_NEAR(Clamped(measured.integrated), Clamped(reference.integrated), 0.01) << c.name;
    EXPECT_NEAR(measured.range, reference.range, 0.05) << c.name;

    // Single frames, plugin-sized planar blocks and odd pieces give the same figures.
    const std::pair<size_t, bool> ways[] = {{1, false}, {64, true}, {441, true}};
    for (const auto& [piece, planar] : ways) {
      if (piece == 1 && c.samples.size() > 48000 * 2 * 6) continue;
      const Figures split = Measure(c.samples, c.channels, c.rate, c.dualMono, piece, planar);
      EXPECT_NEAR(Clamped(split.integrated), Clamped(measured.integrated), 1e-9) << c.name << " in " << piece;
      EXPECT_NEAR(split.range, measured.range, 1e-9) << c.name << " in " << piece;
      ASSERT_EQ(split.shortTerm.size(), measured.shortTerm.size());
      for (size_t i = 0; i < measured.shortTerm.size(); ++i) {
        ASSERT_NEAR(Clamped(split.shortTerm[i]), Clamped(measured.shortTerm[i]), 1e-9) << c.name << " step " << i;
      }
    }
  }
}

TEST(LoudnessMeter, RolesWeightTheChannels) {
  // One channel's tone alone: the role's weight is all that differs.
  const std::vector<float> tone = Tone(48000, 1, 1, -20);
  struct Row {
    ChannelRole role;
    double offsetLu;  // against a front channel
  };
  const double front = [&] {
    LoudnessMeter meter(48000, {ChannelRole::Front});
    meter.AddInterleaved(tone.data(), 48000);
    return meter.MomentaryLufs();
  }();
  for (const Row row : {Row{ChannelRole::Surround, 10 * std::log10(1.41)}, Row{ChannelRole::DualMono, 10 * std::log10(2.0)}}) {
    LoudnessMeter meter(48000, {row.role});
    meter.AddInterleaved(tone.data(), 48000);
    EXPECT_NEAR(meter.MomentaryLufs() - front, row.offsetLu, 1e-9);
  }
  for (const ChannelRole role : {ChannelRole::LowFrequency, ChannelRole::Unused}) {
    LoudnessMeter meter(48000, {role});
    meter.AddInterleaved(tone.data(), 48000);
    EXPECT_TRUE(std::isinf(meter.MomentaryLufs()));
  }
  EXPECT_THROW(LoudnessMeter(8, {ChannelRole::Front}), std::invalid_argument);
  EXPECT_THROW(LoudnessMeter(48000, {}), std::invalid_argument);
}

TEST(LoudnessMeter, ANotANumberOrAnInfinitySpoilsOnlyTheWindowsThatHoldIt) {
  const std::vector<float> clean = Tone(48000, 2, 10, -20);
  for (const float bad : {NAN, INFINITY}) {
    std::vector<float> spoilt = clean;
    spoilt[2 * 240000] = bad;  // 5 s in
    ProgrammeLoudness programme(48000, DefaultChannelRoles(2));
    ProgrammeLoudness reference(48000, DefaultChannelRoles(2));
    programme.AddInterleaved(spoilt.data(), 244800);  // to the end of its step
    EXPECT_FALSE(std::isfinite(programme.Meter().MomentaryLufs()));
    programme.AddInterleaved(spoilt.data() + 2 * 244800, 480000 - 244800);
    reference.AddInterleaved(clean.data(), 480000);
    EXPECT_NEAR(programme.Meter().ShortTermLufs(), reference.Meter().ShortTermLufs(), 1e-6);
    EXPECT_NEAR(programme.IntegratedLufs(), reference.IntegratedLufs(), 0.01);
    EXPECT_NEAR(programme.RangeLu(), reference.RangeLu(), 0.05);
  }
}

// A plugin's input and output meters fed side by side read exactly what each would read alone,
// also where they cannot share (more than four channels, meters at different points of a step).
TEST(LoudnessMeter, MetersFedSideBySideReadWhatTheyReadAlone) {
  struct Pairing {
    int firstChannels, secondChannels;
    size_t headStart;  // frames the first meter had before
  };
  const std::vector<float> a = Tone(44100, 6, 4, -20), b = Tone(44100, 6, 4, -9);
  for (const Pairing p : {Pairing{2, 2, 0}, Pairing{1, 1, 0}, Pairing{2, 1, 0}, Pairing{6, 2, 0}, Pairing{2, 2, 100}}) {
    SCOPED_TRACE(std::to_string(p.firstChannels) + "+" + std::to_string(p.secondChannels) + " channels");
    LoudnessMeter together[2] = {{44100, DefaultChannelRoles(p.firstChannels)}, {44100, DefaultChannelRoles(p.secondChannels)}};
    LoudnessMeter alone[2] = {{44100, DefaultChannelRoles(p.firstChannels)}, {44100, DefaultChannelRoles(p.secondChannels)}};
    std::vector<float> planar[2][6];
    for (int c = 0; c < 6; ++c) {
      for (size_t i = 0; i < a.size() / 6; ++i) {
        planar[0][c].push_back(a[i * 6 + c] * static_cast<float>(c + 1) / 6.0f);
        planar[1][c].push_back(b[i * 6 + c]);
      }
    }
    size_t done = p.headStart;
    for (LoudnessMeter* meter : {&together[0], &alone[0]}) {
      const float* head[6] = {planar[0][0].data(), planar[0][1].data(), planar[0][2].data(),
                              planar[0][3].data(), planar[0][4].data(), planar[0][5].data()};
      meter->Add(head, p.headStart);
    }
    for (const size_t piece : {size_t{64}, size_t{4410}, size_t{1}, size_t{30000}, size_t{100000}}) {
      const size_t n = std::min(piece, planar[0][0].size() - done);
      const float* in[2][6];
      for (int side = 0; side < 2; ++side) {
        for (int c = 0; c < 6; ++c) in[side][c] = planar[side][c].data() + done;
      }
      LoudnessMeter::AddSideBySide(together[0], in[0], together[1], in[1], n);
      alone[0].Add(in[0], n);
      alone[1].Add(in[1], n);
      done += n;
      for (int side = 0; side < 2; ++side) {
        EXPECT_EQ(together[side].Steps(), alone[side].Steps());
        EXPECT_EQ(together[side].MomentaryEnergy(), alone[side].MomentaryEnergy());
        EXPECT_EQ(together[side].ShortTermEnergy(), alone[side].ShortTermEnergy());
      }
    }
    // Something was measured on both sides, so equal figures mean equal work.
    EXPECT_GE(together[1].Steps(), 30u);
    EXPECT_TRUE(std::isfinite(together[0].ShortTermLufs()) && std::isfinite(together[1].ShortTermLufs()));
  }
}

#if TESSIL_COUNTS_ALLOCATIONS
// What a plugin does in run(): meters fed planar blocks of any size, nothing allocated.
TEST(LoudnessMeter, MetersAllocateNothingOnceBuilt) {
  const std::vector<float> samples = Tone(48000, 1, 3, -20);
  const float* planar[2] = {samples.data(), samples.data()};
  LoudnessMeter meter(48000, DefaultChannelRoles(2));
  ProgrammeLoudness programme(48000, DefaultChannelRoles(2));
  TruePeakMeter peaks(2, 48000);
  RecentPeak recent(48000);
  test_support::ResetAllocations();
  test_support::CountAllocations(true);
  for (const size_t frames : {size_t{1}, size_t{64}, size_t{4099}, size_t{65536}}) {
    meter.Add(planar, frames);
    programme.Add(planar, frames);
    peaks.Add(planar, frames);
    recent.Add(peaks.BlockTruePeak(), frames);
  }
  test_support::CountAllocations(false);
  EXPECT_EQ(test_support::Allocations(), 0);
  EXPECT_TRUE(test_support::CounterSeesAnAllocation());
}
#endif

}  // namespace
}  // namespace tessil::host

// The example PipeWire sink with audio through it: what comes out is what tessil render makes of
// what went in, to the end, and a control changed while PipeWire runs takes effect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "plugin_harness.h"

namespace tessil::plugin_test {
namespace {

size_t FirstSound(const Audio& audio) {
  size_t i = 0;
  while (i < audio.Frames() && std::fabs(audio.samples[i * 2]) < 1e-4f) ++i;
  return i;
}

double SamplePeakDb(const Audio& audio) {
  float peak = 0.0f;
  for (const float sample : audio.samples) peak = std::max(peak, std::fabs(sample));
  return 20.0 * std::log10(peak);
}

struct Match {
  long lag = 0;            // recording frame = reference frame + lag
  double levelDb = 0.0;    // recording's level minus the reference's, where the reference sounds
  double residualDb = 0.0; // the difference, RMS in dBFS
  double tailDb = 0.0;     // the same over the reference's last 100 ms of sound
};

// Aligns `recording` with `reference` by the lag that leaves the least difference near where
// the sound starts, then compares the whole of the reference's sound.
Match Align(const Audio& recording, const Audio& reference) {
  const size_t start = FirstSound(reference);
  size_t end = reference.Frames();
  while (end > start && std::fabs(reference.samples[(end - 1) * 2]) < 1e-4f) --end;
  const long guess = static_cast<long>(FirstSound(recording)) - static_cast<long>(start);
  const auto at = [&](size_t i, long lag, int c) {
    const long j = static_cast<long>(i) + lag;
    return j >= 0 && j < static_cast<long>(recording.Frames()) ? recording.samples[static_cast<size_t>(j) * 2 + c] : 0.0f;
  };
  const auto energy = [&](size_t from, size_t to, long lag, double* difference, double* level, double* own) {
    for (size_t i = from; i < to; ++i) {
      for (int c = 0; c < 2; ++c) {
        const double r = at(i, lag, c), f = reference.samples[i * 2 + c];
        *difference += (r - f) * (r - f);
        *level += f * f;
        *own += r * r;
      }
    }
  };
  Match match;
  double best = INFINITY;
  for (long lag = guess - 2048; lag <= guess + 2048; ++lag) {
    double difference = 0.0, level = 0.0, own = 0.0;
    energy(start, std::min(end, start + 4800), lag, &difference, &level, &own);
    if (difference < best) {
      best = difference;
      match.lag = lag;
    }
  }
  double difference = 0.0, level = 0.0, own = 0.0;
  energy(start, end, match.lag, &difference, &level, &own);
  const double frames = 2.0 * static_cast<double>(end - start);
  match.levelDb = 10.0 * std::log10(own / level);
  match.residualDb = 10.0 * std::log10(difference / frames + 1e-30);
  double tail = 0.0;
  level = own = 0.0;
  energy(end - 4800, end, match.lag, &tail, &level, &own);
  match.tailDb = 10.0 * std::log10(tail / 9600.0 + 1e-30);
  return match;
}

TEST(PipeWire, TheTessilSinkLevelsWhatIsPlayedAndTakesLiveChanges) {
  Scratch scratch;
  // Loud and quiet passages after a short silence, as a player would send them.
  Audio clip = Programme(48000, 2.5);
  for (size_t i = 0; i < 48000 / 4 * 2; ++i) clip.samples[i] = 0.0f;
  WriteAudio(scratch.Path("clip.wav"), clip, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  std::string log;
  const int status = RunCommand("bash " + std::string(TESSIL_SOURCE_DIR) + "/tests/plugins/pipewire_check.sh " +
                                    TESSIL_SOURCE_DIR + "/examples/pipewire/tessil-sink.conf " + TESSIL_LADSPA_DIR +
                                    " " + scratch.Path("clip.wav") + " " + scratch.Path(""),
                                &log);
  if (status == 77) GTEST_SKIP() << log;
  ASSERT_EQ(status, 0) << log;

  // What entered the sink, rendered from the plugin's first frame. The input's recorder starts
  // the graph, so that is usually its first frame too; where the graph ran a few cycles before
  // or after the recorder began, the plugin saw that much more or less of the leading silence,
  // which moves the driver's blocks against the audio: whole cycles (8192 frames, as
  // pipewire_check.sh sets them) of either are tried.
  const Audio in = ReadAudio(scratch.Path("in1.wav"));
  const Audio out = ReadAudio(scratch.Path("out1.wav"));
  Match match;
  match.residualDb = INFINITY;
  constexpr long kCycle = 8192;
  for (long cycles = 0; cycles <= 3 && match.residualDb > -100.0; ++cycles) {
    for (const long k : {cycles * kCycle, -cycles * kCycle}) {
      if (cycles == 0 && k < 0) continue;
      Audio shifted{in.rate, 2, std::vector<float>(static_cast<size_t>(std::max(k, 0L)) * 2, 0.0f)};
      shifted.samples.insert(shifted.samples.end(), in.samples.begin() + std::max(-k, 0L) * 2, in.samples.end());
      WriteAudio(scratch.Path("in.wav"), shifted, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
      ASSERT_EQ(RunCommand(std::string(TESSIL_CLI) + " render -y " + scratch.Path("in.wav") + " " +
                               scratch.Path("ref.wav") + " --bits 32 --format f32", &log), 0) << log;
      const Match tried = Align(out, ReadAudio(scratch.Path("ref.wav")));
      if (tried.residualDb < match.residualDb) match = tried;
    }
  }
  EXPECT_NEAR(match.levelDb, 0.0, 0.1);
  EXPECT_LT(match.residualDb, -50.0);
  EXPECT_LT(match.tailDb, -50.0) << "the end of the clip is missing";
  EXPECT_GT(SamplePeakDb(out), -12.0);

  // The ceiling switched on at -12 dBTP while PipeWire ran holds the second play. (Its samples:
  // a cycle PipeWire drops on a busy machine joins two limited stretches with a step, whose
  // reconstruction may overshoot where none of the plugin's output did.)
  EXPECT_LE(SamplePeakDb(ReadAudio(scratch.Path("out2.wav"))), -12.0);
}

}  // namespace
}  // namespace tessil::plugin_test

// The rate-adapting, constant-latency stream that plugins and odd-rate files run through.
#include "host/effect_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "host/latency.h"
#include "host/properties.h"

namespace tessil::host {
namespace {

struct Stereo {
  std::vector<float> left;
  std::vector<float> right;
};

Stereo Noise(size_t frames, uint32_t seed) {
  Stereo signal{std::vector<float>(frames), std::vector<float>(frames)};
  for (size_t i = 0; i < frames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    signal.left[i] = static_cast<float>(static_cast<int32_t>(seed) >> 8) * 0x1p-24f;
    signal.right[i] = signal.left[i] * 0.5f + (i % 100 == 0 ? 0.25f : 0.0f);
  }
  return signal;
}

void Set(ITessilManager* manager, KSPROPERTY_TESSIL id, int32_t value) {
  const PropertyInfo& property = PropertyById(id);
  for (const PropertyTarget target : TargetsOf(property)) {
    ASSERT_EQ(PropertyClient(manager).Set(property, target, static_cast<uint32_t>(value)), STATUS_SUCCESS);
  }
}

// Runs the whole signal through `stream` in calls of the given sizes, repeated.
Stereo RunInPieces(EffectStream& stream, const Stereo& input, const std::vector<uint32_t>& pieces,
                   bool lookAhead = true) {
  Stereo output{std::vector<float>(input.left.size()), std::vector<float>(input.left.size())};
  size_t done = 0;
  for (size_t k = 0; done < input.left.size(); ++k) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(pieces[k % pieces.size()], input.left.size() - done));
    const float* in[2] = {input.left.data() + done, input.right.data() + done};
    float* out[2] = {output.left.data() + done, output.right.data() + done};
    stream.Run(in, out, n, lookAhead);
    done += n;
  }
  return output;
}

TEST(EffectStream, CallSizesNeverChangeTheAudio) {
  const Stereo input = Noise(30000, 7);
  for (const uint32_t rate : {48000u, 96000u}) {
    SCOPED_TRACE(rate);
    Stereo reference;
    for (const std::vector<uint32_t>& pieces :
         std::vector<std::vector<uint32_t>>{{4096}, {1}, {64}, {1000}, {1, 4096, 17, 240, 1000, 3, 64}}) {
      ManagerHandle manager = CreateManager();
      EffectStream stream(manager.get(), rate);
      const Stereo output = RunInPieces(stream, input, pieces);
      EXPECT_EQ(stream.Underruns(), 0u);
      if (reference.left.empty()) {
        reference = output;
        continue;
      }
      EXPECT_EQ(output.left, reference.left) << "pieces of " << pieces[0];
      EXPECT_EQ(output.right, reference.right) << "pieces of " << pieces[0];
    }
  }
}

TEST(EffectStream, IsAProcessorFedWholeBlocksShiftedByTheLatency) {
  const Stereo input = Noise(9600, 3);
  for (const bool core : {true, false}) {
    SCOPED_TRACE(core ? "core on" : "core off");
    ManagerHandle manager = CreateManager();
    Set(manager.get(), KSPROPERTY_TESSIL_CORE_ENABLE, core ? 1 : 0);
    EffectStream stream(manager.get(), 44100);
    EXPECT_EQ(stream.LatencyFrames(), kTessilShortBufferLatencyFrames + kTessilLookAheadFrames);
    const Stereo output = RunInPieces(stream, input, {441}, LookAheadActive(true, core));

    // The reference: 32-bit host samples, whole blocks, so the driver adds no latency itself.
    ProcessorHandle processor = CreateProcessor(manager.get());
    ASSERT_EQ(processor->Init(44100, 32, 2, 0), STATUS_SUCCESS);
    std::vector<float> host(input.left.size() * 2);
    for (size_t i = 0; i < input.left.size(); ++i) {
      host[2 * i] = input.left[i] * 0x1p31f;
      host[2 * i + 1] = input.right[i] * 0x1p31f;
    }
    processor->Process(host.data(), static_cast<ULONG>(input.left.size()), host.data(), 0);
    const size_t shift = stream.LatencyFrames() - StreamLatencyFrames(LookAheadActive(true, core), 480);
    for (size_t i = 0; i < shift; ++i) ASSERT_EQ(output.left[i], 0.0f) << i;
    for (size_t i = shift; i < input.left.size(); ++i) {
      ASSERT_EQ(output.left[i], host[2 * (i - shift)] * 0x1p-31f) << i;
      ASSERT_EQ(output.right[i], host[2 * (i - shift) + 1] * 0x1p-31f) << i;
    }
  }
}

// Where an impulse fed at `at` comes out (its peak), with the look-ahead switched at `switchAt`.
size_t ImpulsePeak(uint32_t rate, size_t at, size_t switchAt) {
  ManagerHandle manager = CreateManager();
  EffectStream stream(manager.get(), rate);
  Stereo signal{std::vector<float>(at + rate / 4), std::vector<float>(at + rate / 4)};
  signal.left[at] = signal.right[at] = 0.5f;
  size_t done = 0;
  for (const size_t end : {switchAt, signal.left.size()}) {
    const bool core = done == 0;
    Set(manager.get(), KSPROPERTY_TESSIL_CORE_ENABLE, core ? 1 : 0);
    for (; done < end; done += 100) {
      const auto n = static_cast<uint32_t>(std::min<size_t>(100, end - done));
      const float* in[2] = {signal.left.data() + done, signal.right.data() + done};
      float* out[2] = {signal.left.data() + done, signal.right.data() + done};
      stream.Run(in, out, n, LookAheadActive(true, core));
    }
  }
  size_t peak = 0;
  for (size_t i = 0; i < signal.left.size(); ++i) {
    if (std::fabs(signal.left[i]) > std::fabs(signal.left[peak])) peak = i;
  }
  return peak - at;
}

TEST(EffectStream, LatencyHoldsWhateverTheSwitchesAndRate) {
  for (const uint32_t rate : {48000u, 22050u, 96000u}) {
    SCOPED_TRACE(rate);
    ManagerHandle manager = CreateManager();
    const uint32_t latency = EffectStream(manager.get(), rate).LatencyFrames();
    for (const size_t switchAt : {size_t{50}, size_t{4000}}) {
      // Impulses before and after the core is switched off arrive alike (within a frame of the
      // filters' own delay at the higher rates).
      EXPECT_NEAR(static_cast<double>(ImpulsePeak(rate, 3000, switchAt)), latency, 1.0) << switchAt;
    }
  }
}

// Output level over input level in dB for a sine at `hertz`, once the stream has settled.
double GainDb(ITessilManager* manager, uint32_t rate, double hertz) {
  EffectStream stream(manager, rate);
  const size_t frames = stream.LatencyFrames() + rate / 5;
  Stereo signal{std::vector<float>(frames), std::vector<float>(frames)};
  for (size_t i = 0; i < frames; ++i) {
    signal.left[i] = signal.right[i] =
        0.1f * static_cast<float>(std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(i) / rate));
  }
  const Stereo output = RunInPieces(stream, signal, {512}, false);
  EXPECT_EQ(stream.Underruns(), 0u);
  double in = 0.0;
  double out = 0.0;
  const size_t settled = stream.LatencyFrames() + rate / 20;
  for (size_t i = settled; i < frames; ++i) {
    const size_t source = i - stream.LatencyFrames();
    in += static_cast<double>(signal.left[source]) * signal.left[source];
    out += static_cast<double>(output.left[i]) * output.left[i];
  }
  return 10.0 * std::log10(out / in);
}

TEST(EffectStream, SettingsMeanTheSameAtEveryRate) {
  for (const uint32_t rate : {8000u, 22050u, 88200u, 96000u, 192000u}) {
    SCOPED_TRACE(rate);
    ManagerHandle manager = CreateManager();
    Set(manager.get(), KSPROPERTY_TESSIL_CORE_ENABLE, 0);
    Set(manager.get(), KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE, 0);
    Set(manager.get(), KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY, 1000);
    Set(manager.get(), KSPROPERTY_TESSIL_HIGHPASS_ORDER, 2);
    EXPECT_NEAR(GainDb(manager.get(), rate, 1000.0), -3.0, 0.1);

    Set(manager.get(), KSPROPERTY_TESSIL_HIGHPASS_ENABLE, 0);
    const PropertyInfo& gain = PropertyById(KSPROPERTY_TESSIL_EQ_BAND_GAIN);
    for (uint32_t channel = 0; channel < kEqualiserChannels; ++channel) {
      ASSERT_EQ(PropertyClient(manager.get()).Set(gain, {channel, 0}, 12), STATUS_SUCCESS);
    }
    double peakHertz = 0.0;
    double peakDb = -100.0;
    for (double hertz = 900.0; hertz <= 1100.0; hertz += 10.0) {
      const double db = GainDb(manager.get(), rate, hertz);
      if (db > peakDb) {
        peakDb = db;
        peakHertz = hertz;
      }
    }
    EXPECT_NEAR(peakHertz, 1000.0, 20.0);
    EXPECT_NEAR(peakDb, 12.0, 0.5);
  }
}

}  // namespace
}  // namespace tessil::host

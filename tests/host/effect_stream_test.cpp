// The rate-adapting, constant-latency stream that plugins and odd-rate files run through.
#include "host/effect_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "host/latency.h"
#include "host/properties.h"
#include "support/allocation_counter.h"

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

// Runs the whole signal through `stream` in calls of the given sizes, repeated, into `output`
// (as long as the input).
void RunInto(EffectStream& stream, const Stereo& input, Stereo& output, const std::vector<uint32_t>& pieces,
             bool lookAhead) {
  size_t done = 0;
  for (size_t k = 0; done < input.left.size(); ++k) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(pieces[k % pieces.size()], input.left.size() - done));
    const float* in[2] = {input.left.data() + done, input.right.data() + done};
    float* out[2] = {output.left.data() + done, output.right.data() + done};
    stream.Run(in, out, n, lookAhead);
    done += n;
  }
}

Stereo RunInPieces(EffectStream& stream, const Stereo& input, const std::vector<uint32_t>& pieces,
                   bool lookAhead = true) {
  Stereo output{std::vector<float>(input.left.size()), std::vector<float>(input.left.size())};
  RunInto(stream, input, output, pieces, lookAhead);
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

size_t DifferingFrames(const Stereo& a, const Stereo& b) {
  size_t count = 0;
  for (size_t i = 0; i < a.left.size(); ++i) {
    // Bitwise, so that NaN counts as a difference and equal NaNs do not.
    count += std::memcmp(&a.left[i], &b.left[i], sizeof(float)) != 0 ||
             std::memcmp(&a.right[i], &b.right[i], sizeof(float)) != 0;
  }
  return count;
}

Stereo Tone(uint32_t rate, size_t frames, double hertz, float amplitude) {
  Stereo signal{std::vector<float>(frames), std::vector<float>(frames)};
  for (size_t i = 0; i < frames; ++i) {
    signal.left[i] = signal.right[i] = amplitude * static_cast<float>(std::sin(
        2.0 * std::numbers::pi * hertz * static_cast<double>(i) / rate));
  }
  return signal;
}

struct ToneFit {
  double delay;     // frames behind the tone that went in, the candidate nearest the expected
  double residual;  // the largest distance of a sample from the fitted tone
};

// Least-squares fit of a sine at `hertz` to output[from, to).
ToneFit FitTone(const std::vector<float>& output, uint32_t rate, double hertz, size_t from, size_t to,
                double expected) {
  const double step = 2.0 * std::numbers::pi * hertz / rate;
  double ss = 0.0, sc = 0.0, cc = 0.0, ys = 0.0, yc = 0.0;
  for (size_t i = from; i < to; ++i) {
    const double s = std::sin(step * static_cast<double>(i)), c = std::cos(step * static_cast<double>(i));
    ss += s * s, sc += s * c, cc += c * c, ys += output[i] * s, yc += output[i] * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
  double residual = 0.0;
  for (size_t i = from; i < to; ++i) {
    const double fitted = a * std::sin(step * static_cast<double>(i)) + b * std::cos(step * static_cast<double>(i));
    residual = std::max(residual, std::fabs(output[i] - fitted));
  }
  // a sin + b cos = A sin(step (i - delay))
  const double period = rate / hertz;
  double delay = -std::atan2(b, a) / step;
  delay += period * std::round((expected - delay) / period);
  return {delay, residual};
}

// A steady tone through the stream with the effect off, in calls of every pattern: not one frame
// missing, the delay exactly the reported latency (to the nearest frame where 22 native frames are
// no whole number of the stream's), and the same output whatever the calls.
TEST(EffectStream, EveryRateKeepsEveryFrameAndItsLatencyWhateverTheCalls) {
  struct RateCase {
    uint32_t rate;
    double delayTolerance;
  };
  // 7575 Hz to 32000 Hz: the worst lag first shows 3.3 s in.
  const RateCase cases[] = {{11025, 0.01}, {8820, 0.01}, {12000, 0.01}, {4000, 0.01},
                            {39569, 0.5}, {44322, 0.5}, {196709, 0.5}, {7575, 0.5}};
  const std::vector<std::vector<uint32_t>> splits = {{4096}, {441}, {1}, {1, 4096, 17, 240, 1000, 3, 64}};
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.rate);
    const double hertz = c.rate / 997.0;
    ManagerHandle probe = CreateManager();
    const uint32_t latency = EffectStream(probe.get(), c.rate).LatencyFrames();
    const Stereo input = Tone(c.rate, latency + c.rate * 4, hertz, 0.5f);
    Stereo reference;
    for (const std::vector<uint32_t>& pieces : splits) {
      SCOPED_TRACE("pieces of " + std::to_string(pieces[0]));
      ManagerHandle manager = CreateManager();
      Set(manager.get(), KSPROPERTY_TESSIL_ENABLE, 0);
      EffectStream stream(manager.get(), c.rate);
      EXPECT_EQ(stream.LatencyFrames(), latency);
      const Stereo output = RunInPieces(stream, input, pieces, false);
      EXPECT_EQ(stream.Underruns(), 0u);
      // From the first frame of the tone on, once the resamplers' filters have settled.
      const ToneFit fit = FitTone(output.left, c.rate, hertz, latency + c.rate / 50, output.left.size(), latency);
      EXPECT_NEAR(fit.delay, latency, c.delayTolerance);
      EXPECT_LT(fit.residual, 1e-3);
      if (reference.left.empty()) {
        reference = output;
      } else {
        EXPECT_EQ(DifferingFrames(output, reference), 0u);
      }
    }
  }
}

TEST(EffectStream, RatesTooLowOrTooHighAreRefusedWithTheBounds) {
  ManagerHandle manager = CreateManager();
  for (const uint32_t rate : {1u, 8u, 3999u, 768001u, 4000000000u}) {
    SCOPED_TRACE(rate);
    try {
      EffectStream stream(manager.get(), rate);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("4000 to 768000 Hz"), std::string::npos) << error.what();
    }
  }
  for (const uint32_t rate : {4000u, 768000u}) EXPECT_NO_THROW(EffectStream(manager.get(), rate)) << rate;
}

// Bypass, so that the driver's own clamp is the only one: a full-scale square with +12 dB of
// output gain drives every rate into it, and resampling back rings past it.
TEST(EffectStream, OutputNeverPassesTheDriversFullScale) {
  struct FormatCase {
    uint32_t rate;
    uint32_t bits;
  };
  for (const FormatCase c : {FormatCase{96000, 32}, FormatCase{22050, 16}, FormatCase{44322, 24},
                             FormatCase{48000, 32}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.bits) + " bits");
    ManagerHandle manager = CreateManager();
    Set(manager.get(), KSPROPERTY_TESSIL_CORE_ENABLE, 0);
    Set(manager.get(), KSPROPERTY_TESSIL_OUTPUT_GAIN, 12);
    EffectStream stream(manager.get(), c.rate, 2, c.bits);
    Stereo square{std::vector<float>(c.rate / 2), std::vector<float>(c.rate / 2)};
    for (size_t i = 0; i < square.left.size(); ++i) {
      square.left[i] = (i / 97) % 2 == 0 ? 1.0f : -1.0f;
      square.right[i] = -square.left[i];
    }
    const Stereo output = RunInPieces(stream, square, {512}, false);
    const float fullScale = static_cast<float>(TessilOutputScale(c.bits)) * std::ldexp(1.0f, 1 - static_cast<int>(c.bits));
    float peak = 0.0f;
    for (size_t i = 0; i < output.left.size(); ++i) {
      peak = std::max({peak, std::fabs(output.left[i]), std::fabs(output.right[i])});
    }
    EXPECT_EQ(peak, fullScale);
  }
}

// A bad sample is made safe before anything else sees it, as the driver makes it safe at its own
// rates: the stream's output is exactly that of the same signal with the safe value in its place.
TEST(EffectStream, OneBadSampleChangesOnlyWhatItChangesAtNativeRates) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  struct BadSample {
    float bad;
    float safe;
  };
  const BadSample samples[] = {{std::numeric_limits<float>::quiet_NaN(), 0.0f}, {kInfinity, 1.0f},
                               {-kInfinity, -1.0f}, {1e30f, 1.0f}, {-1.5f, -1.0f}};
  for (const uint32_t rate : {96000u, 8000u, 48000u}) {
    const Stereo signal = Noise(rate / 4, 11);
    for (const BadSample& sample : samples) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(sample.bad));
      Stereo outputs[2];
      for (const float value : {sample.bad, sample.safe}) {
        Stereo input = signal;
        input.left[rate / 10] = value;
        ManagerHandle manager = CreateManager();
        Set(manager.get(), KSPROPERTY_TESSIL_ENABLE, 0);
        EffectStream stream(manager.get(), rate);
        outputs[value == sample.safe] = RunInPieces(stream, input, {300}, false);
      }
      EXPECT_EQ(DifferingFrames(outputs[0], outputs[1]), 0u);
    }
  }
}

#if TESSIL_COUNTS_ALLOCATIONS
// Hosts may hand over their whole buffer at once, up to 65536 frames, or change sizes from call
// to call; libsoxr must have grown its buffers for all of it before the first call.
TEST(EffectStream, RunNeverAllocates) {
  const std::vector<std::vector<uint32_t>> splits = {{65536}, {1, 8192, 64, 4096, 333, 65536, 17, 8192}};
  for (const uint32_t rate : {44100u, 176400u, 192000u, 384000u, 11025u, 196709u}) {
    for (const std::vector<uint32_t>& pieces : splits) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, pieces of " + std::to_string(pieces[0]));
      ManagerHandle manager = CreateManager();
      EffectStream stream(manager.get(), rate);
      const Stereo input = Noise(size_t{rate} * 3, 5);
      Stereo output{std::vector<float>(input.left.size()), std::vector<float>(input.left.size())};
      test_support::ResetAllocations();
      test_support::CountAllocations(true);
      RunInto(stream, input, output, pieces, true);
      test_support::CountAllocations(false);
      EXPECT_EQ(test_support::Allocations(), 0);
    }
  }
  EXPECT_TRUE(test_support::CounterSeesAnAllocation());
}
#endif

}  // namespace
}  // namespace tessil::host

// Whole streams through the host interface at every native rate, in whole-block and ragged
// buffers, under default and customised settings, each output reduced to a 64-bit hash. The hashes
// were taken from the straightforward scalar implementation; any change to the arithmetic or its
// order, however small, changes them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/host.h"
#include "support/signals.h"

namespace tessil {
namespace {

using test_support::ManagerDeleter;
using test_support::ProcessorDeleter;
using test_support::Typed;

// FNV-1a over the output's bytes.
uint64_t HashSamples(const std::vector<float>& samples) {
  uint64_t hash = 14695981039346656037ull;
  const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
  for (size_t i = 0; i < samples.size() * sizeof(float); ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

constexpr ULONG kRates[3] = {32000, 44100, 48000};
constexpr uint32_t kBuffers[2] = {480, 441};  // two whole blocks; a ragged, queued stream

struct GoldenCase {
  const char* name;
  uint32_t channels;
  USHORT bits;
  std::function<void(TessilManager*)> configure;
  uint64_t expected[3][2];  // [rate][buffer kind]
};

// Host material: the shared programme at the format's integer scale, in `channels` channels (a
// third channel, when present, carries the left signal and must pass through untouched).
std::vector<float> HostInput(ULONG rate, uint32_t channels, USHORT bits) {
  const int32_t frames = static_cast<int32_t>(rate) * 2;
  const std::vector<float> stereo =
      test_support::SynthesizeProgramme(static_cast<int32_t>(rate), frames);
  const float scale = static_cast<float>((int64_t{1} << (bits - 1)) - 1);
  std::vector<float> host(static_cast<size_t>(frames) * channels);
  for (int32_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < channels; ++c) {
      host[static_cast<size_t>(i) * channels + c] = stereo[2 * i + (c == 1 ? 1 : 0)] * scale;
    }
  }
  return host;
}

uint64_t RenderHash(const GoldenCase& golden, ULONG rate, uint32_t bufferFrames) {
  std::unique_ptr<ITessilManager, ManagerDeleter> manager(CreateTessilManager());
  if (!manager) return 0;
  golden.configure(Typed(manager.get()));
  std::unique_ptr<IStreamProcessor, ProcessorDeleter> processor(manager->CreateProcessor());
  if (!processor) return 0;
  if (processor->Init(rate, golden.bits, static_cast<USHORT>(golden.channels), 0) !=
      STATUS_SUCCESS) {
    return 0;
  }
  const std::vector<float> input = HostInput(rate, golden.channels, golden.bits);
  return HashSamples(test_support::RunStream(processor.get(), input, golden.channels, bufferFrames));
}

const std::vector<GoldenCase>& GoldenCases() {
  static const std::vector<GoldenCase> cases = {
      {"defaults", 2, 16, [](TessilManager*) {},
       {{1787721847675412347u, 16664310287368532610u},
        {14626125330729505550u, 5955878240008271086u},
        {17004192927587953294u, 6086036581511888831u}}},
      {"filters of several orders", 2, 16,
       [](TessilManager* m) {
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(120), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_HIGHPASS_ORDER>(3), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_LOWPASS_FREQUENCY>(11000), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_LOWPASS_ORDER>(10), STATUS_SUCCESS);
       },
       {{12599715914807318731u, 13210431758722177340u},
        {595867528467543266u, 9094025034989585026u},
        {2879320076797609425u, 14316595240394675375u}}},
      {"equaliser bands at non-unity gain", 2, 16,
       [](TessilManager* m) {
         EXPECT_EQ(m->SetEqBandGain(0, 0, 2.0f), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandFrequency(0, 0, 90), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandQ(0, 0, 0.7f), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandGain(0, 2, 0.5f), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandFrequency(0, 2, 4000), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandGain(1, 1, 3.5f), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandFrequency(1, 1, 800), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandQ(1, 1, 8.0f), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandEnable(1, 3, 0), STATUS_SUCCESS);
       },
       {{14324942604316954477u, 9829255280166279604u},
        {5519553618502501101u, 13721040507745761261u},
        {15411103137019854946u, 15133948117729956840u}}},
      {"output stage driven, output gain", 2, 16,
       [](TessilManager* m) {
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE>(1), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT>(0.8f), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_INPUT_GAIN>(0.8f), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_OUTPUT_GAIN>(0.7f), STATUS_SUCCESS);
       },
       {{3953013226614584517u, 17149290553822924202u},
        {4238766450682011689u, 11020623416207277321u},
        {10492374756941946189u, 17541180111015274014u}}},
      {"core loud, second weighting", 2, 16,
       [](TessilManager* m) {
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_CORE_LEVEL>(0.9f), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_CORE_WEIGHTING>(1), STATUS_SUCCESS);
       },
       {{6807153838112324716u, 10636483148979545039u},
        {8629485546011555709u, 12618256368156321053u},
        {13328313729341014031u, 9445191794551601478u}}},
      {"core quiet, no ramps", 2, 16,
       [](TessilManager* m) { EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_CORE_LEVEL>(0.05f), STATUS_SUCCESS); },
       {{13140204998274499190u, 8548199320142325236u},
        {13885282757012941619u, 14037241062293581299u},
        {15418716250815982583u, 14099669272227082738u}}},
      {"core off, filters off", 2, 16,
       [](TessilManager* m) {
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_CORE_ENABLE>(0), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_HIGHPASS_ENABLE>(0), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_LOWPASS_ENABLE>(0), STATUS_SUCCESS);
       },
       {{3088929155308156914u, 14532025149179462740u},
        {12471157480511623805u, 1277191123618457725u},
        {6263501706334404514u, 1684067535971308872u}}},
      {"master off with bypass gain", 2, 16,
       [](TessilManager* m) {
         EXPECT_EQ(m->SetEnable(0), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_BYPASS_GAIN>(0.5f), STATUS_SUCCESS);
       },
       {{15431138468925924638u, 13325930377032758409u},
        {3304451985951995536u, 8943626341468040912u},
        {1248867939631007344u, 15967645574289589238u}}},
      {"mono", 1, 16, [](TessilManager*) {},
       {{1700868123980778467u, 7142433463841058415u},
        {6371751592348488024u, 12169787225649119384u},
        {15009661351120299774u, 14464025746396244650u}}},
      {"three channels, 24-bit, equalised and driven", 3, 24,
       [](TessilManager* m) {
         EXPECT_EQ(m->SetEqBandGain(0, 1, 0.3f), STATUS_SUCCESS);
         EXPECT_EQ(m->SetEqBandGain(1, 3, 6.0f), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT>(1.0f), STATUS_SUCCESS);
         EXPECT_EQ(m->Set<KSPROPERTY_TESSIL_HIGHPASS_ORDER>(5), STATUS_SUCCESS);
       },
       {{1119399402199477890u, 11632713921581584337u},
        {826710891712581274u, 5601717033638333274u},
        {13403907214613972361u, 4594038178319510773u}}},
  };
  return cases;
}

TEST(GoldenOutput, EveryRateBufferKindAndSettingKeepsItsHash) {
  for (const GoldenCase& golden : GoldenCases()) {
    for (int r = 0; r < 3; ++r) {
      for (int b = 0; b < 2; ++b) {
        EXPECT_EQ(RenderHash(golden, kRates[r], kBuffers[b]), golden.expected[r][b])
            << golden.name << " at " << kRates[r] << " Hz in " << kBuffers[b] << "-frame buffers";
      }
    }
  }
}

}  // namespace
}  // namespace tessil

namespace tessil {
namespace {

// Plain stereo host buffers take a faster reading path than other layouts: with a third channel
// alongside, channels 0 and 1 must come out bit for bit the same, bad host samples included
// (NaN, infinities, values past the format's range, negative zero) at every frame position.
TEST(GoldenOutput, StereoReadsLikeEveryOtherLayout) {
  const ULONG rate = 48000;
  const int32_t frames = 4800;
  std::vector<float> stereo = test_support::SynthesizeProgramme(static_cast<int32_t>(rate), frames);
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 40000.0f, -40000.0f, -0.0f,
                            32767.0f, -32768.0f};
  for (size_t i = 0; i < stereo.size(); ++i) {
    stereo[i] *= 32767.0f;
    if (i % 37 == 5) stereo[i] = specials[(i / 37) % 8];
  }
  std::vector<float> wide(static_cast<size_t>(frames) * 3);
  for (int32_t i = 0; i < frames; ++i) {
    wide[3 * i] = stereo[2 * i];
    wide[3 * i + 1] = stereo[2 * i + 1];
    wide[3 * i + 2] = 0.25f;
  }
  for (uint32_t buffer : {480u, 441u, 7u}) {
    std::unique_ptr<ITessilManager, ManagerDeleter> manager(CreateTessilManager());
    std::unique_ptr<IStreamProcessor, ProcessorDeleter> two(manager->CreateProcessor());
    std::unique_ptr<IStreamProcessor, ProcessorDeleter> three(manager->CreateProcessor());
    ASSERT_EQ(two->Init(rate, 16, 2, 0), STATUS_SUCCESS);
    ASSERT_EQ(three->Init(rate, 16, 3, 0), STATUS_SUCCESS);
    const std::vector<float> out2 = test_support::RunStream(two.get(), stereo, 2, buffer);
    const std::vector<float> out3 = test_support::RunStream(three.get(), wide, 3, buffer);
    size_t mismatches = 0;
    for (int32_t i = 0; i < frames; ++i) {
      for (int32_t c = 0; c < 2; ++c) {
        mismatches += std::memcmp(&out2[2 * i + c], &out3[3 * i + c], sizeof(float)) != 0;
      }
    }
    EXPECT_EQ(mismatches, 0u) << "in " << buffer << "-frame buffers";
  }
}

}  // namespace
}  // namespace tessil

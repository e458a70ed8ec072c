// Process as any host may call it: any format Init accepts or refuses, buffers of any length
// holding any values, in place or not, settings changed between buffers through the manager's
// typed operations, and Init again mid-stream. Besides the sanitizers' findings, it stops at any
// processed sample that comes back as no number or beyond the full scale of the stream's depth,
// and at any change to a channel the processor must leave alone.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "tessil/tessil.h"

namespace {

using tessil::fuzz::FuzzInput;

constexpr ULONG kRates[] = {32000, 44100, 48000, 8000, 96000, 37566, 46009};

struct Format {
  ULONG rate = 0;
  USHORT bits = 0;
  USHORT channels = 0;
  bool ready = false;
};

Format Initialise(IStreamProcessor* processor, FuzzInput& input) {
  Format format;
  const uint32_t pick = input.Choose(8);
  format.rate = pick < 7 ? kRates[pick] : input.Read<uint32_t>();
  format.bits = static_cast<USHORT>(input.Choose(40));
  format.channels = static_cast<USHORT>(input.Choose(9));
  format.ready = NT_SUCCESS(processor->Init(format.rate, format.bits, format.channels, 0));
  return format;
}

void Fail(const char* what, float value) {
  std::fprintf(stderr, "%s: %g\n", what, static_cast<double>(value));
  std::abort();
}

void RunBuffer(IStreamProcessor* processor, const Format& format, FuzzInput& input) {
  const uint32_t frames = input.Choose(1200);
  const size_t samples = size_t{frames} * format.channels;
  const bool inPlace = input.Read<uint8_t>() % 2 == 0;
  std::vector<float> in(samples), out(samples);
  // Raw bytes, so that NaN, infinities and values far beyond full scale all turn up.
  input.ReadBytes(in.data(), samples * sizeof(float));
  const std::vector<float> before = inPlace ? in : out;
  float* destination = inPlace ? in.data() : out.data();
  processor->Process(in.data(), frames, destination, 0);
  if (!format.ready || format.bits < 1 || format.bits > 32) return;
  const float fullScale = static_cast<float>(TessilOutputScale(format.bits));
  for (size_t i = 0; i < samples; ++i) {
    const size_t channel = i % format.channels;
    if (channel < 2) {
      if (!(std::fabs(destination[i]) <= fullScale)) Fail("processed sample out of range", destination[i]);
    } else if (std::memcmp(&destination[i], &before[i], sizeof(float)) != 0) {
      Fail("an unprocessed channel changed", destination[i]);
    }
  }
}

void ChangeSetting(ITessilManager* manager, FuzzInput& input) {
  const ULONG channel = input.Choose(3);
  const ULONG band = input.Choose(5);
  switch (input.Choose(6)) {
    case 0: manager->SetEnable(input.Read<uint8_t>()); break;
    case 1: manager->SetEqEnable(channel, input.Read<uint8_t>()); break;
    case 2: manager->SetEqBandEnable(channel, band, input.Read<uint8_t>()); break;
    case 3: manager->SetEqBandGain(channel, band, input.Read<float>()); break;
    case 4: manager->SetEqBandFrequency(channel, band, input.Read<uint32_t>()); break;
    default: manager->SetEqBandQ(channel, band, input.Read<float>()); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  ITessilManager* manager = CreateTessilManager();
  IStreamProcessor* processor = manager->CreateProcessor();
  Format format = Initialise(processor, input);
  for (int step = 0; step < 24 && !input.Empty(); ++step) {
    switch (input.Choose(8)) {
      case 0: format = Initialise(processor, input); break;
      case 1:
      case 2: ChangeSetting(manager, input); break;
      default: RunBuffer(processor, format, input); break;
    }
  }
  processor->Release();
  manager->Release();
  return 0;
}

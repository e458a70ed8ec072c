// Property requests as the kernel-streaming layer hands them to the manager: any set, id and
// request type, extra fields and value bytes, input and value buffers of any length (each exactly
// as long as it says, so the sanitizer sees any read past it), interleaved with buffers through a
// live processor, so that every setting a request can make reaches a stream. Besides the
// sanitizers' findings, it stops at any processed sample that is no number or beyond full scale.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "tessil/tessil.h"

namespace {

using tessil::fuzz::FuzzInput;

constexpr ULONG kRequestTypes[] = {KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_SET, KSPROPERTY_TYPE_BASICSUPPORT,
                                   KSPROPERTY_TYPE_SETSUPPORT, KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET};

void SendRequest(ITessilManager* manager, FuzzInput& input) {
  // Mostly well-formed headers, so the fuzzer spends its time past the set and item lookup.
  const bool raw = input.Read<uint8_t>() % 8 == 0;
  std::vector<uint8_t> property(raw ? input.Choose(64) : sizeof(KSPROPERTY) + input.Choose(17));
  input.ReadBytes(property.data(), property.size());
  if (!raw) {
    KSPROPERTY header{KSPROPSETID_Tessil, input.Choose(kTessilPropertyCount + 2), 0};
    const uint32_t type = input.Choose(6);
    header.Flags = type < 5 ? kRequestTypes[type] : input.Read<uint32_t>();
    std::memcpy(property.data(), &header, sizeof(header));
  }
  std::vector<uint8_t> value(input.Choose(48));
  input.ReadBytes(value.data(), value.size());
  KSPROPERTY_REQUEST_PACKET packet;
  const PIRP request = BuildPropertyRequest(&packet, property.empty() ? nullptr : property.data(),
                                            static_cast<ULONG>(property.size()),
                                            value.empty() ? nullptr : value.data(), static_cast<ULONG>(value.size()));
  manager->HandlePropertyRequest(request);
}

void RunBuffer(IStreamProcessor* processor) {
  constexpr ULONG kFrames = 480;
  std::vector<float> buffer(kFrames * 2);
  for (size_t i = 0; i < buffer.size(); ++i) {
    buffer[i] = 30000.0f * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
  }
  processor->Process(buffer.data(), kFrames, buffer.data(), 0);
  const float fullScale = static_cast<float>(TessilOutputScale(16));
  for (const float sample : buffer) {
    if (!(std::fabs(sample) <= fullScale)) {
      std::fprintf(stderr, "processed sample out of range: %g\n", static_cast<double>(sample));
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  ITessilManager* manager = CreateTessilManager();
  IStreamProcessor* processor = manager->CreateProcessor();
  processor->Init(48000, 16, 2, 0);
  for (int step = 0; step < 32 && !input.Empty(); ++step) {
    SendRequest(manager, input);
    if (input.Read<uint8_t>() % 4 == 0) RunBuffer(processor);
  }
  RunBuffer(processor);
  processor->Release();
  manager->Release();
  return 0;
}

// A loudness core driven from a test with nothing but its own records and a zero-filled region.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/core.h"
#include "core/core_process_block.h"

namespace tessil::coretest {

enum class CoreRate { k32000, k44100, k48000 };

struct CoreRig {
  LoudnessCore core{};
  std::unique_ptr<CoreRegion> region = std::make_unique<CoreRegion>();  // value-initialised: zero
  std::vector<float> scratch = std::vector<float>(kCoreScratchFloats, 0.0f);

  CoreRig() { CoreInitUnbound(&core); }

  void Prepare(CoreRate rate) {
    switch (rate) {
      case CoreRate::k32000: CorePrepare32000(&core, region.get()); break;
      case CoreRate::k44100: CorePrepare44100(&core, region.get()); break;
      case CoreRate::k48000: CorePrepare48000(&core, region.get()); break;
    }
  }
  CoreChannelState& Left() { return region->stateLeft; }
  CoreChannelState& Right() { return region->stateRight; }
  float* Envelope() { return scratch.data() + kCoreScratchEnvelope; }

  // Runs one block; left/right are delayed in place, gains written to the two outputs.
  void Process(std::vector<float>& left, std::vector<float>& right, std::vector<float>& gainsLeft,
               std::vector<float>& gainsRight) {
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {gainsLeft.data(), gainsRight.data()};
    CoreProcessBlock(&core, inputs, outputs, scratch.data(),
                     static_cast<int32_t>(left.size()));
  }
};

std::vector<float> ReadFloats(const char* name);

}  // namespace tessil::coretest

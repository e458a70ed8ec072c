// A minimal host: one manager and its processors, reached through the public interfaces, with
// the manager's typed operations at hand for settings that only the property set reaches.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "module/manager.h"
#include "tessil/tessil.h"

namespace tessil::test_support {

struct ManagerDeleter {
  void operator()(ITessilManager* manager) const { manager->Release(); }
};
struct ProcessorDeleter {
  void operator()(IStreamProcessor* processor) const { processor->Release(); }
};

inline TessilManager* Typed(ITessilManager* manager) {
  return static_cast<TessilManager*>(manager);
}
inline StreamProcessor* Typed(IStreamProcessor* processor) {
  return static_cast<StreamProcessor*>(processor);
}

// Runs interleaved host samples through a processor in buffers of `bufferFrames` frames (the
// last one may be shorter) and returns what Process wrote.
inline std::vector<float> RunStream(IStreamProcessor* processor, const std::vector<float>& input,
                                    uint32_t channels, uint32_t bufferFrames) {
  std::vector<float> output(input.size(), 0.0f);
  const size_t frames = input.size() / channels;
  for (size_t start = 0; start < frames; start += bufferFrames) {
    const size_t count = std::min<size_t>(bufferFrames, frames - start);
    processor->Process(input.data() + start * channels, static_cast<ULONG>(count),
                       output.data() + start * channels, 0);
  }
  return output;
}

}  // namespace tessil::test_support

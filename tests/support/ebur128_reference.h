// libebur128 run on the same samples: the reference every meter of ours is held to.
#pragma once

#include <cstddef>
#include <vector>

namespace tessil::test_support {

struct Ebur128Figures {
  double integratedLufs = 0.0;
  double rangeLu = 0.0;
  double shortTermLufs = 0.0;  // of the last 3 s
  double truePeakDb = 0.0;     // the highest of any channel, dBTP
  double samplePeakDb = 0.0;   // dBFS
  // After each whole hop of `hopFrames`, when one is given.
  std::vector<double> momentaryPerHop;
  std::vector<double> shortTermPerHop;
};

// `frames` interleaved frames of `channels` channels at full scale 1.0, in libebur128's default
// channel map (the first channel dual mono when asked).
Ebur128Figures Ebur128Measure(const float* interleaved, size_t frames, int channels, int rate, size_t hopFrames = 0,
                              bool firstChannelDualMono = false);

}  // namespace tessil::test_support

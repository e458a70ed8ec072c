// The demo clip: about twenty seconds of synthesised stereo programme with quiet and loud
// passages, computed from fixed formulas and a fixed noise seed, so every run writes the same
// file.
#pragma once

#include <vector>

namespace tessil::cli {

inline constexpr int kDemoSampleRate = 44100;
inline constexpr double kDemoSeconds = 20.0;

// Interleaved stereo at nominal full scale ±1.0, peaking at -0.5 dBFS.
std::vector<float> SynthesiseDemoProgramme(int sampleRate, double seconds);

}  // namespace tessil::cli

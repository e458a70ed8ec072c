// Deterministic test material shared by the suites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessil::test_support {

// Programme-like stereo material at full scale ±1.0, interleaved left/right: quiet and loud
// sines, noise bursts with sharp onsets, one-channel passages and digital silence.
std::vector<float> SynthesizeProgramme(int32_t sampleRate, int32_t frames, uint32_t seed = 1);

// Splits interleaved stereo into two channel vectors.
void Deinterleave(const std::vector<float>& interleaved, std::vector<float>& left,
                  std::vector<float>& right);

// Reads a raw little-endian float32 file from the test data folder.
std::vector<float> ReadFloatFile(const std::string& name);

bool AllFinite(const float* values, size_t count);

}  // namespace tessil::test_support

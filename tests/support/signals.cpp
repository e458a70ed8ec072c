#include "support/signals.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tessil::test_support {

std::vector<float> SynthesizeProgramme(int32_t sampleRate, int32_t frames, uint32_t seed) {
  std::vector<float> out(static_cast<size_t>(frames) * 2);
  uint32_t state = seed * 2654435761u + 12345u;
  auto noise = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f;
  };
  const int32_t section = sampleRate / 4;  // quarter-second passages
  for (int32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    float left = 0.0f, right = 0.0f;
    switch ((i / section) % 7) {
      case 0:  // quiet sines
        left = static_cast<float>(0.02 * std::sin(2 * M_PI * 440 * t));
        right = static_cast<float>(0.015 * std::sin(2 * M_PI * 660 * t));
        break;
      case 1: {  // loud noise bursts with sharp onsets
        const float envelope = (i % 2400) < 600 ? 0.9f : 0.05f;
        left = envelope * noise();
        right = envelope * noise();
        break;
      }
      case 2:  // left only
        left = static_cast<float>(0.5 * std::sin(2 * M_PI * 1000 * t));
        break;
      case 3:  // right only, louder
        right = static_cast<float>(0.8 * std::sin(2 * M_PI * 250 * t));
        break;
      case 4:  // silence
        break;
      case 5:  // near full scale high tone
        left = right = static_cast<float>(0.97 * std::sin(2 * M_PI * 3000 * t));
        break;
      default:  // mixed programme
        left = static_cast<float>(0.3 * std::sin(2 * M_PI * 110 * t)) + 0.1f * noise();
        right = static_cast<float>(0.3 * std::sin(2 * M_PI * 165 * t)) + 0.1f * noise();
        break;
    }
    out[2 * i] = left;
    out[2 * i + 1] = right;
  }
  return out;
}

void Deinterleave(const std::vector<float>& interleaved, std::vector<float>& left,
                  std::vector<float>& right) {
  const size_t frames = interleaved.size() / 2;
  left.resize(frames);
  right.resize(frames);
  for (size_t i = 0; i < frames; ++i) {
    left[i] = interleaved[2 * i];
    right[i] = interleaved[2 * i + 1];
  }
}

std::vector<float> ReadFloatFile(const std::string& name) {
  const std::string path = std::string(TESSIL_TEST_DATA_DIR) + "/" + name;
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

bool AllFinite(const float* values, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) return false;
  }
  return true;
}

}  // namespace tessil::test_support

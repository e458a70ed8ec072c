// Runs every equaliser design reachable through the property set (gains in whole decibels from
// -20 to 20, centres from 20 to 20000 Hz, quality factors in hundredths from 0.25 to 16, at the
// three design rates) over the C library and over the kernel math layer, and counts designs
// whose float coefficients differ. The gain does not reach tan or cos, so a centre and quality
// factor whose math results agree in every call give the same floats at every gain; only the
// others are designed at all 41 gains.
//   compare_equaliser_designs [rate ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "filters/equaliser.h"
#include "kernel/math_switch.h"
#include "module/units.h"

using namespace tessil;
using namespace tessil::kernel_test;

int main(int argc, char** argv) {
  std::vector<int32_t> rates;
  for (int i = 1; i < argc; ++i) rates.push_back(std::atoi(argv[i]));
  if (rates.empty()) rates = {32000, 44100, 48000};
  const auto start = std::chrono::steady_clock::now();
  uint64_t settings = 0, disagreeing = 0, designs = 0, differing = 0;
  float cLibrary[7], kernel[7];
  float gains[41];
  UseMath(MathLibrary::kCLibrary);
  for (LONG decibels = -20; decibels <= 20; ++decibels) gains[decibels + 20] = LinearFromDecibels(decibels);
  auto design = [&](const EqualiserBand& band, int32_t rate, MathLibrary library, float* out) {
    UseMath(library);
    DesignPeakingBand(&band, rate, out);
  };
  for (const int32_t rate : rates) {
    for (uint32_t frequency = 20; frequency <= 20000; ++frequency) {
      for (LONG hundredths = 25; hundredths <= 1600; ++hundredths) {
        EqualiserBand band{1, 1.0f, frequency, FromHundredths(hundredths)};
        ++settings;
        ResetMathDisagreements();
        design(band, rate, MathLibrary::kKernel, kernel);
        if (MathDisagreements() == 0) continue;
        ++disagreeing;
        for (LONG decibels = -20; decibels <= 20; ++decibels) {
          band.gain = gains[decibels + 20];
          design(band, rate, MathLibrary::kCLibrary, cLibrary);
          design(band, rate, MathLibrary::kKernel, kernel);
          ++designs;
          if (std::memcmp(cLibrary, kernel, sizeof kernel) != 0) {
            ++differing;
            std::printf("differs: %d dB, %u Hz, q %.2f, rate %d\n", static_cast<int>(decibels),
                        frequency, static_cast<double>(band.q), rate);
          }
        }
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("centre/quality/rate settings: %llu (x41 gains = %llu designs)\n",
              static_cast<unsigned long long>(settings),
              static_cast<unsigned long long>(settings * 41));
  std::printf("settings where tan or cos differ from the C library: %llu\n",
              static_cast<unsigned long long>(disagreeing));
  std::printf("designs compared at every gain: %llu, with different float coefficients: %llu\n",
              static_cast<unsigned long long>(designs), static_cast<unsigned long long>(differing));
  std::printf("%.0f s\n", seconds);
  return differing == 0 ? 0 : 1;
}

#include "host/rates.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "tessil/tessil.h"

namespace tessil::host {

namespace {

bool SameFamily(uint32_t rate, uint32_t native) {
  return rate % native == 0 || native % rate == 0;
}

}  // namespace

bool IsNativeRate(uint32_t rate) {
  for (const ULONG native : kTessilRateSets) {
    if (rate == native) return true;
  }
  return false;
}

uint32_t NativeRateFor(uint32_t rate) {
  if (rate == 0 || IsNativeRate(rate)) return rate;
  // The 44.1 kHz family first: 44100 and 48000 share divisors (300, 900, ...) that no real
  // stream uses, while 11025 Hz and its multiples only belong here.
  for (const ULONG native : {kTessilRateSets[1], kTessilRateSets[2], kTessilRateSets[0]}) {
    if (SameFamily(rate, native)) return native;
  }
  uint32_t nearest = kTessilRateSets[0];
  double distance = HUGE_VAL;
  for (const ULONG native : kTessilRateSets) {
    const double d = std::fabs(std::log(static_cast<double>(rate) / native));
    if (d < distance) {
      distance = d;
      nearest = native;
    }
  }
  return nearest;
}

uint32_t SupportedStreamRate(double rate) {
  // Written so that a NaN fails every comparison and lands on the refusal.
  if (!(rate >= kLowestStreamRate && rate <= kHighestStreamRate) || rate != std::floor(rate)) return 0;
  return static_cast<uint32_t>(rate);
}

std::string StreamRateProblem(double rate) {
  if (SupportedStreamRate(rate) != 0) return {};
  const std::string bounds =
      std::to_string(kLowestStreamRate) + " to " + std::to_string(kHighestStreamRate) + " Hz";
  if (std::isnan(rate)) return "a sample rate must be a number of hertz from " + bounds;
  char shown[64];
  std::snprintf(shown, sizeof(shown), "%.17g Hz", rate);
  if (rate < kLowestStreamRate) {
    return std::string("a sample rate of ") + shown + " is too low to resample soundly: streams run at " + bounds;
  }
  if (rate > kHighestStreamRate) return std::string("a sample rate of ") + shown + " is too high: streams run at " + bounds;
  return std::string("a sample rate of ") + shown + " is not a whole number of hertz";
}

}  // namespace tessil::host

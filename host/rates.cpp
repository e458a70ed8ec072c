#include "host/rates.h"

#include <cmath>
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
  for (const uint32_t native : {44100u, 48000u, 32000u}) {
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

}  // namespace tessil::host

#include "filters/equaliser.h"

#include <math.h>

#include "filters/section_stability.h"
#include "filters/setting_store.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr SettingFacts kEnabled = Setting(KSPROPERTY_TESSIL_EQ_BAND_ENABLE);
constexpr SettingFacts kGain = Setting(KSPROPERTY_TESSIL_EQ_BAND_GAIN);
constexpr SettingFacts kFrequency = Setting(KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY);
constexpr SettingFacts kQ = Setting(KSPROPERTY_TESSIL_EQ_BAND_Q);
constexpr int32_t kDefaultEnabled = static_cast<int32_t>(kEnabled.initial);
constexpr uint32_t kMinimumFrequency = static_cast<uint32_t>(kFrequency.range.minimum);
constexpr uint32_t kMaximumFrequency = static_cast<uint32_t>(kFrequency.range.maximum);
constexpr uint32_t kDefaultFrequency = static_cast<uint32_t>(kFrequency.initial);
static_assert(kGain.clamped && kFrequency.clamped && kQ.clamped, "band values are clamped");
constexpr int32_t kResetSampleRate = 44100;

// The bandwidth term tan(w0 / (3 q)) turns negative past a right angle, which puts a pole outside
// the unit circle, and grows without bound just below it, which rounds the pole onto the circle.
// Low q at a high centre frequency (q 0.25 from about a fifth of the rate) reaches that region, so
// the angle is held at 95 % of a right angle: the widest band then keeps (k - t) / (k + t) at
// least 0.015 away from -1. Every q from 0.702 up never gets there at any centre below half the
// rate and keeps the plain formula bit for bit.
constexpr double kMaximumBandwidthAngle = 0.95 * (kPi / 2.0);

bool IsBound(const EqualiserBlock* block) { return block->binding != nullptr; }
bool IsValidIndex(const EqualiserBlock* block, uint32_t index) { return index < block->bandCount; }

}  // namespace

void DesignPeakingBand(const EqualiserBand* band, int32_t sampleRate, float* coefficients) {
  const uint32_t rate = static_cast<uint32_t>(sampleRate);
  coefficients[0] = band->frequency < (rate >> 1) ? 2.0f : 0.0f;
  const double g = band->gain;
  const double k = g <= 1.0 ? g : 1.0;  // a cut moves the bandwidth term into the denominator
  const double w0 = 2.0 * kPi * static_cast<double>(band->frequency) / static_cast<double>(rate);
  double angle = w0 * (1.0 / (3.0 * static_cast<double>(band->q)));
  if (angle > kMaximumBandwidthAngle) angle = kMaximumBandwidthAngle;
  const double t = tan(angle);
  const double m = 1.0 / (k + t);
  float* section = coefficients + 2;
  section[0] = static_cast<float>(m * (k + g * t));
  section[1] = static_cast<float>(2.0 * m * k * cos(w0));
  section[2] = static_cast<float>(-2.0 * m * k * cos(w0));
  section[3] = static_cast<float>(m * (t - k));
  section[4] = static_cast<float>(m * (k - g * t));
  // A centre a few hertz below half the rate puts a pole within rounding of z = -1. b1 follows
  // -a1 so the numerator keeps its shape; only sections that rounding left unstable change.
  section[1] = StrictlyStableNegatedA1(section[1], section[3]);
  section[2] = -section[1];
}

void EqualiserInit(EqualiserBlock* block, EqualiserBand* bands) {
  block->binding = nullptr;
  block->area = nullptr;
  block->bands = bands;
  EqualiserReset(block);
}

void EqualiserReset(EqualiserBlock* block) {
  StoreRelaxed(block->enabled, 1);
  EqualiserSetSampleRate(block, kResetSampleRate);
  EqualiserSetBandCount(block, 0);
}

int32_t EqualiserSetEnabled(EqualiserBlock* block, int32_t enabled) {
  return StoreSwitch(block->enabled, enabled);
}

int32_t EqualiserGetEnabled(const EqualiserBlock* block) { return LoadRelaxed(block->enabled); }

int32_t EqualiserSetSampleRate(EqualiserBlock* block, int32_t sampleRate) {
  if (sampleRate < 0 || sampleRate / 2 <= 20) return kResultOutOfRange;
  block->sampleRate = sampleRate;
  EqualiserRedesignAll(block);
  return kResultSuccess;
}

int32_t EqualiserSetBandEnabled(EqualiserBlock* block, uint32_t index, int32_t enabled) {
  if (!IsValidIndex(block, index)) return kResultBadIndex;
  if (!IsSwitch(enabled)) return kResultBadSwitch;
  EqualiserBand* band = &block->bands[index];
  if (LoadRelaxed(band->enabled) != enabled) {
    StoreRelaxed(band->enabled, enabled);
    EqualiserUpdateBand(block, index);
  }
  return kResultSuccess;
}

int32_t EqualiserSetBandGain(EqualiserBlock* block, uint32_t index, float gain) {
  if (!IsValidIndex(block, index)) return kResultBadIndex;
  if (isnan(gain)) return kResultOutOfRange;  // a NaN would survive the clamp and poison the band
  if (gain < kGain.range.minimum) gain = kGain.range.minimum;
  if (gain > kGain.range.maximum) gain = kGain.range.maximum;
  EqualiserBand* band = &block->bands[index];
  if (band->gain != gain) {
    band->gain = gain;
    EqualiserUpdateBand(block, index);
  }
  return kResultSuccess;
}

int32_t EqualiserSetBandFrequency(EqualiserBlock* block, uint32_t index, uint32_t hertz) {
  if (!IsValidIndex(block, index)) return kResultBadIndex;
  if (hertz < kMinimumFrequency) hertz = kMinimumFrequency;
  if (hertz > kMaximumFrequency) hertz = kMaximumFrequency;
  EqualiserBand* band = &block->bands[index];
  if (band->frequency != hertz) {
    band->frequency = hertz;
    EqualiserUpdateBand(block, index);
  }
  return kResultSuccess;
}

int32_t EqualiserSetBandQ(EqualiserBlock* block, uint32_t index, float q) {
  if (!IsValidIndex(block, index)) return kResultBadIndex;
  if (isnan(q)) return kResultOutOfRange;
  if (q < kQ.range.minimum) q = kQ.range.minimum;
  if (q > kQ.range.maximum) q = kQ.range.maximum;
  EqualiserBand* band = &block->bands[index];
  if (band->q != q) {
    band->q = q;
    EqualiserUpdateBand(block, index);
  }
  return kResultSuccess;
}

int32_t EqualiserGetBandEnabled(const EqualiserBlock* block, uint32_t index) {
  return IsValidIndex(block, index) ? LoadRelaxed(block->bands[index].enabled) : kDefaultEnabled;
}

float EqualiserGetBandGain(const EqualiserBlock* block, uint32_t index) {
  return IsValidIndex(block, index) ? block->bands[index].gain : kGain.initial;
}

uint32_t EqualiserGetBandFrequency(const EqualiserBlock* block, uint32_t index) {
  return IsValidIndex(block, index) ? block->bands[index].frequency : kDefaultFrequency;
}

float EqualiserGetBandQ(const EqualiserBlock* block, uint32_t index) {
  return IsValidIndex(block, index) ? block->bands[index].q : kQ.initial;
}

void EqualiserResetBand(EqualiserBlock* block, uint32_t index) {
  if (IsValidIndex(block, index) && LoadRelaxed(block->bands[index].enabled) != kDefaultEnabled) {
    StoreRelaxed(block->bands[index].enabled, kDefaultEnabled);
    EqualiserUpdateBand(block, index);
  }
  EqualiserSetBandGain(block, index, kGain.initial);
  EqualiserSetBandFrequency(block, index, kDefaultFrequency);
  EqualiserSetBandQ(block, index, kQ.initial);
}

int32_t EqualiserSetBandCount(EqualiserBlock* block, uint32_t count) {
  if (count > static_cast<uint32_t>(kEqualiserBands)) return kResultOutOfRange;
  const uint32_t previous = block->bandCount;
  block->bandCount = count;
  for (uint32_t index = previous; index < count; ++index) EqualiserResetBand(block, index);
  if (IsBound(block)) EqualiserBind(block, block->binding, block->area);
  return kResultSuccess;
}

void EqualiserUpdateBand(EqualiserBlock* block, uint32_t index) {
  if (!IsBound(block) || !IsValidIndex(block, index)) return;
  FilterStateBinding* binding = block->binding;
  DesignPeakingBand(&block->bands[index], block->sampleRate,
                    binding->coefficients + kEqualiserBandEntries * index);
  // Later bands were fed by this band's old output, so their state goes too.
  ZeroFill(binding->state + 2 * index, sizeof(float) * 2 * (block->bandCount - index));
}

void EqualiserRedesignAll(EqualiserBlock* block) {
  if (!IsBound(block)) return;
  for (uint32_t index = 0; index < block->bandCount; ++index) EqualiserUpdateBand(block, index);
}

void EqualiserBind(EqualiserBlock* block, FilterStateBinding* binding, float* area) {
  const uint32_t bands = block->bandCount;
  block->binding = binding;
  block->area = area;
  binding->coefficients = area;
  binding->state = area + kEqualiserBandEntries * bands;
  EqualiserRedesignAll(block);
  ZeroFill(binding->state, sizeof(float) * 2 * bands);
  // The ring entries are four-byte distances, so they share the area's four-byte slots.
  binding->ringStorage = reinterpret_cast<int32_t*>(area + 9 * bands);
  binding->ring.items = binding->ringStorage;
  binding->ring.cursor = 0;
  binding->ring.length = 0;
  AppendFlushRingRange(&binding->ring, binding->state, static_cast<int32_t>(2 * bands));
}

int32_t EqualiserCopyFrom(EqualiserBlock* destination, const EqualiserBlock* source) {
  EqualiserSetEnabled(destination, LoadRelaxed(source->enabled));
  EqualiserSetSampleRate(destination, source->sampleRate);
  EqualiserSetBandCount(destination, source->bandCount);
  for (uint32_t index = 0; index < source->bandCount && index < destination->bandCount; ++index) {
    const EqualiserBand& from = source->bands[index];
    EqualiserBand& to = destination->bands[index];
    StoreRelaxed(to.enabled, LoadRelaxed(from.enabled));
    to.gain = from.gain;
    to.frequency = from.frequency;
    to.q = from.q;
    EqualiserUpdateBand(destination, index);
  }
  return kResultSuccess;
}

void EqualiserProcess(EqualiserBlock* block, float* buffer, int32_t count) {
  FilterStateBinding* binding = block->binding;
  const uint32_t bands = block->bandCount;
  bool running[kEqualiserBands];
  // A band whose order slot says pass-through leaves the buffer alone and sweeps nothing; a
  // unity band with clean state leaves it alone too when the block allows, and only sweeps.
  // When every band that runs is such a unity band, one look at the block decides for all.
  bool allUnity = true;
  for (uint32_t index = 0; index < bands; ++index) {
    const float* set = binding->coefficients + kEqualiserBandEntries * index;
    const int32_t order = static_cast<int32_t>(set[0]);
    running[index] = LoadRelaxed(block->bands[index].enabled) != 0 && order != 0;
    if (running[index]) {
      allUnity = allUnity && CascadeSectionCount(order) == 1 &&
                 IsIdentitySectionTDF2(set + 2, binding->state + 2 * index);
    }
  }
  if (allUnity && PassesIdentityExactly(buffer, count)) {
    for (uint32_t index = 0; index < bands; ++index) {
      if (running[index]) SweepFlushRing(&binding->ring, 4);
    }
    return;
  }
  for (uint32_t index = 0; index < bands; ++index) {
    if (!running[index]) continue;
    RunCascadeTDF2(binding->coefficients + kEqualiserBandEntries * index,
                   binding->state + 2 * index, buffer, buffer, count, &binding->ring);
  }
}

}  // namespace tessil

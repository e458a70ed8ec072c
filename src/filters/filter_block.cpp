#include "filters/filter_block.h"

#include <math.h>

#include "filters/section_stability.h"
#include "filters/setting_store.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A reset block starts at these until the engine applies its defaults.
constexpr int32_t kHighPassResetFrequency = 14000;
constexpr int32_t kLowPassResetFrequency = 400;
constexpr int32_t kResetSampleRate = 44100;

// Places the -3 dB point (exactly 3 dB, not 3.01) at the cut-off: (10^0.3 - 1)^(1/(2N)). 10^0.3
// is formed as exp(0.3 ln 10), not pow(10, 0.3): the two can differ in the last bit, and that can
// reach the stored coefficients.
double CutoffScale(int32_t order) {
  return pow(exp(0.6907755278982138) - 1.0, 1.0 / (2.0 * order));
}

// Angle of the pole pair of second-order section j; the pairs start nearest the imaginary axis.
double PoleAngle(int32_t order, int32_t section) {
  const int32_t m = order + 1 + 2 * section;
  return m * kPi / (2.0 * order);
}

void StoreSection(float* coefficients, int32_t section, double b0, double b1, double b2,
                  double na1, double na2) {
  SectionCoefficients* record = CascadeSection(coefficients, section);
  record->coefficients[0] = static_cast<float>(b0);
  record->coefficients[1] = static_cast<float>(b1);
  record->coefficients[2] = static_cast<float>(b2);
  record->coefficients[4] = static_cast<float>(na2);
  // Cut-offs a few hertz below half the rate put poles within rounding of z = -1 (the low-pass
  // there is also what 20000 Hz becomes at 32000 Hz); keep the stored section strictly stable.
  record->coefficients[3] =
      StrictlyStableNegatedA1(static_cast<float>(na1), record->coefficients[4]);
}

// Sections per order, as the block lays out its area (integer division, not the runner's form,
// so that the layout never depends on the order being positive).
int32_t AreaSectionCount(int32_t order) {
  return static_cast<int32_t>((static_cast<uint32_t>(order) + 1u) >> 1);
}

bool IsBound(const FilterBlock* block) { return block->binding != nullptr; }

}  // namespace

void DesignButterworthHighPass(int32_t frequency, int32_t sampleRate, int32_t order,
                               float* coefficients) {
  if (frequency >= sampleRate / 2) order = 0;  // nothing left to remove: pass through
  coefficients[0] = static_cast<float>(order);
  if (order == 0) return;

  const double w = tan(kPi * frequency / sampleRate) * CutoffScale(order);
  int32_t section = 0;
  if (order & 1) {
    StoreSection(coefficients, section++, 1.0 / (1.0 + w), -1.0 / (1.0 + w), 0.0,
                 (1.0 - w) / (1.0 + w), 0.0);
  }
  for (int32_t j = 0; j < order / 2; ++j) {
    const double cosTheta = cos(PoleAngle(order, j));
    const double d = 4.0 * (1.0 - 2.0 * cosTheta * w + w * w);
    StoreSection(coefficients, section++, 4.0 / d, -8.0 / d, 4.0 / d, 8.0 * (1.0 - w * w) / d,
                 -4.0 * (1.0 + 2.0 * cosTheta * w + w * w) / d);
  }
}

void DesignButterworthLowPass(int32_t frequency, int32_t sampleRate, int32_t order,
                              float* coefficients) {
  // Designed just below half the rate rather than switched off, so the block still rolls off.
  if (frequency >= sampleRate / 2) frequency = sampleRate / 2 - 1;
  coefficients[0] = static_cast<float>(order);
  if (order == 0) return;

  const double k = CutoffScale(order);
  const double w = tan(kPi * frequency / sampleRate);
  int32_t section = 0;
  if (order & 1) {
    StoreSection(coefficients, section++, w / (w + k), w / (w + k), 0.0, (k - w) / (k + w), 0.0);
  }
  for (int32_t j = 0; j < order / 2; ++j) {
    const double cosTheta = cos(PoleAngle(order, j));
    const double d = 4.0 * k * k - 8.0 * cosTheta * w * k + 4.0 * w * w;
    StoreSection(coefficients, section++, 4.0 * w * w / d, 8.0 * w * w / d, 4.0 * w * w / d,
                 8.0 * (k * k - w * w) / d,
                 -(4.0 * k * k + 8.0 * cosTheta * k * w + 4.0 * w * w) / d);
  }
}

void FilterInit(FilterBlock* block, FilterKind kind) {
  block->binding = nullptr;
  block->area = nullptr;
  block->kind = kind;
  FilterReset(block);
}

void FilterReset(FilterBlock* block) {
  const bool highPass = block->kind == FilterKind::HighPass;
  // The switch and the order start where the properties do.
  const SettingFacts& enabled =
      Setting(highPass ? KSPROPERTY_TESSIL_HIGHPASS_ENABLE : KSPROPERTY_TESSIL_LOWPASS_ENABLE);
  const SettingFacts& order =
      Setting(highPass ? KSPROPERTY_TESSIL_HIGHPASS_ORDER : KSPROPERTY_TESSIL_LOWPASS_ORDER);
  StoreRelaxed(block->enabled, static_cast<int32_t>(enabled.initial));
  FilterRedesign(block);
  FilterSetSampleRate(block, kResetSampleRate);
  FilterSetFrequency(block, highPass ? kHighPassResetFrequency : kLowPassResetFrequency);
  FilterSetOrder(block, static_cast<int32_t>(order.initial));
}

int32_t FilterSetEnabled(FilterBlock* block, int32_t enabled) {
  const int32_t result = StoreSwitch(block->enabled, enabled);
  if (result == kResultSuccess) FilterRedesign(block);
  return result;
}

int32_t FilterSetSampleRate(FilterBlock* block, int32_t sampleRate) {
  if (sampleRate < 0 || sampleRate / 2 <= 20) return kResultOutOfRange;
  block->sampleRate = sampleRate;
  FilterRedesign(block);
  return kResultSuccess;
}

int32_t FilterSetFrequency(FilterBlock* block, int32_t frequency) {
  // Compared unsigned, so every negative value is refused as well.
  const uint32_t hertz = static_cast<uint32_t>(frequency);
  if (hertz < static_cast<uint32_t>(kFilterFrequencies.minimum) ||
      hertz > static_cast<uint32_t>(kFilterFrequencies.maximum)) {
    return kResultOutOfRange;
  }
  block->frequency = frequency;
  FilterRedesign(block);
  return kResultSuccess;
}

int32_t FilterSetOrder(FilterBlock* block, int32_t order) {
  if (order < static_cast<int32_t>(kFilterOrders.minimum) ||
      order > static_cast<int32_t>(kFilterOrders.maximum)) {
    return kResultOutOfRange;
  }
  block->order = order;
  if (IsBound(block)) FilterBind(block, block->binding, block->area);
  return kResultSuccess;
}

int32_t FilterGetEnabled(const FilterBlock* block) { return LoadRelaxed(block->enabled); }
int32_t FilterGetFrequency(const FilterBlock* block) { return block->frequency; }
int32_t FilterGetOrder(const FilterBlock* block) { return block->order; }

void FilterBind(FilterBlock* block, FilterStateBinding* binding, float* area) {
  block->binding = binding;
  block->area = area;
  const int32_t sections = AreaSectionCount(block->order);
  const int32_t stateFloats = 4 * sections;
  binding->coefficients = area;
  binding->state = area + kCascadeSectionStride * sections + 1;
  FilterRedesign(block);
  ZeroFill(binding->state, sizeof(float) * static_cast<size_t>(stateFloats));
  // The ring entries are four-byte distances, so they share the area's four-byte slots.
  binding->ringStorage = reinterpret_cast<int32_t*>(binding->state + stateFloats);
  binding->ring.items = binding->ringStorage;
  binding->ring.cursor = 0;
  binding->ring.length = 0;
  AppendFlushRingRange(&binding->ring, binding->state, stateFloats);
}

void FilterRedesign(FilterBlock* block) {
  if (!IsBound(block)) return;
  const int32_t order = LoadRelaxed(block->enabled) ? block->order : 0;
  if (block->kind == FilterKind::HighPass) {
    DesignButterworthHighPass(block->frequency, block->sampleRate, order,
                              block->binding->coefficients);
  } else {
    DesignButterworthLowPass(block->frequency, block->sampleRate, order,
                             block->binding->coefficients);
  }
}

int32_t FilterCopyFrom(FilterBlock* destination, const FilterBlock* source) {
  FilterSetEnabled(destination, LoadRelaxed(source->enabled));
  FilterSetSampleRate(destination, source->sampleRate);
  FilterSetFrequency(destination, source->frequency);
  FilterSetOrder(destination, source->order);
  return kResultSuccess;
}

void FilterProcess(FilterBlock* block, const float* input, float* output, int32_t count) {
  FilterStateBinding* binding = block->binding;
  RunCascadeDF1(binding->coefficients, binding->state, input, output, count, &binding->ring);
}

void FilterProcessPair(FilterBlock* left, FilterBlock* right, float* leftBuffer,
                       float* rightBuffer, int32_t count) {
  FilterStateBinding* l = left->binding;
  FilterStateBinding* r = right->binding;
  RunCascadeDF1Pair(l->coefficients, l->state, &l->ring, leftBuffer, r->coefficients, r->state,
                    &r->ring, rightBuffer, count);
}

void FilterProcessTwoPairs(FilterBlock* firstLeft, FilterBlock* firstRight,
                           FilterBlock* secondLeft, FilterBlock* secondRight, float* leftBuffer,
                           float* rightBuffer, int32_t count) {
  const auto run = [](FilterBlock* block) {
    FilterStateBinding* binding = block->binding;
    return CascadeRun{binding->coefficients, binding->state, &binding->ring};
  };
  const CascadeRun stages[2][2] = {{run(firstLeft), run(firstRight)},
                                   {run(secondLeft), run(secondRight)}};
  if (RunTwoStagesDF1Pair(stages, leftBuffer, rightBuffer, count)) return;
  FilterProcessPair(firstLeft, firstRight, leftBuffer, rightBuffer, count);
  FilterProcessPair(secondLeft, secondRight, leftBuffer, rightBuffer, count);
}

}  // namespace tessil

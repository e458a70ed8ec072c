// Butterworth high-pass and low-pass blocks: one channel each, run as a direct-form-I cascade.
//
// A block keeps its settings at all times but designs coefficients only while bound to its area
// of the engine state block. The area holds, for S = (order + 1) / 2 sections:
//   [0, 6S + 1)          CascadeCoefficients (order slot, then one section record per section)
//   [6S + 1, 10S + 1)    direct-form-I state, four floats per section
//   [10S + 1, 14S + 1)   flush-ring entries (four-byte distances to the state floats), one per
//                        state float
// The largest order (kFilterOrders) needs exactly kFilterAreaEntries four-byte entries.
//
// Changing enabled, the rate or the frequency redesigns and keeps the state (the filter carries
// on without a click); changing the order lays the area out again and clears the state.
//
// Setter results: 0 stored, 1 out of range, 3 a switch other than 0 or 1. A refusal changes
// nothing. A redesign or rebind must not overlap Process on the same block.
#pragma once

#include <stdint.h>

#include "facts/facts.h"
#include "filters/biquad.h"
#include "filters/result_codes.h"

namespace tessil {

enum class FilterKind : int32_t { HighPass, LowPass };

struct FilterBlock {
  int32_t enabled;     // 0 or 1; read and written with LoadRelaxed/StoreRelaxed
  int32_t sampleRate;  // Hz, at least 42
  int32_t frequency;   // cut-off (-3 dB), within kFilterFrequencies
  int32_t order;       // number of poles, within kFilterOrders
  FilterStateBinding* binding;  // null until bound
  float* area;                  // kFilterAreaEntries entries, kept for rebinding on order changes
  FilterKind kind;              // selects the design and the reset frequency
};

using HighPassBlock = FilterBlock;
using LowPassBlock = FilterBlock;

inline constexpr int32_t kFilterAreaEntries = 71;
static_assert(14 * ((static_cast<int32_t>(kFilterOrders.maximum) + 1) / 2) + 1 ==
                  kFilterAreaEntries,
              "the largest order must fill the block's area exactly");

// Pure designs, in double precision, stored as floats into a CascadeCoefficients set of
// 6 * ceil(order / 2) + 1 floats (only the order slot for order 0). Sections are in direct-form-I
// order b0, b1, b2, -a1, -a2, first-order section first, then the pole pairs from the highest Q
// down. At or above half the rate the high-pass becomes a pass-through (order slot 0) and the
// low-pass is designed one hertz below half the rate.
void DesignButterworthHighPass(int32_t frequency, int32_t sampleRate, int32_t order,
                               float* coefficients);
void DesignButterworthLowPass(int32_t frequency, int32_t sampleRate, int32_t order,
                              float* coefficients);

void FilterInit(FilterBlock* block, FilterKind kind);
void FilterReset(FilterBlock* block);

int32_t FilterSetEnabled(FilterBlock* block, int32_t enabled);
int32_t FilterSetSampleRate(FilterBlock* block, int32_t sampleRate);
int32_t FilterSetFrequency(FilterBlock* block, int32_t frequency);
// Refuses orders outside kFilterOrders with 1: a larger order would run past the block's area.
int32_t FilterSetOrder(FilterBlock* block, int32_t order);

int32_t FilterGetEnabled(const FilterBlock* block);
int32_t FilterGetFrequency(const FilterBlock* block);
int32_t FilterGetOrder(const FilterBlock* block);

// Lays the area (kFilterAreaEntries entries) out for the current order, designs, clears the state
// and rebuilds the flush ring with its cursor at 0.
void FilterBind(FilterBlock* block, FilterStateBinding* binding, float* area);
// Designs into the bound coefficient set; an unbound block does nothing.
void FilterRedesign(FilterBlock* block);
// Applies the source's enable, rate, frequency and order through the setters; refusals ignored.
int32_t FilterCopyFrom(FilterBlock* destination, const FilterBlock* source);
// Runs the bound cascade; input and output may be the same buffer. Only for bound blocks.
void FilterProcess(FilterBlock* block, const float* input, float* output, int32_t count);
// Runs two bound blocks (left and right of one stage) in place on their own buffers, each as
// FilterProcess runs it.
void FilterProcessPair(FilterBlock* left, FilterBlock* right, float* leftBuffer,
                       float* rightBuffer, int32_t count);
// The high-pass pair, then the low-pass pair, over one stereo block in place: what two
// FilterProcessPair calls in that order give.
void FilterProcessTwoPairs(FilterBlock* firstLeft, FilterBlock* firstRight,
                           FilterBlock* secondLeft, FilterBlock* secondRight, float* leftBuffer,
                           float* rightBuffer, int32_t count);

}  // namespace tessil

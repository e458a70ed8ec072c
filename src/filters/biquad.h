// Second-order section kernels, cascade runners and the denormal flush.
//
// Transfer functions are H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2). Feedback
// coefficients are always stored negated (-a1, -a2): the kernels add every product and never
// subtract one. Coefficient order per section form:
//   direct form I               b0, b1, b2, -a1, -a2    state x[n-1], x[n-2], y[n-1], y[n-2]
//   transposed direct form II   b0, -a1, b1, -a2, b2    state s1, s2
//   strided band-pass           c0, c1, c2 for H(z) = c0 (1 - z^-2) / (1 - c1 z^-1 - c2 z^-2)
//
// A CascadeCoefficients set is a flat float array: [0] the filter order N stored as a float (0.0
// means pass-through), then one SectionCoefficients record of six floats per section k at index
// 1 + 6k (a reserved word, then the five coefficients). Section 0 of an odd order is first-order
// (b2 and -a2 are 0). A set of S sections holds 6S + 1 floats.
//
// Every kernel accepts the same buffer as input and output: a sample is read before it is written.
// The kernels never allocate, lock, fail or clear state; owners clear their state when they bind.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tessil {

// Magnitudes strictly below this are flushed to +0.0 (bit pattern 0x26901D7D).
inline constexpr float kDenormalFlushThreshold = 1e-15f;

struct SectionCoefficients {
  // Never read or written: it keeps every record six words, the layout of the filter areas in
  // the engine state block (see engine.h).
  float reserved;
  float coefficients[5];  // in the order of the section form
};
static_assert(sizeof(SectionCoefficients) == 6 * sizeof(float));

// The flat coefficient set itself; a named alias so signatures say what they expect.
using CascadeCoefficients = float;

inline constexpr int32_t kCascadeSectionStride = 6;

// Number of sections of a cascade of order N: ceil(N/2), computed the way the runners do.
inline int32_t CascadeSectionCount(int32_t order) {
  return static_cast<int32_t>((static_cast<uint32_t>(order) - 1u) >> 1) + 1;
}

inline SectionCoefficients* CascadeSection(CascadeCoefficients* set, int32_t section) {
  return reinterpret_cast<SectionCoefficients*>(set + 1 + kCascadeSectionStride * section);
}

// Denormal-flush cursor over one block's filter state. Each entry is the byte distance from the
// entry storage to its state float: four bytes per entry whatever the pointer width, and no base
// pointer, so the binding stays six words on a 32-bit target. State and storage always share one
// state-block region, so the distance fits easily.
struct FlushRing {
  int32_t* items;  // visiting order, one entry per state float
  int32_t cursor;  // next entry to visit; persists from call to call
  int32_t length;  // number of entries
};

// The state float that ring entry `index` stands for.
inline float* FlushRingEntry(const FlushRing* ring, int32_t index) {
  return reinterpret_cast<float*>(reinterpret_cast<char*>(ring->items) + ring->items[index]);
}

// Ties one filter or equaliser block to its area of the engine state block: coefficients, then the
// state area right after them, then the ring's entry storage right after the state.
struct FilterStateBinding {
  CascadeCoefficients* coefficients;
  float* state;
  int32_t* ringStorage;
  FlushRing ring;
};
// The engine state block places these records between the areas, so their size is part of its
// layout on the 32-bit target.
static_assert(sizeof(void*) != 4 || sizeof(FilterStateBinding) == 6 * 4);

// Visits `visits` ring entries, zeroing every value strictly inside (-1e-15, 1e-15); NaN stays.
void SweepFlushRing(FlushRing* ring, int32_t visits);

// Appends `count` consecutive state floats starting at `first` to the ring, in order.
void AppendFlushRingRange(FlushRing* ring, float* first, int32_t count);

void RunSectionDF1(const float* input, float* output, int32_t count, const float* coefficients,
                   float* state);
void RunSectionTDF2(const float* input, float* output, int32_t count, const float* coefficients,
                    float* state);
// A transposed-direct-form-II section that is an exact identity (a unity peaking band) gives
// output = input + 0.0f, bit for bit what RunSectionTDF2 gives, when its coefficients cancel and
// its state is clean (IsIdentitySectionTDF2) and the block allows it (PassesIdentityExactly: no
// -0, denormal or non-finite sample, rounding to nearest). PassIdentitySectionTDF2 runs it so when
// both hold and returns false, touching nothing, otherwise.
bool IsIdentitySectionTDF2(const float* coefficients, const float* state);
bool PassesIdentityExactly(const float* samples, int32_t count);
bool PassIdentitySectionTDF2(const float* input, float* output, int32_t count,
                             const float* coefficients, float* state);
// Section 0 reads input, later sections run in place on output; four ring entries are swept after
// every section run. Order 0 copies input to output and touches neither state nor ring.
// The TDF2 runner passes identity sections through PassIdentitySectionTDF2.
void RunCascadeDF1(const CascadeCoefficients* coefficients, float* stateArea, const float* input,
                   float* output, int32_t count, FlushRing* ring);
void RunCascadeTDF2(const CascadeCoefficients* coefficients, float* stateArea,
                    const float* input, float* output, int32_t count, FlushRing* ring);

// Both channels of a stereo pair through their own direct-form-I cascades, in place, as
// RunCascadeDF1 runs each; the channels run together when their orders match.
void RunCascadeDF1Pair(const CascadeCoefficients* leftCoefficients, float* leftStateArea,
                       FlushRing* leftRing, float* left,
                       const CascadeCoefficients* rightCoefficients, float* rightStateArea,
                       FlushRing* rightRing, float* right, int32_t count);

// One cascade as a runner sees it.
struct CascadeRun {
  const CascadeCoefficients* coefficients;
  float* stateArea;
  FlushRing* ring;
};

// Two direct-form-I stages in series ([stage][channel]: stage 0 first) over a stereo pair, in
// place, with exactly the results of running each stage's pair in turn; only when every cascade
// is a single section, else false and nothing is touched.
bool RunTwoStagesDF1Pair(const CascadeRun stages[2][2], float* left, float* right,
                         int32_t count);

// Clears byteCount bytes when the range is non-empty; every clearing of coefficient or state
// memory goes through here.
void ZeroFill(void* address, size_t byteCount);

}  // namespace tessil

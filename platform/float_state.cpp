#include "platform/float_state.h"

#include <fenv.h>

#include <mutex>

#include "platform/bugcheck.h"
#include "platform/platform_internal.h"
#include "platform/testing.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

constexpr ULONG kSavedMark = 0x45564153;  // "SAVE"

static_assert(sizeof(fenv_t) <= sizeof(KFLOATING_SAVE::Environment));
static_assert(alignof(fenv_t) <= 16);

struct SaveRefusal {
  NTSTATUS status = STATUS_SUCCESS;
  ULONG skip = 0;
  ULONG count = 0;
};

struct FloatHooks {
  std::mutex lock;
  SaveRefusal refusal;
  ULONG outstanding = 0;
  ULONG saves = 0;
};

FloatHooks& Hooks() {
  static FloatHooks hooks;
  return hooks;
}

// Decides one save request against the armed refusal; STATUS_SUCCESS lets it through.
NTSTATUS TakeRefusal(FloatHooks& hooks) {
  SaveRefusal& refusal = hooks.refusal;
  if (refusal.count == 0) {
    return STATUS_SUCCESS;
  }
  if (refusal.skip != 0) {
    refusal.skip -= 1;
    return STATUS_SUCCESS;
  }
  refusal.count -= 1;
  return refusal.status;
}

}  // namespace

NTSTATUS KeSaveFloatingPointState(PKFLOATING_SAVE FloatSave) {
  FloatSave->Valid = 0;
  FloatHooks& hooks = Hooks();
  {
    std::lock_guard<std::mutex> guard(hooks.lock);
    const NTSTATUS refused = TakeRefusal(hooks);
    if (refused != STATUS_SUCCESS) {
      return refused;
    }
    hooks.outstanding += 1;
    hooks.saves += 1;
  }
  fegetenv(reinterpret_cast<fenv_t*>(FloatSave->Environment));
#if defined(__SSE__)
  FloatSave->Control = _mm_getcsr();
#else
  FloatSave->Control = 0;
#endif
  FloatSave->Valid = kSavedMark;
  return STATUS_SUCCESS;
}

NTSTATUS KeRestoreFloatingPointState(PKFLOATING_SAVE FloatSave) {
  if (FloatSave->Valid != kSavedMark) {
    KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, DRIVER_VERIFIER_FLOAT_NOT_SAVED,
                 reinterpret_cast<ULONG_PTR>(FloatSave), 0, 0);
  }
  fesetenv(reinterpret_cast<const fenv_t*>(FloatSave->Environment));
#if defined(__SSE__)
  // The environment restore covers this word on current C libraries; setting it again makes the
  // flush-to-zero and denormals-are-zero bits come back whatever the library does.
  _mm_setcsr(FloatSave->Control);
#endif
  FloatSave->Valid = 0;
  FloatHooks& hooks = Hooks();
  std::lock_guard<std::mutex> guard(hooks.lock);
  hooks.outstanding -= 1;
  return STATUS_SUCCESS;
}

namespace tessil {

void FailFloatingPointSaves(NTSTATUS status, ULONG count, ULONG skip) {
  FloatHooks& hooks = Hooks();
  std::lock_guard<std::mutex> guard(hooks.lock);
  hooks.refusal = SaveRefusal{status, skip, NT_SUCCESS(status) ? 0u : count};
}

ULONG OutstandingFloatingPointSaves() {
  FloatHooks& hooks = Hooks();
  std::lock_guard<std::mutex> guard(hooks.lock);
  return hooks.outstanding;
}

ULONG FloatingPointSaveCount() {
  FloatHooks& hooks = Hooks();
  std::lock_guard<std::mutex> guard(hooks.lock);
  return hooks.saves;
}

namespace platform_detail {

void ResetFloatingPointHooks() {
  FloatHooks& hooks = Hooks();
  std::lock_guard<std::mutex> guard(hooks.lock);
  hooks.refusal = SaveRefusal{};
  hooks.saves = 0;
}

}  // namespace platform_detail
}  // namespace tessil

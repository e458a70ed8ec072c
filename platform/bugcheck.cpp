#include "platform/bugcheck.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

const char* BugCheckName(ULONG code) {
  switch (code) {
    case BAD_POOL_CALLER:
      return "BAD_POOL_CALLER";
    case KMODE_EXCEPTION_NOT_HANDLED:
      return "KMODE_EXCEPTION_NOT_HANDLED";
    case DRIVER_VERIFIER_DETECTED_VIOLATION:
      return "DRIVER_VERIFIER_DETECTED_VIOLATION";
    default:
      return "UNKNOWN_BUGCHECK";
  }
}

}  // namespace

void KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR Parameter1, ULONG_PTR Parameter2,
                  ULONG_PTR Parameter3, ULONG_PTR Parameter4) {
  fprintf(stderr, "*** STOP: 0x%08X (0x%llX, 0x%llX, 0x%llX, 0x%llX) %s\n",
          static_cast<unsigned>(BugCheckCode), static_cast<unsigned long long>(Parameter1),
          static_cast<unsigned long long>(Parameter2), static_cast<unsigned long long>(Parameter3),
          static_cast<unsigned long long>(Parameter4), BugCheckName(BugCheckCode));
  fflush(stderr);
  abort();
}

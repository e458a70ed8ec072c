#include "platform/testing.h"

#include "platform/platform_internal.h"

namespace tessil {

void ResetPlatformHooks() {
  platform_detail::ResetPoolHooks();
  platform_detail::ResetFloatingPointHooks();
}

}  // namespace tessil

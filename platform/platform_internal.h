// Pieces shared between the stand-in's own sources; nothing outside platform/ includes this.
#pragma once

namespace tessil::platform_detail {

// Each disarms the refusals of its own service and clears its cumulative counters.
void ResetPoolHooks();
void ResetFloatingPointHooks();

}  // namespace tessil::platform_detail

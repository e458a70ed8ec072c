// The kernel-streaming property set: one item per property, each naming the property's handler
// (property_handlers.h) for get and set. Dispatch and size checks are KsPropertyHandler's.
#pragma once

#include "facts/facts.h"
#include "tessil/tessil.h"

namespace tessil {

extern const KSPROPERTY_ITEM kTessilPropertyItems[kPropertyCount];
extern const KSPROPERTY_SET kTessilPropertySet;

}  // namespace tessil

// The property set as data: one item per property, in id order. Every item uses its property's
// handler for get and set, needs a 4-byte value and a property buffer of the request its scope
// sends, and has no ranges, relations or support handler.
#include "module/property_handlers.h"
#include "module/property_set.h"

namespace tessil {

namespace {

constexpr ULONG RequestBytes(TESSIL_PROPERTY_SCOPE scope) {
  return scope == TESSIL_SCOPE_BAND      ? sizeof(TESSIL_BAND_PROPERTY)
         : scope == TESSIL_SCOPE_CHANNEL ? sizeof(TESSIL_CHANNEL_PROPERTY)
                                         : sizeof(KSPROPERTY);
}

constexpr KSPROPERTY_ITEM Item(KSPROPERTY_TESSIL id, PFNKSHANDLER handler) {
  KSPROPERTY_ITEM item{};
  item.PropertyId = id;
  item.GetPropertyHandler = handler;              // get
  item.MinProperty = RequestBytes(ScopeOf(id));   // bytes of property buffer the handler reads
  item.MinData = sizeof(ULONG);                   // one 32-bit value
  item.SetPropertyHandler = handler;              // set
  item.Values = nullptr;
  item.RelationsCount = 0;
  item.Relations = nullptr;
  item.SupportHandler = nullptr;
  item.SerializedSize = 0;
  return item;
}

}  // namespace

#define TESSIL_PROPERTY_ITEM(name, ...) \
  Item(KSPROPERTY_TESSIL_##name, PropertyHandler<KSPROPERTY_TESSIL_##name>),
const KSPROPERTY_ITEM kTessilPropertyItems[kPropertyCount] = {
    TESSIL_PROPERTIES(TESSIL_PROPERTY_ITEM)};
#undef TESSIL_PROPERTY_ITEM

const KSPROPERTY_SET kTessilPropertySet = {
    &KSPROPSETID_Tessil,  // Set
    kPropertyCount,       // PropertiesCount
    kTessilPropertyItems, // PropertyItem
    0,                    // FastIoCount
    nullptr,              // FastIoTable
};

}  // namespace tessil

// The property set as data: one item per property, in the order hosts enumerate them. Every item
// uses one handler for get and set, needs a 4-byte value and has no ranges, relations or support
// handler.
#include "module/property_set.h"

namespace tessil {

namespace {

constexpr KSPROPERTY_ITEM Item(ULONG id, PFNKSHANDLER handler, ULONG minProperty) {
  KSPROPERTY_ITEM item{};
  item.PropertyId = id;
  item.GetPropertyHandler = handler;   // get
  item.MinProperty = minProperty;      // bytes of property buffer the handler reads
  item.MinData = kPropertyValueBytes;  // one 32-bit value
  item.SetPropertyHandler = handler;   // set
  item.Values = nullptr;
  item.RelationsCount = 0;
  item.Relations = nullptr;
  item.SupportHandler = nullptr;
  item.SerializedSize = 0;
  return item;
}

}  // namespace

const KSPROPERTY_ITEM kTessilPropertyItems[kTessilPropertyCount] = {
    Item(KSPROPERTY_TESSIL_ENABLE, BooleanPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_INPUT_GAIN, DecibelPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_OUTPUT_GAIN, DecibelPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_BYPASS_GAIN, DecibelPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_CORE_ENABLE, BooleanPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_HIGHPASS_ENABLE, BooleanPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_LOWPASS_ENABLE, BooleanPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE, BooleanPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_CORE_LEVEL, PercentPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY, IntegerPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_LOWPASS_FREQUENCY, IntegerPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_HIGHPASS_ORDER, IntegerPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_LOWPASS_ORDER, IntegerPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_EQ_ENABLE, EqEnablePropertyHandler, kChannelPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_EQ_BAND_ENABLE, EqBandEnablePropertyHandler,
         kBandPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_EQ_BAND_GAIN, EqBandGainPropertyHandler, kBandPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY, EqBandFrequencyPropertyHandler,
         kBandPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_EQ_BAND_Q, EqBandQPropertyHandler, kBandPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT, PercentPropertyHandler, kPropertyRequestBytes),
    Item(KSPROPERTY_TESSIL_CORE_WEIGHTING, CoreWeightingPropertyHandler, kPropertyRequestBytes),
};

const KSPROPERTY_SET kTessilPropertySet = {
    &KSPROPSETID_Tessil,    // Set
    kTessilPropertyCount,   // PropertiesCount
    kTessilPropertyItems,   // PropertyItem
    0,                      // FastIoCount
    nullptr,                // FastIoTable
};

}  // namespace tessil

// The four parameter tables, searched from the first row to the end.
#include "module/catalogue.h"

namespace tessil {

const FloatParameterEntry kDecibelParameters[kDecibelParameterCount] = {
    {KSPROPERTY_TESSIL_INPUT_GAIN, &TessilManager::GetInputGain, &TessilManager::SetInputGain},
    {KSPROPERTY_TESSIL_OUTPUT_GAIN, &TessilManager::GetOutputGain, &TessilManager::SetOutputGain},
    {KSPROPERTY_TESSIL_BYPASS_GAIN, &TessilManager::GetBypassGain, &TessilManager::SetBypassGain},
};

const FloatParameterEntry kPercentParameters[kPercentParameterCount] = {
    {KSPROPERTY_TESSIL_CORE_LEVEL, &TessilManager::GetCoreLevel, &TessilManager::SetCoreLevel},
    {KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT, &TessilManager::GetOutputStageAmount,
     &TessilManager::SetOutputStageAmount},
};

const IntegerParameterEntry kIntegerParameters[kIntegerParameterCount] = {
    {KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY, &TessilManager::GetHighPassFrequency,
     &TessilManager::SetHighPassFrequency},
    {KSPROPERTY_TESSIL_HIGHPASS_ORDER, &TessilManager::GetHighPassOrder,
     &TessilManager::SetHighPassOrder},
    {KSPROPERTY_TESSIL_LOWPASS_FREQUENCY, &TessilManager::GetLowPassFrequency,
     &TessilManager::SetLowPassFrequency},
    {KSPROPERTY_TESSIL_LOWPASS_ORDER, &TessilManager::GetLowPassOrder,
     &TessilManager::SetLowPassOrder},
};

// Id 0 goes through the interface's own slots (GetEnable, SetEnable).
const BooleanParameterEntry kBooleanParameters[kBooleanParameterCount] = {
    {KSPROPERTY_TESSIL_ENABLE, &TessilManager::GetEnable, &TessilManager::SetEnable},
    {KSPROPERTY_TESSIL_CORE_ENABLE, &TessilManager::GetCoreEnable, &TessilManager::SetCoreEnable},
    {KSPROPERTY_TESSIL_HIGHPASS_ENABLE, &TessilManager::GetHighPassEnable,
     &TessilManager::SetHighPassEnable},
    {KSPROPERTY_TESSIL_LOWPASS_ENABLE, &TessilManager::GetLowPassEnable,
     &TessilManager::SetLowPassEnable},
    {KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE, &TessilManager::GetOutputStageEnable,
     &TessilManager::SetOutputStageEnable},
};

}  // namespace tessil

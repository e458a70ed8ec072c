// The command line's settings sent to the driver through the host layer's property requests,
// with every refusal reported in words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/property_names.h"
#include "host/handles.h"
#include "tessil/tessil.h"

namespace tessil::cli {

using host::ManagerHandle;
using host::ProcessorHandle;
using host::PropertyValueText;
using host::StatusName;

class PropertyClient {
 public:
  explicit PropertyClient(ITessilManager* manager) : requests_(manager) {}

  NTSTATUS Set(const PropertyInfo& property, PropertyTarget target, uint32_t value);
  NTSTATUS Get(const PropertyInfo& property, PropertyTarget target, uint32_t* value);
  // Get that must succeed; throws otherwise.
  uint32_t Read(const PropertyInfo& property, PropertyTarget target = {});
  // Sends the setting to each of its targets. A refusal throws, naming the setting and the
  // reason; a value the driver stored differently (clamped, rounded) is noted on stderr unless
  // `noteChanges` is false.
  void Apply(const PropertySetting& setting, bool noteChanges = true);

 private:
  host::PropertyClient requests_;
};

// The presets (--settings) in order, then every --set in order.
std::vector<PropertySetting> CollectSettings(const CommandLine& commandLine);
// One manager with the command line's settings applied: the whole run's settings context.
// `noteChanges` false: the notes were already given for the run's own manager.
ManagerHandle CreateConfiguredManager(const CommandLine& commandLine, bool noteChanges = true);

// tessil properties: every property with unit, accepted values and the value read back.
int RunProperties(const CommandLine& commandLine);

}  // namespace tessil::cli

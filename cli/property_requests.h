// The host's side of the driver: the manager and processor handles, and settings sent as real
// kernel-streaming property requests through ITessilManager::HandlePropertyRequest.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/property_names.h"
#include "tessil/tessil.h"

namespace tessil::cli {

struct ManagerReleaser {
  void operator()(ITessilManager* manager) const { manager->Release(); }
};
struct ProcessorReleaser {
  void operator()(IStreamProcessor* processor) const { processor->Release(); }
};
using ManagerHandle = std::unique_ptr<ITessilManager, ManagerReleaser>;
using ProcessorHandle = std::unique_ptr<IStreamProcessor, ProcessorReleaser>;

// "STATUS_INVALID_PARAMETER (0xC000000D)"
std::string StatusName(NTSTATUS status);
// A value in the property's own units: signed for decibels, unsigned otherwise.
std::string PropertyValueText(const PropertyInfo& property, uint32_t value);

class PropertyClient {
 public:
  explicit PropertyClient(ITessilManager* manager) : manager_(manager) {}

  NTSTATUS Set(const PropertyInfo& property, PropertyTarget target, uint32_t value);
  NTSTATUS Get(const PropertyInfo& property, PropertyTarget target, uint32_t* value);
  // Get that must succeed; throws otherwise.
  uint32_t Read(const PropertyInfo& property, PropertyTarget target = {});
  // Sends the setting to each of its targets. A refusal throws, naming the setting and the
  // reason; a value the driver stored differently (clamped, rounded) is noted on stderr.
  void Apply(const PropertySetting& setting);

 private:
  ITessilManager* manager_;
};

// The presets (--settings) in order, then every --set in order.
std::vector<PropertySetting> CollectSettings(const CommandLine& commandLine);
// One manager with the command line's settings applied: the whole run's settings context.
ManagerHandle CreateConfiguredManager(const CommandLine& commandLine);

// tessil properties: every property with unit, accepted values and the value read back.
int RunProperties(const CommandLine& commandLine);

}  // namespace tessil::cli

#include "host/plugin_instance.h"

#include <limits>
#include <stdexcept>

#include "host/latency.h"

namespace tessil::host {

namespace {

constexpr int64_t kNeverSent = std::numeric_limits<int64_t>::min();

}  // namespace

PluginInstance::PluginInstance(uint32_t sampleRate)
    : sampleRate_(sampleRate),
      manager_(CreateManager()),
      sent_(ControlPorts().size(), kNeverSent),
      enable_(PropertyById(KSPROPERTY_TESSIL_ENABLE).defaultValue != 0),
      coreEnable_(PropertyById(KSPROPERTY_TESSIL_CORE_ENABLE).defaultValue != 0) {
  if (!manager_) throw std::runtime_error("the driver could not create its manager");
  // Hosts may ask before activating; every stream at this rate has the same latency.
  latency_ = EffectStream(manager_.get(), sampleRate_).LatencyFrames();
}

void PluginInstance::Activate(const float* const* controls) {
  stream_.reset();
  SendChangedControls(controls);
  stream_ = std::make_unique<EffectStream>(manager_.get(), sampleRate_);
}

void PluginInstance::SendChangedControls(const float* const* controls) {
  const PropertyClient client(manager_.get());
  const std::vector<ControlPort>& ports = ControlPorts();
  for (size_t i = 0; i < ports.size(); ++i) {
    if (controls[i] == nullptr) continue;
    const ControlPort& port = ports[i];
    const int32_t value = PortValue(*port.property, *controls[i]);
    if (value == sent_[i]) continue;
    sent_[i] = value;
    // Values are inside the published range, so the driver accepts them.
    if (client.Set(*port.property, port.target, static_cast<uint32_t>(value)) != STATUS_SUCCESS) continue;
    if (port.property->id == KSPROPERTY_TESSIL_ENABLE) enable_ = value != 0;
    if (port.property->id == KSPROPERTY_TESSIL_CORE_ENABLE) coreEnable_ = value != 0;
  }
}

void PluginInstance::Run(const float* const* controls, const float* const input[2],
                         float* const output[2], uint32_t frames) {
  if (!stream_) {
    for (uint32_t i = 0; i < frames; ++i) output[0][i] = output[1][i] = 0.0f;
    return;
  }
  SendChangedControls(controls);
  stream_->Run(input, output, frames, LookAheadActive(enable_, coreEnable_));
}

}  // namespace tessil::host

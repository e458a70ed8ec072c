#include "host/plugin_instance.h"

#include <limits>
#include <stdexcept>

#include "host/latency.h"

namespace tessil::host {

namespace {

constexpr int64_t kNeverSent = std::numeric_limits<int64_t>::min();

}  // namespace

PluginInstance::PluginInstance(uint32_t sampleRate)
    : controls_(ControlPorts().size()),
      sampleRate_(sampleRate),
      manager_(CreateManager()),
      sent_(ControlPorts().size(), kNeverSent),
      enable_(PropertyById(KSPROPERTY_TESSIL_ENABLE).defaultValue != 0),
      coreEnable_(PropertyById(KSPROPERTY_TESSIL_CORE_ENABLE).defaultValue != 0) {
  if (!manager_) throw std::runtime_error("the driver could not create its manager");
  // Hosts may ask before activating; every stream at this rate has the same latency.
  latency_ = EffectStream(manager_.get(), sampleRate_).LatencyFrames();
}

void PluginInstance::ConnectPort(uint32_t port, float* location) {
  const size_t controls = controls_.size();
  if (port < 2) {
    audioIn_[port] = location;
  } else if (port < kAudioPorts) {
    audioOut_[port - 2] = location;
  } else if (port < kAudioPorts + controls) {
    controls_[port - kAudioPorts] = location;
  } else if (port == kAudioPorts + controls) {
    latencyOut_ = location;
    if (location != nullptr) *location = static_cast<float>(latency_);
  }
}

void PluginInstance::Activate() {
  stream_.reset();
  SendChangedControls();
  stream_ = std::make_unique<EffectStream>(manager_.get(), sampleRate_);
}

void PluginInstance::SendChangedControls() {
  const PropertyClient client(manager_.get());
  const std::vector<ControlPort>& ports = ControlPorts();
  for (size_t i = 0; i < ports.size(); ++i) {
    if (controls_[i] == nullptr) continue;
    const ControlPort& port = ports[i];
    const int32_t value = PortValue(*port.property, *controls_[i]);
    if (value == sent_[i]) continue;
    sent_[i] = value;
    // Values are inside the published range, so the driver accepts them.
    if (client.Set(*port.property, port.target, static_cast<uint32_t>(value)) != STATUS_SUCCESS) continue;
    if (port.property->id == KSPROPERTY_TESSIL_ENABLE) enable_ = value != 0;
    if (port.property->id == KSPROPERTY_TESSIL_CORE_ENABLE) coreEnable_ = value != 0;
  }
}

void PluginInstance::Run(uint32_t frames) {
  if (latencyOut_ != nullptr) *latencyOut_ = static_cast<float>(latency_);
  if (audioIn_[0] == nullptr || audioIn_[1] == nullptr || audioOut_[0] == nullptr ||
      audioOut_[1] == nullptr) {
    return;
  }
  if (!stream_) {
    for (uint32_t i = 0; i < frames; ++i) audioOut_[0][i] = audioOut_[1][i] = 0.0f;
    return;
  }
  SendChangedControls();
  stream_->Run(audioIn_, audioOut_, frames, LookAheadActive(enable_, coreEnable_));
}

}  // namespace tessil::host

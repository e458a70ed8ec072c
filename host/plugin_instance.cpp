#include "host/plugin_instance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "host/latency.h"

namespace tessil::host {

namespace {

// Compared by their bits, so that NaN, which never equals itself, still counts as seen.
constexpr int64_t kNeverSent = std::numeric_limits<int64_t>::min();

// Calls up to this long measure input and output loudness side by side; longer ones, rare in
// real-time hosts, measure them one after the other.
constexpr uint32_t kInputCopyFrames = 4096;

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

PluginInstance::PluginInstance(uint32_t sampleRate, uint32_t channels)
    : layout_(channels),
      controls_(layout_.controls),
      seen_(layout_.controls),
      sent_(layout_.controls, kNeverSent),
      sampleRate_(sampleRate),
      manager_(CreateManager()),
      enable_(PropertyById(KSPROPERTY_TESSIL_ENABLE).defaultValue != 0),
      coreEnable_(PropertyById(KSPROPERTY_TESSIL_CORE_ENABLE).defaultValue != 0) {
  if (channels < 1 || channels > 2) throw std::runtime_error("a plugin has one or two channels");
  if (!manager_) throw std::runtime_error("the driver could not create its manager");
  // Hosts may ask before activating; every stream at this rate has the same latency.
  latency_ = EffectStream(manager_.get(), sampleRate_, channels).LatencyFrames() +
             CeilingLimiter::LatencyFrames(sampleRate_);
}

void PluginInstance::ConnectPort(uint32_t port, float* location) {
  const uint32_t channels = layout_.channels;
  if (port < channels) {
    audioIn_[port] = location;
  } else if (port < 2 * channels) {
    audioOut_[port - channels] = location;
  } else if (port < layout_.firstHostPort) {
    controls_[port - layout_.firstControl] = location;
    // Sent at the next Activate() or run() whatever it holds.
    if (location != nullptr) seen_[port - layout_.firstControl] = std::nanf("");
  } else if (port < layout_.portCount) {
    const uint32_t index = port - layout_.firstHostPort;
    if (kHostPorts[index].output) {
      hostOutputs_[index] = location;
      if (location != nullptr) *location = index == kLatencyPort ? static_cast<float>(latency_) : kHostPorts[index].defaultValue;
    } else {
      hostControls_[index] = location;
    }
  }
}

void PluginInstance::Activate() {
  stream_.reset();
  SendChangedControls();
  stream_ = std::make_unique<EffectStream>(manager_.get(), sampleRate_, layout_.channels);
  started_ = false;
  ceiling_ = std::make_unique<CeilingLimiter>(layout_.channels, sampleRate_);
  const auto rate = static_cast<int>(sampleRate_);
  const auto channels = static_cast<int>(layout_.channels);
  inputLoudness_ = std::make_unique<LoudnessMeter>(rate, DefaultChannelRoles(channels));
  outputLoudness_ = std::make_unique<LoudnessMeter>(rate, DefaultChannelRoles(channels));
  inputCopy_.assign(size_t{kInputCopyFrames} * layout_.channels, 0.0f);
  outputPeaks_ = std::make_unique<TruePeakMeter>(channels, rate);
  recentPeak_ = std::make_unique<RecentPeak>(rate);
}

bool PluginInstance::SendChangedControls() {
  bool sent = false;
  const PropertyClient client(manager_.get());
  const std::vector<ControlPort>& ports = ControlPorts(layout_.channels);
  for (size_t i = 0; i < ports.size(); ++i) {
    // The common case, nothing changed, costs one comparison per port.
    if (controls_[i] == nullptr || SameBits(*controls_[i], seen_[i])) continue;
    seen_[i] = *controls_[i];
    const ControlPort& port = ports[i];
    const int32_t value = PortValue(*port.property, seen_[i]);
    if (value == sent_[i]) continue;
    sent_[i] = value;
    // Values are inside the published range, so the driver accepts them.
    if (client.Set(*port.property, port.target, static_cast<uint32_t>(value)) != STATUS_SUCCESS) continue;
    sent = true;
    if (port.property->id == KSPROPERTY_TESSIL_ENABLE) enable_ = value != 0;
    if (port.property->id == KSPROPERTY_TESSIL_CORE_ENABLE) coreEnable_ = value != 0;
  }
  return sent;
}

float PluginInstance::HostControl(HostPortIndex index) const {
  const HostPort& port = kHostPorts[index];
  const float value = hostControls_[index] != nullptr ? *hostControls_[index] : port.defaultValue;
  if (std::isnan(value)) return port.defaultValue;
  if (port.unit == HostPortUnit::Switch) return value > 0.0f ? 1.0f : 0.0f;
  return std::clamp(value, port.minimum, port.maximum);
}

namespace {

// Inside the port's range, the floor for silence.
float MeterValue(HostPortIndex index, double value) {
  const HostPort& port = kHostPorts[index];
  if (std::isnan(value) || value < port.minimum) return port.minimum;
  return std::min(static_cast<float>(value), port.maximum);
}

}  // namespace

bool PluginInstance::BothLoudnessMeters(uint32_t frames) const {
  const bool input = hostOutputs_[kInputLoudnessPort] != nullptr || hostOutputs_[kLevelChangePort] != nullptr;
  const bool output = hostOutputs_[kOutputLoudnessPort] != nullptr || hostOutputs_[kLevelChangePort] != nullptr;
  return input && output && frames <= kInputCopyFrames;
}

void PluginInstance::MeterInput(uint32_t frames) {
  if (BothLoudnessMeters(frames)) {
    for (uint32_t c = 0; c < layout_.channels; ++c) {
      std::copy_n(audioIn_[c], frames, &inputCopy_[size_t{c} * kInputCopyFrames]);
    }
  } else if (hostOutputs_[kInputLoudnessPort] != nullptr || hostOutputs_[kLevelChangePort] != nullptr) {
    inputLoudness_->Add(audioIn_, frames);
  }
}

void PluginInstance::MeterOutput(uint32_t frames) {
  const float* const output[2] = {audioOut_[0], audioOut_[layout_.channels - 1]};
  if (BothLoudnessMeters(frames)) {
    const float* const input[2] = {inputCopy_.data(), &inputCopy_[size_t{layout_.channels - 1} * kInputCopyFrames]};
    LoudnessMeter::AddSideBySide(*inputLoudness_, input, *outputLoudness_, output, frames);
  } else if (hostOutputs_[kOutputLoudnessPort] != nullptr || hostOutputs_[kLevelChangePort] != nullptr) {
    outputLoudness_->Add(output, frames);
  }
  if (hostOutputs_[kOutputTruePeakPort] != nullptr) {
    outputPeaks_->Add(output, frames);
    recentPeak_->Add(outputPeaks_->BlockTruePeak(), frames);
  }
}

void PluginInstance::WriteOutputs() {
  if (hostOutputs_[kLatencyPort] != nullptr) *hostOutputs_[kLatencyPort] = static_cast<float>(latency_);
  if (!stream_) return;
  const float input = MeterValue(kInputLoudnessPort, inputLoudness_->ShortTermLufs());
  const float output = MeterValue(kOutputLoudnessPort, outputLoudness_->ShortTermLufs());
  if (hostOutputs_[kInputLoudnessPort] != nullptr) *hostOutputs_[kInputLoudnessPort] = input;
  if (hostOutputs_[kOutputLoudnessPort] != nullptr) *hostOutputs_[kOutputLoudnessPort] = output;
  // Silence on both sides is no change; silence on one side reads as the most there is.
  if (hostOutputs_[kLevelChangePort] != nullptr) *hostOutputs_[kLevelChangePort] = MeterValue(kLevelChangePort, output - input);
  if (hostOutputs_[kOutputTruePeakPort] != nullptr) {
    *hostOutputs_[kOutputTruePeakPort] = MeterValue(kOutputTruePeakPort, PeakDecibels(recentPeak_->Highest()));
  }
}

void PluginInstance::Run(uint32_t frames) {
  for (uint32_t c = 0; c < layout_.channels; ++c) {
    if (audioIn_[c] == nullptr || audioOut_[c] == nullptr) return WriteOutputs();
  }
  if (!stream_) {
    for (uint32_t c = 0; c < layout_.channels; ++c) std::fill_n(audioOut_[c], frames, 0.0f);
    return WriteOutputs();
  }
  // Before the stream writes the outputs, which may be the inputs' own buffers.
  MeterInput(frames);
  // Some hosts connect or set the controls only after activating (lv2file restores a preset so):
  // a stream that has seen no audio yet starts again from them, as if they had come first.
  if (SendChangedControls() && !started_) stream_->Restart();
  started_ = true;
  stream_->Run(audioIn_, audioOut_, frames, LookAheadActive(enable_, coreEnable_));
  ceiling_->Run(audioOut_, frames, HostControl(kCeilingEnablePort) != 0.0f, HostControl(kCeilingPort));
  MeterOutput(frames);
  WriteOutputs();
}

}  // namespace tessil::host

// What a plugin instance does, whatever its format: one manager of its own, one stream through
// it, control port values sent as property requests between blocks when they change, and a
// latency that never moves.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/effect_stream.h"
#include "host/handles.h"
#include "host/plugin_ports.h"

namespace tessil::host {

class PluginInstance {
 public:
  // Builds everything the audio thread will need. Throws std::runtime_error when it cannot.
  explicit PluginInstance(uint32_t sampleRate);

  // Ports are numbered as every format presents them: audio in 0 and 1, audio out 2 and 3, then
  // ControlPorts() in order, then the latency output. The latency is written as soon as its port
  // is connected, since hosts may read it before the first block.
  void ConnectPort(uint32_t port, float* location);

  // A fresh stream, so activation after a pause does not replay old audio. The control values
  // connected by now are sent first: the driver sets a new stream up from the manager's settings
  // of that moment, and the same settings pushed just after the start would leave its first
  // seconds different from tessil render's. May allocate.
  void Activate();

  // Real-time safe. Silence until the first Activate(); nothing while an audio port is
  // unconnected.
  void Run(uint32_t frames);

  uint32_t LatencyFrames() const { return latency_; }

 private:
  void SendChangedControls();

  const float* audioIn_[2] = {};
  float* audioOut_[2] = {};
  std::vector<const float*> controls_;  // null while unconnected
  float* latencyOut_ = nullptr;

  uint32_t sampleRate_;
  ManagerHandle manager_;
  std::unique_ptr<EffectStream> stream_;
  uint32_t latency_;
  std::vector<int64_t> sent_;  // the value each port last sent, or kNeverSent
  bool enable_;
  bool coreEnable_;
};

}  // namespace tessil::host

// What a plugin instance does, whatever its format: one manager of its own, one stream through
// it, control port values sent as property requests between blocks when they change, a true-peak
// ceiling after the driver, meters on both sides, and a latency that never moves.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/ceiling_limiter.h"
#include "host/effect_stream.h"
#include "host/handles.h"
#include "host/loudness_meter.h"
#include "host/plugin_ports.h"
#include "host/true_peak.h"

namespace tessil::host {

class PluginInstance {
 public:
  // A plugin of `channels` (1 or 2) channels. Builds everything the audio thread will need.
  // Throws std::runtime_error when it cannot.
  PluginInstance(uint32_t sampleRate, uint32_t channels);

  // Ports are numbered as PortLayout lays them out. Outputs are written as soon as they are
  // connected, since hosts may read them (the latency above all) before the first block.
  void ConnectPort(uint32_t port, float* location);

  // A fresh stream, so activation after a pause does not replay old audio. The control values
  // connected by now are sent first: the driver sets a new stream up from the manager's settings
  // of that moment, and the same settings pushed just after the start would leave its first
  // seconds different from tessil render's. Controls that arrive after this but before the first
  // run() restart the stream the same way. May allocate.
  void Activate();

  // Real-time safe. Silence until the first Activate(); nothing while an audio port is
  // unconnected.
  void Run(uint32_t frames);

  uint32_t LatencyFrames() const { return latency_; }

 private:
  // Returns whether any request was sent.
  bool SendChangedControls();
  float HostControl(HostPortIndex index) const;
  // Measures what the connected meter outputs need and writes every connected output. Where
  // both loudness meters measure and the call fits inputCopy_, the input is kept there and
  // measured beside the output after the stream has run (outputs may be the inputs' buffers).
  bool BothLoudnessMeters(uint32_t frames) const;
  void MeterInput(uint32_t frames);
  void MeterOutput(uint32_t frames);
  void WriteOutputs();

  PortLayout layout_;
  const float* audioIn_[2] = {};
  float* audioOut_[2] = {};
  std::vector<const float*> controls_;  // null while unconnected
  std::vector<float> seen_;             // each control's value as last read
  std::vector<int64_t> sent_;           // the value each control last sent, or kNeverSent
  const float* hostControls_[kHostPortCount] = {};
  float* hostOutputs_[kHostPortCount] = {};

  uint32_t sampleRate_;
  ManagerHandle manager_;
  std::unique_ptr<EffectStream> stream_;
  bool started_ = false;  // whether stream_ has run any audio
  std::unique_ptr<CeilingLimiter> ceiling_;
  // The meters, measuring only while an output that shows them is connected.
  std::unique_ptr<LoudnessMeter> inputLoudness_;
  std::unique_ptr<LoudnessMeter> outputLoudness_;
  std::vector<float> inputCopy_;  // kInputCopyFrames per channel
  std::unique_ptr<TruePeakMeter> outputPeaks_;
  std::unique_ptr<RecentPeak> recentPeak_;
  uint32_t latency_;
  bool enable_;
  bool coreEnable_;
};

}  // namespace tessil::host

// The ports every plugin format presents, in this order:
//   audio inputs, one per channel, then audio outputs, one per channel;
//   the driver's controls (ControlPorts): one per stream-wide property, one per equalised
//   channel for eq-enable and one per equalised channel and band for the eq-band-* properties,
//   in property-id order, named as the command line addresses them, in the property's own units;
//   the host layer's own ports (kHostPorts): the ceiling's two controls, then the outputs
//   (latency and the meters).
// Stereo plugins equalise channels 0 and 1, mono plugins channel 0 only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/properties.h"

namespace tessil::host {

struct ControlPort {
  const PropertyInfo* property;
  PropertyTarget target;
  std::string name;    // "eq-band-gain.1.3", as tessil --set writes it
  std::string symbol;  // "eq_band_gain_1_3", a C identifier for formats that need one
};

// For a plugin of `channels` (1 or 2) channels.
const std::vector<ControlPort>& ControlPorts(uint32_t channels = 2);

// The value a port's float becomes in a request: clamped to the property's range and rounded
// half to even; switches are on for any value above 0; NaN is the default.
int32_t PortValue(const PropertyInfo& property, float value);

enum class HostPortUnit {
  Switch,
  Decibels,          // dB, or dBTP for peaks
  LoudnessUnits,     // LU: a difference of loudness
  LoudnessFullScale, // LUFS
  Frames,
};

struct HostPort {
  const char* symbol;  // the LADSPA port name and the LV2 symbol alike
  const char* label;   // what a generic plugin window shows
  bool output;
  HostPortUnit unit;
  float minimum;
  float maximum;
  float defaultValue;  // for outputs, what they read before the first run()
};

// Meters read their minimum for silence and are held inside their range.
inline constexpr float kMeterFloor = -70.0f;

enum HostPortIndex : uint32_t {
  kCeilingEnablePort,
  kCeilingPort,
  kLatencyPort,
  kInputLoudnessPort,
  kOutputLoudnessPort,
  kLevelChangePort,
  kOutputTruePeakPort,
  kHostPortCount
};

inline constexpr HostPort kHostPorts[kHostPortCount] = {
    {"ceiling_enable", "True-peak ceiling", false, HostPortUnit::Switch, 0.0f, 1.0f, 0.0f},
    {"ceiling", "Ceiling", false, HostPortUnit::Decibels, -20.0f, 0.0f, -1.0f},
    // Hosts that compensate delay look for an output control of exactly this name.
    {"latency", "latency", true, HostPortUnit::Frames, 0.0f, 65536.0f, 0.0f},
    {"input_loudness", "Input loudness (short-term)", true, HostPortUnit::LoudnessFullScale, kMeterFloor, 10.0f, kMeterFloor},
    {"output_loudness", "Output loudness (short-term)", true, HostPortUnit::LoudnessFullScale, kMeterFloor, 10.0f, kMeterFloor},
    {"level_change", "Level change", true, HostPortUnit::LoudnessUnits, -80.0f, 80.0f, 0.0f},
    {"output_true_peak", "Output true peak (last second)", true, HostPortUnit::Decibels, kMeterFloor, 20.0f, kMeterFloor},
};

// Where each kind of port starts for a plugin of `channels` channels.
struct PortLayout {
  explicit PortLayout(uint32_t channels)
      : channels(channels),
        controls(static_cast<uint32_t>(ControlPorts(channels).size())),
        firstControl(2 * channels),
        firstHostPort(firstControl + controls),
        portCount(firstHostPort + kHostPortCount) {}

  uint32_t channels;
  uint32_t controls;
  uint32_t firstControl;
  uint32_t firstHostPort;
  uint32_t portCount;
};

}  // namespace tessil::host

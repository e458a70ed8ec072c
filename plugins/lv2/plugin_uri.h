// The plugin's identity, shared by the binary and the bundle's description.
#pragma once

namespace tessil::lv2 {

inline constexpr const char* kPluginUri = "urn:tessil:lv2:stereo";
inline constexpr const char* kPresetUriPrefix = "urn:tessil:lv2:stereo:preset:";

}  // namespace tessil::lv2

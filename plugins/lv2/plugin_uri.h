// The plugins' identities, shared by the binary and the bundle's description.
#pragma once

#include <cstdint>

namespace tessil::lv2 {

struct PluginIdentity {
  const char* uri;
  uint32_t channels;
  const char* name;
  const char* presetUriPrefix;
};

// In the order lv2_descriptor hands them out.
inline constexpr PluginIdentity kPlugins[] = {
    {"urn:tessil:lv2:stereo", 2, "Tessil loudness maximiser (stereo)", "urn:tessil:lv2:stereo:preset:"},
    {"urn:tessil:lv2:mono", 1, "Tessil loudness maximiser (mono)", "urn:tessil:lv2:mono:preset:"},
};

}  // namespace tessil::lv2

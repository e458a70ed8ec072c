// Channel layouts as files store them, where libsndfile's channel-map commands do not reach:
// FLAC's WAVEFORMATEXTENSIBLE_CHANNEL_MASK comment (through libFLAC) and the mapping family of
// an Opus header. Descriptors are read with pread, so libsndfile's position on the same file
// never moves.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

#include "cli/channel_layout.h"

namespace tessil::cli {

// The layout of a file open for reading, in the file's own channel order (Vorbis order for Ogg
// Vorbis and Opus). Mono and stereo files without a stored layout are taken as mono and stereo.
ChannelLayout ReadLayout(SNDFILE* file, const SF_INFO& info, int descriptor);

// Adds (or replaces) the channel-mask comment of the finished FLAC file on `descriptor`, which
// is open for reading and writing. Its metadata has no room to grow in place, so the new file is
// made in an unnamed file in `scratchDirectory` and copied back. Throws CliError naming `path`.
void StoreFlacChannelMask(int descriptor, uint32_t mask, const std::string& scratchDirectory,
                          const std::string& path);

// The FLAC file's channel mask, 0 when it has none.
uint32_t ReadFlacChannelMask(int descriptor);

}  // namespace tessil::cli

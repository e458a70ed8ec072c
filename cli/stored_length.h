// The length of a written file without decoding it, where its format allows.
#pragma once

#include <sndfile.h>

#include <cstdint>

namespace tessil::cli {

// Frames in `file` (opened for reading, `info` as sf_open gave it) when its format stores plain
// samples outside a FLAC or Ogg stream: libsndfile takes the count from the header, bounded by
// what the file holds, and reading the last frame proves the data reaches that far. -1 when only
// a full decode tells (compressed formats), or when the last frame cannot be read; the file is
// then at its start again.
int64_t StoredFrames(SNDFILE* file, const SF_INFO& info);

// True when `format` stores plain samples outside a FLAC or Ogg stream: its header's length is
// exact, not an estimate.
bool StoresPlainSamples(int format);

}  // namespace tessil::cli

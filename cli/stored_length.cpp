#include "cli/stored_length.h"

#include <algorithm>
#include <vector>

namespace tessil::cli {

bool StoresPlainSamples(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG:
      return false;
    default:
      break;
  }
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return true;
    default:
      return false;
  }
}

int64_t StoredFrames(SNDFILE* file, const SF_INFO& info) {
  if (!StoresPlainSamples(info.format) || info.frames < 0) return -1;
  if (info.frames == 0) return 0;
  std::vector<float> last(static_cast<size_t>(std::max(info.channels, 1)));
  if (sf_seek(file, info.frames - 1, SEEK_SET) == info.frames - 1 &&
      sf_readf_float(file, last.data(), 1) == 1) {
    return info.frames;
  }
  sf_seek(file, 0, SEEK_SET);  // for the caller's full decode
  return -1;
}

}  // namespace tessil::cli

// Audio files through libsndfile, in host samples: interleaved 32-bit floats in the integer scale
// of the stream's bits per sample. Output goes to a temporary file beside its destination and
// only takes the destination's name once complete, so a failed run never leaves a partial file.
#pragma once

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessil::cli {

// How a file's samples reach the host scale. Integer codecs carry a bit depth and go through
// libsndfile's 32-bit integer interface, which is exact both ways (its unnormalised float
// interface is not, for every codec); everything else (float, double, lossy codecs) goes through
// normalised floats.
struct SampleEncoding {
  bool integer;
  int depth;  // bits per decoded sample of an integer codec, 0 for the others
};

SampleEncoding EncodingOf(int sndfileFormat);
// The stream's bits per sample for a file: its depth rounded up to 8, 16, 24 or 32, and 32 for
// float and lossy sources.
int DefaultHostBits(int sndfileFormat);
// "WAV (Microsoft), Signed 16 bit PCM"
std::string FormatName(int sndfileFormat);

class AudioReader {
 public:
  explicit AudioReader(const std::string& path);
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  const std::string& Path() const { return path_; }
  int64_t Frames() const { return info_.frames; }
  int SampleRate() const { return info_.samplerate; }
  int Channels() const { return info_.channels; }
  int Format() const { return info_.format; }
  SNDFILE* Handle() const { return file_; }

  // Reads up to `frames` frames as host samples of a `hostBits` stream. Fewer frames come back
  // only at the end of the file; a read error throws.
  size_t ReadHost(float* host, size_t frames, int hostBits);

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  SampleEncoding encoding_{};
  std::vector<int32_t> integers_;
};

class AudioWriter {
 public:
  // Creates the temporary file at once, so an unwritable destination fails before any work.
  AudioWriter(const std::string& path, int sndfileFormat, int sampleRate, int channels);
  ~AudioWriter();
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;

  // Channel layout and text tags of the source, where the output format can hold them.
  void CopyMetadata(const AudioReader& source);
  // Writes host samples of a `hostBits` stream, rounded to the output's own depth.
  void WriteHost(const float* host, size_t frames, int hostBits);
  // Completes the file and gives it its destination name.
  void Commit();

 private:
  int CloseFile();  // libsndfile's error number, 0 when all went well
  void Discard();

  std::string path_;
  std::string renamePath_;  // the destination with links resolved
  std::string temporaryPath_;
  int descriptor_ = -1;
  SNDFILE* file_ = nullptr;
  int channels_ = 0;
  SampleEncoding encoding_{};
  std::vector<int32_t> integers_;
  std::vector<float> floats_;
};

}  // namespace tessil::cli

// Audio files through libsndfile, in host samples: interleaved 32-bit floats in the integer scale
// of the stream's bits per sample. Each input is opened exactly once (a pipe or FIFO is read into
// memory, since libsndfile cannot decode every format from a stream). Output goes to a temporary
// file beside its destination, is flushed to disk and read back, and only then takes the
// destination's name, so a failed or interrupted run never leaves a partial or damaged file.
#pragma once

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
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
// The name of the major type or of the sub-type alone: "FLAC (Free Lossless Audio Codec)".
std::string FormatPartName(int formatPart);

// "-" names standard input or output.
inline bool IsStandardStream(const std::string& path) { return path == "-"; }

class AudioReader {
 public:
  explicit AudioReader(const std::string& path);
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  const std::string& Path() const { return path_; }
  // May be an estimate for compressed formats.
  int64_t Frames() const { return info_.frames; }
  int SampleRate() const { return info_.samplerate; }
  int Channels() const { return info_.channels; }
  int Format() const { return info_.format; }
  SNDFILE* Handle() const { return file_; }

  // Reads up to `frames` frames as host samples of a `hostBits` stream. Fewer frames come back
  // only at the end of the file; a read error throws.
  size_t ReadHost(float* host, size_t frames, int hostBits);

 private:
  struct MemoryStream {
    std::vector<unsigned char> bytes;
    sf_count_t position = 0;
  };

  std::string path_;
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  SampleEncoding encoding_{};
  std::vector<int32_t> integers_;
  MemoryStream memory_;  // the whole input, when it came from a pipe
};

struct WriteOptions {
  bool overwrite = false;  // an existing destination may be replaced
  double quality = NAN;    // 0 to 10: lossy quality or FLAC compression; NaN: libsndfile's default
  int64_t expectedFrames = 0;  // the input's length: WAV output that would pass 4 GiB becomes RF64
};

// What the finished file holds, read back from it.
struct WrittenFile {
  int format = 0;      // WAV output of more than 4 GiB comes out as RF64
  int64_t frames = 0;  // decoded frames; an MP3 also holds its encoder's padding
};

class AudioWriter {
 public:
  // Checks the destination and creates the temporary file at once, so an output that exists (and
  // may not be replaced), that the user could not write or whose directory is missing fails
  // before any work. "-" writes standard output: the file is made and checked in an unnamed
  // temporary file, then copied, since most formats rewrite their header on closing.
  AudioWriter(const std::string& path, int sndfileFormat, int sampleRate, int channels,
              const WriteOptions& options);
  ~AudioWriter();
  AudioWriter(const AudioWriter&) = delete;

  // The destination checks alone, for failing before an input is even opened. True when an
  // existing file may be replaced (its status in `existing` when given).
  static bool CheckDestination(const std::string& path, bool overwrite, struct stat* existing = nullptr);

  AudioWriter& operator=(const AudioWriter&) = delete;

  // Channel layout and text tags of the source, where the output format can hold them. Tags that
  // describe the old loudness (ReplayGain) are dropped: the render changed it.
  void CopyMetadata(const AudioReader& source);
  // Writes host samples of a `hostBits` stream, rounded to the output's own depth.
  void WriteHost(const float* host, size_t frames, int hostBits);

  // Decoded frames of the finished file at nominal full scale, for measuring what was written.
  using FrameSink = std::function<void(const float* frames, size_t count)>;
  // Completes the file: flushes it to disk, reads it back and checks its format and length, then
  // gives it its destination name. `sink`, when set, receives every decoded frame.
  WrittenFile Commit(const FrameSink& sink = nullptr);

 private:
  int CloseFile();  // libsndfile's error number, 0 when all went well
  void Discard();
  WrittenFile ReadBack(const FrameSink& sink) const;
  void CopyToStandardOutput();

  std::string path_;
  std::string renamePath_;  // the destination with links resolved
  std::string temporaryPath_;
  int temporarySlot_ = -1;  // where the interrupt handler finds the temporary file
  int descriptor_ = -1;
  SNDFILE* file_ = nullptr;
  int format_ = 0;
  int channels_ = 0;
  int64_t written_ = 0;
  bool toStandardOutput_ = false;
  bool overwrite_ = false;
  SampleEncoding encoding_{};
  std::vector<int32_t> integers_;
  std::vector<float> floats_;
};

}  // namespace tessil::cli

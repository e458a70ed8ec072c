// Audio files through libsndfile, in host samples: interleaved 32-bit floats in the integer scale
// of the stream's bits per sample. Each input is opened exactly once; a pipe or FIFO is first
// copied into an unnamed file in the system's temporary folder (libsndfile cannot decode every
// format from a stream, and a render may read its input more than once), which the system
// removes however the program ends. Output goes to a temporary file beside its destination, is
// flushed to disk and read back, and only then takes the destination's name, so a failed or
// interrupted run never leaves a partial or damaged file. Channels come and go in the order of
// their layout's speaker mask where the container has an order of its own (Ogg Vorbis, Opus).
#pragma once

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/channel_layout.h"

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

// $TMPDIR, or /tmp.
std::string TemporaryDirectory();

class AudioReader {
 public:
  explicit AudioReader(const std::string& path);
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  const std::string& Path() const { return path_; }
  // What the header declares; may be an estimate for compressed formats.
  int64_t Frames() const { return info_.frames; }
  int SampleRate() const { return info_.samplerate; }
  int Channels() const { return info_.channels; }
  int Format() const { return info_.format; }
  SNDFILE* Handle() const { return file_; }
  // In the order ReadHost delivers the channels.
  const ChannelLayout& Layout() const { return layout_; }

  // Reads up to `frames` frames as host samples of a `hostBits` stream. Fewer frames come back
  // only at the end of the file; a read error throws.
  size_t ReadHost(float* host, size_t frames, int hostBits);
  // Back to the first frame, for another pass over the same input.
  void Rewind();

 private:
  void Open();

  std::string path_;
  int descriptor_ = -1;  // ours, a regular file: the input itself or the copy of a pipe
  off_t start_ = 0;      // where the audio file starts in it
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  SampleEncoding encoding_{};
  ChannelLayout layout_;
  std::vector<int> order_;  // file channel of each delivered channel; empty: the file's order
  std::vector<int32_t> integers_;
  std::vector<float> frame_;
};

struct WriteOptions {
  bool overwrite = false;  // an existing destination may be replaced
  double quality = NAN;    // 0 to 10: lossy quality or FLAC compression; NaN: libsndfile's default
  int64_t expectedFrames = 0;  // the input's length: WAV output that would pass 4 GiB becomes RF64
  ChannelLayout layout;        // of the host samples: kept where the format can hold it
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

  // Text tags of the source, where the output format can hold them. Tags that describe the old
  // loudness (ReplayGain) are dropped: the render changed it.
  void CopyMetadata(const AudioReader& source);
  // Why the output cannot hold the layout it was given; empty when it holds it.
  const std::string& LayoutLoss() const { return layoutLoss_; }
  // Writes host samples of a `hostBits` stream, rounded to the output's own depth.
  void WriteHost(const float* host, size_t frames, int hostBits);

  // Decoded frames of the finished file at nominal full scale, for measuring what was written.
  using FrameSink = std::function<void(const float* frames, size_t count)>;
  // Completes the file: flushes it to disk, reads it back and checks its format and length, then
  // gives it its destination name. `sink`, when set, receives every decoded frame.
  WrittenFile Commit(const FrameSink& sink = nullptr);
  // Commit in two steps, for a caller that judges what was written before it is kept: Finish
  // completes and checks the file, Publish gives it its name (or copies it to standard output).
  // A writer destroyed between the two leaves nothing behind.
  WrittenFile Finish(const FrameSink& sink = nullptr);
  void Publish();

 private:
  int CloseFile();  // libsndfile's error number, 0 when all went well
  void Discard();
  WrittenFile ReadBack(const FrameSink& sink) const;
  void CopyToStandardOutput();
  void StoreLayout(const ChannelLayout& layout);

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
  std::vector<int> order_;  // host channel of each file channel; empty: the same order
  std::vector<float> reordered_;
  uint32_t flacMask_ = 0;   // stored once libsndfile has finished the file
  std::string layoutLoss_;
};

}  // namespace tessil::cli

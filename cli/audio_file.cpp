#include "cli/audio_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/output_format.h"
#include "cli/stored_layout.h"
#include "cli/stored_length.h"

namespace tessil::cli {

namespace {

std::string SystemReason(int error) { return std::strerror(error); }

std::string SndfileReason(SNDFILE* file) {
  std::string reason = sf_strerror(file);
  // libsndfile ends its messages with a full stop; the caller's line has its own shape.
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  for (const std::string prefix : {"Error : ", "System error : "}) {
    if (reason.rfind(prefix, 0) == 0) reason.erase(0, prefix.size());
  }
  return reason;
}

// libsndfile reports a failed open through one process-wide error slot: opens are serialised so
// that each failure reads its own reason, however many files are opened at once.
std::mutex openMutex;

// Past this a WAV's 32-bit sizes overflow; the margin leaves room for the header and tags.
constexpr double kWavByteLimit = 4294967295.0 - 16.0 * 1024 * 1024;

mode_t CreationMode() {
  // umask can only be read by setting it; do so once, before two writers could race on it.
  static std::once_flag once;
  static mode_t mode = 0644;
  std::call_once(once, [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = static_cast<mode_t>(0666 & ~mask);
  });
  return mode;
}

// Where an input that is not a regular file is kept: an unnamed file in the temporary folder,
// which vanishes with its descriptor however the program ends. Reads interrupted by a signal
// return to the caller, so that Ctrl-C is noticed while the writer on the other side is idle.
int Spool(int descriptor, const std::string& path) {
  const std::string directory = TemporaryDirectory();
  int spool = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (spool < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string pattern = directory + "/.tessil-XXXXXX";
    spool = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (spool >= 0) ::unlink(pattern.c_str());
  }
  if (spool < 0) {
    throw CliError(path + ": cannot keep the input in " + directory + ": " + SystemReason(errno));
  }
  const auto fail = [&](const std::string& reason) {
    ::close(spool);
    return CliError(path + reason);
  };
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) {
        if (Interrupted()) {
          ::close(spool);
          ThrowIfInterrupted();
        }
        continue;
      }
      throw fail(": read error: " + SystemReason(errno));
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(spool, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        const int error = put < 0 ? errno : ENOSPC;
        const bool full = error == ENOSPC || error == EDQUOT;
        throw fail(": cannot keep the input in " + directory + ": " + SystemReason(error) +
                   (full ? " (set TMPDIR to a folder with room)" : ""));
      }
      done += put;
    }
  }
  return spool;
}

bool HasSpeakerMask(const ChannelLayout& layout) {
  ChannelLayout sorted;
  std::vector<int> order;
  return MaskOrder(layout, &sorted, &order);
}

}  // namespace

SampleEncoding EncodingOf(int sndfileFormat) {
  switch (sndfileFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
      return {true, 8};
    case SF_FORMAT_DWVW_12:
      return {true, 12};
    case SF_FORMAT_ALAC_20:
      return {true, 20};
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_NMS_ADPCM_24:
      return {true, 24};
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
      return {true, 32};
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
      return {false, 0};
    default:
      // 16-bit PCM and the codecs that decode to 16-bit samples (mu-law, A-law, ADPCM, GSM).
      return {true, 16};
  }
}

int DefaultHostBits(int sndfileFormat) {
  const SampleEncoding encoding = EncodingOf(sndfileFormat);
  if (!encoding.integer) return 32;
  if (encoding.depth <= 8) return 8;
  if (encoding.depth <= 16) return 16;
  if (encoding.depth <= 24) return 24;
  return 32;
}

std::string FormatPartName(int formatPart) {
  SF_FORMAT_INFO info{};
  info.format = formatPart;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) != 0 || info.name == nullptr) {
    return "unknown";
  }
  return info.name;
}

std::string FormatName(int sndfileFormat) {
  return FormatPartName(sndfileFormat & SF_FORMAT_TYPEMASK) + ", " +
         FormatPartName(sndfileFormat & SF_FORMAT_SUBMASK);
}

std::string TemporaryDirectory() {
  const char* root = std::getenv("TMPDIR");
  return root != nullptr && *root != '\0' ? root : "/tmp";
}

AudioReader::AudioReader(const std::string& path) : path_(path) {
  int descriptor = STDIN_FILENO;
  if (!IsStandardStream(path)) {
    // O_NONBLOCK is not used: opening a FIFO waits for its writer, and Ctrl-C ends the wait.
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (descriptor < 0 && errno == EINTR) {
      ThrowIfInterrupted();
      descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (descriptor < 0) throw CliError(path + ": cannot read: " + SystemReason(errno));
  }
  struct stat status {};
  ::fstat(descriptor, &status);
  const auto closeOwn = [&] {
    if (descriptor != STDIN_FILENO) ::close(descriptor);
  };
  if (S_ISDIR(status.st_mode)) {
    closeOwn();
    throw CliError(path + ": cannot read: is a directory");
  }
  if (S_ISREG(status.st_mode)) {
    descriptor_ = descriptor != STDIN_FILENO ? descriptor : ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    start_ = std::max<off_t>(::lseek(descriptor_, 0, SEEK_CUR), 0);
  } else {
    try {
      descriptor_ = Spool(descriptor, path);
    } catch (...) {
      closeOwn();
      throw;
    }
    closeOwn();
  }
  if (descriptor_ < 0) throw CliError(path + ": cannot read: " + SystemReason(errno));
  try {
    Open();
  } catch (...) {
    ::close(descriptor_);
    throw;
  }
  if (info_.channels < 1 || info_.samplerate < 1) {
    sf_close(file_);
    ::close(descriptor_);
    throw CliError(path + ": cannot read: no channels or no sample rate");
  }
  encoding_ = EncodingOf(info_.format);
  const ChannelLayout stored = ReadLayout(file_, info_, descriptor_);
  layout_ = stored;
  // Vorbis and Opus keep their own order; the host sees the mask's, front pair first.
  std::vector<int> order;
  ChannelLayout sorted;
  if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG && stored.Known() && MaskOrder(stored, &sorted, &order)) {
    layout_ = sorted;
    for (size_t c = 0; c < order.size(); ++c) {
      if (order[c] != static_cast<int>(c)) order_ = order;
    }
  }
}

void AudioReader::Open() {
  ::lseek(descriptor_, start_, SEEK_SET);
  SF_INFO info{};
  std::unique_lock<std::mutex> lock(openMutex);
  file_ = sf_open_fd(descriptor_, SFM_READ, &info, SF_FALSE);
  if (file_ == nullptr) {
    throw CliError(path_ + ": cannot read: unsupported or unreadable audio format (" + SndfileReason(nullptr) + ")");
  }
  info_ = info;
}

void AudioReader::Rewind() {
  sf_close(file_);
  file_ = nullptr;
  Open();
}

AudioReader::~AudioReader() {
  if (file_ != nullptr) sf_close(file_);
  if (descriptor_ >= 0) ::close(descriptor_);
}

size_t AudioReader::ReadHost(float* host, size_t frames, int hostBits) {
  const size_t samples = frames * static_cast<size_t>(info_.channels);
  sf_count_t got = 0;
  if (encoding_.integer) {
    integers_.resize(samples);
    got = sf_readf_int(file_, integers_.data(), static_cast<sf_count_t>(frames));
    // 2^(bits - 32) is exact, and so is the product for every depth up to 24 bits.
    const float scale = std::ldexp(1.0f, hostBits - 32);
    const size_t count = static_cast<size_t>(std::max<sf_count_t>(got, 0)) * static_cast<size_t>(info_.channels);
    for (size_t i = 0; i < count; ++i) host[i] = static_cast<float>(integers_[i]) * scale;
  } else {
    got = sf_readf_float(file_, host, static_cast<sf_count_t>(frames));
    const float scale = std::ldexp(1.0f, hostBits - 1);
    const size_t count = static_cast<size_t>(std::max<sf_count_t>(got, 0)) * static_cast<size_t>(info_.channels);
    for (size_t i = 0; i < count; ++i) host[i] *= scale;
  }
  if (got < static_cast<sf_count_t>(frames) && sf_error(file_) != SF_ERR_NO_ERROR) {
    throw CliError(path_ + ": read error: " + SndfileReason(file_));
  }
  const size_t read = got < 0 ? 0 : static_cast<size_t>(got);
  if (!order_.empty()) {
    const auto channels = static_cast<size_t>(info_.channels);
    frame_.resize(channels);
    for (size_t i = 0; i < read; ++i) {
      float* frame = host + i * channels;
      std::copy_n(frame, channels, frame_.begin());
      for (size_t c = 0; c < channels; ++c) frame[c] = frame_[static_cast<size_t>(order_[c])];
    }
  }
  return read;
}

bool AudioWriter::CheckDestination(const std::string& path, bool overwrite, struct stat* existing) {
  struct stat own {};
  if (existing == nullptr) existing = &own;
  if (IsStandardStream(path) || ::stat(path.c_str(), existing) != 0) return false;
  if (S_ISDIR(existing->st_mode)) throw CliError(path + ": cannot write: is a directory");
  // The finished file replaces the destination by renaming: a device or a pipe there must not be
  // swapped for a regular file, and a link keeps pointing where it did.
  if (!S_ISREG(existing->st_mode)) throw CliError(path + ": cannot write: not a regular file");
  if (!overwrite) throw CliError(path + ": already exists; use -y (--overwrite) to replace it");
  // Root passes access(); a file without any write permission is still treated as protected.
  if (::access(path.c_str(), W_OK) != 0 || (existing->st_mode & 0222) == 0) {
    throw CliError(path + ": cannot replace: the file is not writable");
  }
  return true;
}

AudioWriter::AudioWriter(const std::string& path, int sndfileFormat, int sampleRate, int channels,
                         const WriteOptions& options)
    : path_(path),
      format_(sndfileFormat),
      channels_(channels),
      toStandardOutput_(IsStandardStream(path)),
      overwrite_(options.overwrite),
      encoding_(EncodingOf(sndfileFormat)) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = sndfileFormat;
  if (!sf_format_check(&info)) {
    throw CliError(path + ": cannot write: libsndfile cannot write " + FormatName(sndfileFormat) +
                   " with " + std::to_string(channels) + " channels at " +
                   std::to_string(sampleRate) + " Hz");
  }
  // WAV stops at 4 GiB: a file expected to outgrow it is written as RF64 from the start.
  // (A length libsndfile does not know comes as the largest count: no estimate at all.)
  if ((sndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && options.expectedFrames > 0 &&
      options.expectedFrames < (int64_t{1} << 48)) {
    const int bytesPerSample = encoding_.integer ? (encoding_.depth + 7) / 8 : 8;
    const double bytes = static_cast<double>(options.expectedFrames) * channels * bytesPerSample;
    SF_INFO rf64 = info;
    rf64.format = SF_FORMAT_RF64 | (sndfileFormat & SF_FORMAT_SUBMASK);
    if (bytes >= kWavByteLimit && sf_format_check(&rf64)) {
      info = rf64;
      format_ = rf64.format;
    }
  }

  // WAV holds a layout only in its extensible form, which mono and stereo do not need.
  if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && options.layout.Known() &&
      !(channels <= 2 && options.layout == VorbisLayout(channels)) && HasSpeakerMask(options.layout)) {
    SF_INFO extensible = info;
    extensible.format = SF_FORMAT_WAVEX | (info.format & SF_FORMAT_SUBMASK);
    if (sf_format_check(&extensible)) {
      info = extensible;
      format_ = extensible.format;
    }
  }

  std::unique_lock<std::mutex> lock(openMutex, std::defer_lock);
  if (toStandardOutput_) {
    // Most formats rewrite their header when they close, which a pipe cannot take (FLAC then
    // appends a damaged header block, WAV refuses): the file is made in an unnamed temporary
    // file, checked like any other and copied to standard output when complete.
    std::string pattern = TemporaryDirectory() + "/.tessil-XXXXXX";
    descriptor_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor_ < 0) throw CliError("-: cannot make a temporary file in " + pattern + ": " + SystemReason(errno));
    ::unlink(pattern.c_str());
    lock.lock();
    file_ = sf_open_fd(descriptor_, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
      const std::string reason = SndfileReason(nullptr);
      lock.unlock();
      Discard();
      throw CliError("-: cannot write: " + reason);
    }
  } else {
    namespace fs = std::filesystem;
    fs::path destination(path);
    struct stat existing {};
    const bool replacing = CheckDestination(path, overwrite_, &existing);
    if (replacing) {
      std::error_code error;
      destination = fs::canonical(destination, error);
      if (error) throw CliError(path + ": cannot write: " + error.message());
    }
    renamePath_ = destination.string();
    fs::path directory = destination.parent_path();
    if (directory.empty()) directory = ".";
    // A short name of its own: the destination's name may already be as long as the file
    // system allows.
    std::string pattern = (directory / ".tessil-XXXXXX").string();
    const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0) throw CliError(path + ": cannot write: " + SystemReason(errno));
    temporaryPath_ = pattern;
    temporarySlot_ = RegisterTemporaryFile(temporaryPath_);
    descriptor_ = descriptor;
    if (replacing) {
      // The replacement keeps the file's permissions and, where we may, its owner.
      ::fchmod(descriptor, existing.st_mode & 07777);
      if (::geteuid() == 0) {
        [[maybe_unused]] const int ignored = ::fchown(descriptor, existing.st_uid, existing.st_gid);
      }
    } else {
      // mkstemp creates the file private; the result should look like any other new file.
      ::fchmod(descriptor, CreationMode());
    }
    // The descriptor stays ours (libsndfile does not close it), so that it is closed exactly once
    // whether the open succeeds or not.
    lock.lock();
    file_ = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
      const std::string reason = SndfileReason(nullptr);
      lock.unlock();
      Discard();
      throw CliError(path + ": cannot write: " + reason);
    }
  }
  lock.unlock();
  StoreLayout(options.layout);
  if (!std::isnan(options.quality)) {
    double fraction = std::clamp(options.quality / 10.0, 0.0, 1.0);
    if ((sndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
      sf_command(file_, SFC_SET_COMPRESSION_LEVEL, &fraction, sizeof(fraction));
    } else if (IsLossyFormat(sndfileFormat)) {
      sf_command(file_, SFC_SET_VBR_ENCODING_QUALITY, &fraction, sizeof(fraction));
    }
  }
}

AudioWriter::~AudioWriter() { Discard(); }

int AudioWriter::CloseFile() {
  int result = 0;
  if (file_ != nullptr) {
    result = sf_close(file_);
    file_ = nullptr;
  }
  if (descriptor_ >= 0) {
    if (::close(descriptor_) != 0 && result == 0) result = SF_ERR_SYSTEM;
    descriptor_ = -1;
  }
  return result;
}

void AudioWriter::Discard() {
  CloseFile();
  if (!temporaryPath_.empty()) {
    ::unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
  ForgetTemporaryFile(temporarySlot_);
  temporarySlot_ = -1;
}

// Each container's way: WAV and FLAC in the mask's order, Vorbis and Opus in theirs, CAF and
// AIFF in any order through libsndfile's map. Mono and stereo need nothing stored.
void AudioWriter::StoreLayout(const ChannelLayout& layout) {
  if (!layout.Known() || static_cast<int>(layout.roles.size()) != channels_) return;
  const bool implied = channels_ <= 2 && layout == VorbisLayout(channels_);
  const int major = format_ & SF_FORMAT_TYPEMASK;
  const int codec = format_ & SF_FORMAT_SUBMASK;
  std::vector<int> order;
  ChannelLayout stored = layout;
  bool kept = false;
  if (major == SF_FORMAT_OGG && (codec == SF_FORMAT_VORBIS || codec == SF_FORMAT_OPUS)) {
    kept = VorbisOrder(layout, &order);
  } else if (major == SF_FORMAT_FLAC) {
    kept = MaskOrder(layout, &stored, &order);
    if (kept && !implied) flacMask_ = SpeakerMask(stored);
  } else if (major == SF_FORMAT_MPEG || major == SF_FORMAT_WAV) {
    kept = implied;
  } else {
    if (major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64) MaskOrder(layout, &stored, &order);
    kept = implied || sf_command(file_, SFC_SET_CHANNEL_MAP_INFO, stored.roles.data(),
                                 static_cast<int>(stored.roles.size() * sizeof(int))) == SF_TRUE;
  }
  if (!kept) {
    order.clear();
    if (!implied) {
      layoutLoss_ = FormatPartName(major) + " cannot hold the " + LayoutName(layout) +
                    " layout: the channels are written in their order without it";
    }
  }
  for (size_t c = 0; c < order.size(); ++c) {
    if (order[c] != static_cast<int>(c)) {
      order_ = order;
      break;
    }
  }
}

void AudioWriter::CopyMetadata(const AudioReader& source) {
  for (int tag = SF_STR_FIRST; tag <= SF_STR_LAST; ++tag) {
    const char* text = sf_get_string(source.Handle(), tag);
    if (text == nullptr) continue;
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.find("REPLAYGAIN") != std::string::npos) continue;
    sf_set_string(file_, tag, text);
  }
}

void AudioWriter::WriteHost(const float* host, size_t frames, int hostBits) {
  const size_t samples = frames * static_cast<size_t>(channels_);
  if (!order_.empty()) {
    const auto channels = static_cast<size_t>(channels_);
    reordered_.resize(samples);
    for (size_t i = 0; i < frames; ++i) {
      for (size_t c = 0; c < channels; ++c) {
        reordered_[i * channels + c] = host[i * channels + static_cast<size_t>(order_[c])];
      }
    }
    host = reordered_.data();
  }
  sf_count_t written = 0;
  if (encoding_.integer) {
    // Round at the output's own depth: the integer interface drops low bits without rounding.
    const int depth = encoding_.depth;
    const double scale = std::ldexp(1.0, depth - hostBits);
    const double lowest = -std::ldexp(1.0, depth - 1);
    const double highest = std::ldexp(1.0, depth - 1) - 1.0;
    integers_.resize(samples);
    for (size_t i = 0; i < samples; ++i) {
      double value = static_cast<double>(host[i]) * scale;
      if (value != value) value = 0.0;  // a NaN could only come from a float source
      // Rounds to nearest, ties to even, as nearbyint does in the default mode, without a library
      // call per sample: below 2^51 adding and taking away 1.5 x 2^52 leaves the rounded value;
      // anything larger is clamped below anyway.
      value = (value + 6755399441055744.0) - 6755399441055744.0;
      if (value < lowest) value = lowest;
      if (value > highest) value = highest;
      const auto bits = static_cast<uint32_t>(static_cast<int64_t>(value)) << (32 - depth);
      integers_[i] = static_cast<int32_t>(bits);
    }
    written = sf_writef_int(file_, integers_.data(), static_cast<sf_count_t>(frames));
  } else {
    const float scale = std::ldexp(1.0f, 1 - hostBits);
    floats_.resize(samples);
    for (size_t i = 0; i < samples; ++i) floats_[i] = host[i] * scale;
    written = sf_writef_float(file_, floats_.data(), static_cast<sf_count_t>(frames));
  }
  if (written != static_cast<sf_count_t>(frames)) {
    throw CliError(path_ + ": cannot write: " + SndfileReason(file_));
  }
  // Handing what is written to the disk as it goes leaves little for the flush at the end, which
  // the user would otherwise wait for with nothing else to do.
  constexpr int64_t kWritebackFrames = int64_t{1} << 19;
  if (!toStandardOutput_ && (written_ + static_cast<int64_t>(frames)) / kWritebackFrames != written_ / kWritebackFrames) {
    ::sync_file_range(descriptor_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  written_ += static_cast<int64_t>(frames);
}

WrittenFile AudioWriter::ReadBack(const FrameSink& sink) const {
  const std::string failure = path_ + ": the written file does not read back";
  SF_INFO info{};
  const int descriptor = ::dup(descriptor_);
  if (descriptor < 0 || ::lseek(descriptor, 0, SEEK_SET) != 0) throw CliError(failure + ": " + SystemReason(errno));
  std::unique_lock<std::mutex> lock(openMutex);
  SNDFILE* file = sf_open_fd(descriptor, SFM_READ, &info, SF_TRUE);
  if (file == nullptr) {
    ::close(descriptor);
    throw CliError(failure + ": " + SndfileReason(nullptr));
  }
  lock.unlock();
  WrittenFile result;
  result.format = info.format;
  // Plain samples need no decode to show their length; compressed ones do, since a cut-off stream
  // can still have a header that looks whole.
  const int64_t stored = sink ? -1 : StoredFrames(file, info);
  if (stored >= 0) {
    result.frames = stored;
  } else {
    const auto channels = static_cast<size_t>(std::max(info.channels, 1));
    std::vector<float> frames(4096 * channels);
    std::vector<float> host(order_.empty() ? 0 : frames.size());
    const bool reorder = !order_.empty() && info.channels == channels_;
    for (;;) {
      const sf_count_t got = sf_readf_float(file, frames.data(), 4096);
      if (got <= 0) break;
      if (sink && reorder) {
        // Back to the host's order, the one the meters were given.
        for (size_t i = 0; i < static_cast<size_t>(got); ++i) {
          for (size_t c = 0; c < channels; ++c) host[i * channels + static_cast<size_t>(order_[c])] = frames[i * channels + c];
        }
        sink(host.data(), static_cast<size_t>(got));
      } else if (sink) {
        sink(frames.data(), static_cast<size_t>(got));
      }
      result.frames += got;
    }
  }
  const int error = sf_error(file);
  const std::string reason = SndfileReason(file);
  sf_close(file);
  if (error != SF_ERR_NO_ERROR) throw CliError(failure + ": " + reason);
  const int wantedType = format_ & SF_FORMAT_TYPEMASK;
  const int gotType = info.format & SF_FORMAT_TYPEMASK;
  if (gotType != wantedType || (info.format & SF_FORMAT_SUBMASK) != (format_ & SF_FORMAT_SUBMASK) ||
      info.channels != channels_) {
    throw CliError(failure + ": it holds " + FormatName(info.format) + " instead of " +
                   FormatName(format_));
  }
  // An MP3 encoder pads the stream to whole frames; every other codec gives back what it got.
  const bool padded = (format_ & SF_FORMAT_SUBMASK) == SF_FORMAT_MPEG_LAYER_III;
  if (padded ? result.frames < written_ : result.frames != written_) {
    throw CliError(failure + ": " + std::to_string(result.frames) + " frames instead of " +
                   std::to_string(written_) + " (is the disk full?)");
  }
  return result;
}

WrittenFile AudioWriter::Commit(const FrameSink& sink) {
  const WrittenFile result = Finish(sink);
  Publish();
  return result;
}

WrittenFile AudioWriter::Finish(const FrameSink& sink) {
  const auto fail = [&](const std::string& reason) {
    Discard();
    return CliError(path_ + ": cannot write: " + reason);
  };
  if (file_ != nullptr) {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) throw fail(sf_error_number(closed));
  }
  if (flacMask_ != 0) {
    const std::string directory =
        toStandardOutput_ ? TemporaryDirectory() : std::filesystem::path(temporaryPath_).parent_path().string();
    try {
      StoreFlacChannelMask(descriptor_, flacMask_, directory.empty() ? "." : directory, path_);
    } catch (const CliError&) {
      Discard();
      throw;
    }
  }
  // On the disk before it takes the destination's name, or a crash could leave an empty file
  // where the old one was.
  if (!toStandardOutput_ && ::fsync(descriptor_) != 0) throw fail(SystemReason(errno));
  WrittenFile result;
  try {
    result = ReadBack(sink);
  } catch (const CliError&) {
    Discard();
    throw;
  }
  return result;
}

void AudioWriter::Publish() {
  const auto fail = [&](const std::string& reason) {
    Discard();
    return CliError(path_ + ": cannot write: " + reason);
  };
  if (toStandardOutput_) {
    CopyToStandardOutput();
    CloseFile();
    return;
  }
  const int descriptor = descriptor_;
  descriptor_ = -1;
  if (::close(descriptor) != 0) throw fail(SystemReason(errno));
  ThrowIfInterrupted();
  // Without -y a file that appeared meanwhile is not replaced either.
  const unsigned flags = overwrite_ ? 0 : RENAME_NOREPLACE;
  int renamed = ::renameat2(AT_FDCWD, temporaryPath_.c_str(), AT_FDCWD, renamePath_.c_str(), flags);
  if (renamed != 0 && errno == EINVAL && flags != 0) {
    // A file system without the no-replace flag: check, then rename.
    struct stat existing {};
    errno = EEXIST;
    if (::stat(renamePath_.c_str(), &existing) != 0) renamed = ::rename(temporaryPath_.c_str(), renamePath_.c_str());
  }
  if (renamed != 0) {
    const int error = errno;
    throw fail(error == EEXIST ? std::string("appeared while rendering; use -y (--overwrite) to replace it")
                               : SystemReason(error));
  }
  temporaryPath_.clear();
  ForgetTemporaryFile(temporarySlot_);
  temporarySlot_ = -1;
  // The new name itself is durable only once the directory is.
  std::filesystem::path directory = std::filesystem::path(renamePath_).parent_path();
  const int directoryDescriptor =
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryDescriptor >= 0) {
    ::fsync(directoryDescriptor);
    ::close(directoryDescriptor);
  }
}

void AudioWriter::CopyToStandardOutput() {
  if (::lseek(descriptor_, 0, SEEK_SET) != 0) throw CliError("-: cannot write: " + SystemReason(errno));
  std::vector<char> chunk(1 << 20);
  for (;;) {
    const ssize_t got = ::read(descriptor_, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      ThrowIfInterrupted();
      continue;
    }
    if (got < 0) throw CliError("-: cannot write: " + SystemReason(errno));
    if (got == 0) return;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(STDOUT_FILENO, chunk.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) {
        ThrowIfInterrupted();
        continue;
      }
      if (put < 0) throw CliError("-: cannot write: " + SystemReason(errno));
      done += put;
    }
  }
}

}  // namespace tessil::cli

#include "cli/audio_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

std::string SystemReason(int error) { return std::strerror(error); }

std::string SndfileReason(SNDFILE* file) {
  std::string reason = sf_strerror(file);
  // libsndfile ends its messages with a full stop; the caller's line has its own shape.
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  return reason;
}

// Why a file cannot be opened for reading, in the words a user expects.
std::string UnreadableReason(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) return SystemReason(error.value());
  if (std::filesystem::is_directory(status)) return "is a directory";
  if (::access(path.c_str(), R_OK) != 0) return SystemReason(errno);
  return "unsupported or unreadable audio format (" + SndfileReason(nullptr) + ")";
}

// libsndfile reports a failed open through one process-wide error slot: opens are serialised so
// that each failure reads its own reason, however many files are opened at once.
std::mutex openMutex;

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

std::string FormatInfoName(int format) {
  SF_FORMAT_INFO info{};
  info.format = format;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) != 0 || info.name == nullptr) {
    return "unknown";
  }
  return info.name;
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

std::string FormatName(int sndfileFormat) {
  return FormatInfoName(sndfileFormat & SF_FORMAT_TYPEMASK) + ", " +
         FormatInfoName(sndfileFormat & SF_FORMAT_SUBMASK);
}

AudioReader::AudioReader(const std::string& path) : path_(path) {
  std::unique_lock<std::mutex> lock(openMutex);
  file_ = sf_open(path.c_str(), SFM_READ, &info_);
  if (file_ == nullptr) throw CliError(path + ": cannot read: " + UnreadableReason(path));
  lock.unlock();
  if (info_.channels < 1 || info_.samplerate < 1) {
    sf_close(file_);
    file_ = nullptr;
    throw CliError(path + ": cannot read: no channels or no sample rate");
  }
  encoding_ = EncodingOf(info_.format);
}

AudioReader::~AudioReader() {
  if (file_ != nullptr) sf_close(file_);
}

size_t AudioReader::ReadHost(float* host, size_t frames, int hostBits) {
  const size_t samples = frames * static_cast<size_t>(info_.channels);
  sf_count_t got = 0;
  if (encoding_.integer) {
    integers_.resize(samples);
    got = sf_readf_int(file_, integers_.data(), static_cast<sf_count_t>(frames));
    // 2^(bits - 32) is exact, and so is the product for every depth up to 24 bits.
    const float scale = std::ldexp(1.0f, hostBits - 32);
    const size_t count = static_cast<size_t>(got) * static_cast<size_t>(info_.channels);
    for (size_t i = 0; i < count; ++i) host[i] = static_cast<float>(integers_[i]) * scale;
  } else {
    got = sf_readf_float(file_, host, static_cast<sf_count_t>(frames));
    const float scale = std::ldexp(1.0f, hostBits - 1);
    const size_t count = static_cast<size_t>(got) * static_cast<size_t>(info_.channels);
    for (size_t i = 0; i < count; ++i) host[i] *= scale;
  }
  if (got < static_cast<sf_count_t>(frames) && sf_error(file_) != SF_ERR_NO_ERROR) {
    throw CliError(path_ + ": read error: " + SndfileReason(file_));
  }
  return got < 0 ? 0 : static_cast<size_t>(got);
}

AudioWriter::AudioWriter(const std::string& path, int sndfileFormat, int sampleRate, int channels)
    : path_(path), channels_(channels), encoding_(EncodingOf(sndfileFormat)) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = sndfileFormat;
  if (!sf_format_check(&info)) {
    throw CliError(path + ": cannot write: libsndfile cannot write " + FormatName(sndfileFormat) +
                   " with " + std::to_string(channels) + " channels at " +
                   std::to_string(sampleRate) + " Hz");
  }
  std::filesystem::path destination(path);
  std::error_code error;
  const auto status = std::filesystem::status(destination, error);
  if (std::filesystem::is_directory(status)) throw CliError(path + ": cannot write: is a directory");
  if (std::filesystem::exists(status)) {
    // The finished file replaces the destination by renaming: a device or a pipe there must not
    // be swapped for a regular file, and a link keeps pointing where it did.
    if (!std::filesystem::is_regular_file(status)) {
      throw CliError(path + ": cannot write: not a regular file");
    }
    destination = std::filesystem::canonical(destination, error);
    if (error) throw CliError(path + ": cannot write: " + error.message());
  }
  renamePath_ = destination.string();
  std::filesystem::path directory = destination.parent_path();
  if (directory.empty()) directory = ".";
  std::string pattern = (directory / ("." + destination.filename().string() + ".tessil-XXXXXX")).string();
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor < 0) throw CliError(path + ": cannot write: " + SystemReason(errno));
  temporaryPath_ = pattern;
  // mkstemp creates the file private; the result should look like any other new file.
  ::fchmod(descriptor, CreationMode());
  // The descriptor stays ours (libsndfile does not close it), so that it is closed exactly once
  // whether the open succeeds or not.
  descriptor_ = descriptor;
  std::unique_lock<std::mutex> lock(openMutex);
  file_ = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
  if (file_ == nullptr) {
    const std::string reason = SndfileReason(nullptr);
    lock.unlock();
    Discard();
    throw CliError(path + ": cannot write: " + reason);
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
}

void AudioWriter::CopyMetadata(const AudioReader& source) {
  std::vector<int> map(static_cast<size_t>(channels_));
  const int mapBytes = static_cast<int>(map.size() * sizeof(int));
  if (source.Channels() == channels_ &&
      sf_command(source.Handle(), SFC_GET_CHANNEL_MAP_INFO, map.data(), mapBytes) == SF_TRUE) {
    sf_command(file_, SFC_SET_CHANNEL_MAP_INFO, map.data(), mapBytes);
  }
  for (int tag = SF_STR_FIRST; tag <= SF_STR_LAST; ++tag) {
    if (const char* text = sf_get_string(source.Handle(), tag)) sf_set_string(file_, tag, text);
  }
}

void AudioWriter::WriteHost(const float* host, size_t frames, int hostBits) {
  const size_t samples = frames * static_cast<size_t>(channels_);
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
      value = std::nearbyint(value);
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
}

void AudioWriter::Commit() {
  const int closed = CloseFile();
  if (closed != 0) {
    const std::string reason = sf_error_number(closed);
    Discard();
    throw CliError(path_ + ": cannot write: " + reason);
  }
  if (::rename(temporaryPath_.c_str(), renamePath_.c_str()) != 0) {
    const int error = errno;
    Discard();
    throw CliError(path_ + ": cannot write: " + SystemReason(error));
  }
  temporaryPath_.clear();
}

}  // namespace tessil::cli

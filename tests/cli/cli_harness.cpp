#include "cli/cli_harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace tessil::cli_test {

namespace {

std::string TemporaryRoot() {
  const char* root = std::getenv("TMPDIR");
  return root != nullptr && *root != '\0' ? root : "/tmp";
}

int CaptureFile(std::string* path) {
  std::string pattern = TemporaryRoot() + "/tessil-cli-capture-XXXXXX";
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor < 0) throw std::runtime_error("mkstemp failed");
  *path = pattern;
  return descriptor;
}

}  // namespace

RunResult RunTessil(const std::vector<std::string>& arguments) {
  std::string outPath;
  std::string errPath;
  const int out = CaptureFile(&outPath);
  const int err = CaptureFile(&errPath);
  std::vector<std::string> all = {TESSIL_CLI_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int raw = 0;
  ::waitpid(child, &raw, 0);
  ::close(out);
  ::close(err);
  RunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  result.out = FileBytes(outPath);
  result.err = FileBytes(errPath);
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
  return result;
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = TemporaryRoot() + "/tessil-cli-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchDirectory::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WritePcm(const std::string& path, int format, int rate, int channels, int depth,
              const std::vector<int32_t>& samples) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  std::vector<int> shifted(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    shifted[i] = static_cast<int>(static_cast<uint32_t>(samples[i]) << (32 - depth));
  }
  sf_write_int(file, shifted.data(), static_cast<sf_count_t>(shifted.size()));
  sf_close(file);
}

std::vector<int32_t> ReadPcm(const std::string& path, int depth, SF_INFO* info) {
  *info = SF_INFO{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, info);
  if (file == nullptr) throw std::runtime_error("cannot read " + path);
  std::vector<int> raw(static_cast<size_t>(info->frames * info->channels));
  sf_read_int(file, raw.data(), static_cast<sf_count_t>(raw.size()));
  sf_close(file);
  std::vector<int32_t> samples(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) samples[i] = raw[i] >> (32 - depth);
  return samples;
}

void WriteFloats(const std::string& path, int rate, int channels, const std::vector<float>& samples) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
}

std::vector<float> ReadFloats(const std::string& path, SF_INFO* info) {
  *info = SF_INFO{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, info);
  if (file == nullptr) throw std::runtime_error("cannot read " + path);
  std::vector<float> samples(static_cast<size_t>(info->frames * info->channels));
  sf_read_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
  return samples;
}

std::vector<int32_t> TestNoise(size_t samples, int32_t amplitude, uint32_t seed) {
  std::vector<int32_t> noise(samples);
  uint32_t state = seed;
  for (int32_t& sample : noise) {
    state = state * 1664525u + 1013904223u;
    const double unit = static_cast<double>(state >> 8) / 16777216.0 * 2.0 - 1.0;
    sample = static_cast<int32_t>(std::lround(unit * amplitude));
  }
  return noise;
}

std::string FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

double JsonNumber(const std::string& json, const std::string& object, const std::string& key) {
  size_t from = 0;
  if (!object.empty()) {
    from = json.find("\"" + object + "\"");
    if (from == std::string::npos) return std::numeric_limits<double>::quiet_NaN();
  }
  const size_t at = json.find("\"" + key + "\":", from);
  if (at == std::string::npos) return std::numeric_limits<double>::quiet_NaN();
  const char* start = json.c_str() + at + key.size() + 3;
  char* end = nullptr;
  const double value = std::strtod(start, &end);
  return end == start ? std::numeric_limits<double>::quiet_NaN() : value;
}

}  // namespace tessil::cli_test

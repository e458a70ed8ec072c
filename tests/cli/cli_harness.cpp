#include "cli/cli_harness.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
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
#include <thread>

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

namespace {

struct Spawned {
  pid_t pid = -1;
  std::string outPath;
  std::string errPath;
  int outFile = -1;
  int errFile = -1;
};

// Starts tessil with stderr (and stdout unless `stdoutFd` is given) captured in files.
Spawned Spawn(const std::vector<std::string>& arguments, int stdinFd, int stdoutFd, const std::vector<int>& closeInChild) {
  Spawned spawned;
  spawned.outFile = CaptureFile(&spawned.outPath);
  spawned.errFile = CaptureFile(&spawned.errPath);
  std::vector<std::string> all = {TESSIL_CLI_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  spawned.pid = ::fork();
  if (spawned.pid == 0) {
    if (stdinFd >= 0) ::dup2(stdinFd, STDIN_FILENO);
    ::dup2(stdoutFd >= 0 ? stdoutFd : spawned.outFile, STDOUT_FILENO);
    ::dup2(spawned.errFile, STDERR_FILENO);
    for (const int descriptor : closeInChild) ::close(descriptor);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return spawned;
}

RunResult Wait(Spawned& spawned) {
  int raw = 0;
  struct rusage usage {};
  ::wait4(spawned.pid, &raw, 0, &usage);
  ::close(spawned.outFile);
  ::close(spawned.errFile);
  RunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  result.peakKiB = usage.ru_maxrss;
  result.out = FileBytes(spawned.outPath);
  result.err = FileBytes(spawned.errPath);
  ::unlink(spawned.outPath.c_str());
  ::unlink(spawned.errPath.c_str());
  return result;
}

}  // namespace

RunResult RunTessil(const std::vector<std::string>& arguments) {
  Spawned spawned = Spawn(arguments, -1, -1, {});
  return Wait(spawned);
}

RunResult RunTessilPiped(const std::vector<std::string>& arguments, const std::string& input) {
  int in[2];
  int out[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe failed");
  Spawned spawned = Spawn(arguments, in[0], out[1], {in[0], in[1], out[0], out[1]});
  ::close(in[0]);
  ::close(out[1]);
  // The writer runs beside the reader, so neither side can fill its pipe and wait for ever.
  std::thread writer([&] {
    ::signal(SIGPIPE, SIG_IGN);
    for (size_t done = 0; done < input.size();) {
      const ssize_t put = ::write(in[1], input.data() + done, input.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::close(in[1]);
  });
  std::string output;
  char chunk[65536];
  for (ssize_t got; (got = ::read(out[0], chunk, sizeof(chunk))) > 0;) output.append(chunk, static_cast<size_t>(got));
  ::close(out[0]);
  writer.join();
  RunResult result = Wait(spawned);
  result.out = output;
  return result;
}

RunResult RunTessilOnTerminal(const std::vector<std::string>& arguments) {
  std::vector<std::string> all = {TESSIL_CLI_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) throw std::runtime_error("forkpty failed");
  if (child == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  RunResult result;
  char chunk[4096];
  // Reading ends with EIO once the child has gone and the terminal has no writer left.
  for (ssize_t got; (got = ::read(terminal, chunk, sizeof(chunk))) > 0;) result.out.append(chunk, static_cast<size_t>(got));
  ::close(terminal);
  int raw = 0;
  ::waitpid(child, &raw, 0);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return result;
}

RunResult RunTessilAndSignal(const std::vector<std::string>& arguments, int signal, const std::function<bool()>& ready) {
  Spawned spawned = Spawn(arguments, -1, -1, {});
  for (int waited = 0; waited < 10000 && !ready(); ++waited) ::usleep(1000);
  ::kill(spawned.pid, signal);
  return Wait(spawned);
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

void WriteFloats(const std::string& path, int rate, int channels, const std::vector<float>& samples, int format,
                 const std::vector<int>& channelMap) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
  if (!channelMap.empty()) {
    sf_command(file, SFC_SET_CHANNEL_MAP_INFO, const_cast<int*>(channelMap.data()),
               static_cast<int>(channelMap.size() * sizeof(int)));
  }
  const auto written = sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  if (sf_close(file) != 0 || written != static_cast<sf_count_t>(samples.size())) {
    throw std::runtime_error("cannot write the whole of " + path);
  }
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

// The published K-weighting sections, mean squares over 400 ms blocks every 100 ms, the absolute
// (-70 LUFS) and relative (-10 LU) gates.
double IntegratedLoudness48k(const std::vector<double>& interleaved, int channels, const std::vector<double>& weights) {
  struct Section {
    double b0, b1, b2, a1, a2;
  };
  const Section shelf = {1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                         0.73248077421585};
  const Section highPass = {1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
  const size_t frames = interleaved.size() / static_cast<size_t>(channels);
  std::vector<double> energy(frames, 0.0);  // weighted square, summed over the channels
  for (int c = 0; c < channels; ++c) {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0, u1 = 0, u2 = 0, v1 = 0, v2 = 0;
    for (size_t i = 0; i < frames; ++i) {
      const double x = interleaved[i * channels + c];
      const double y = shelf.b0 * x + shelf.b1 * x1 + shelf.b2 * x2 - shelf.a1 * y1 - shelf.a2 * y2;
      x2 = x1, x1 = x, y2 = y1, y1 = y;
      const double v = highPass.b0 * y + highPass.b1 * u1 + highPass.b2 * u2 - highPass.a1 * v1 - highPass.a2 * v2;
      u2 = u1, u1 = y, v2 = v1, v1 = v;
      energy[i] += (weights.empty() ? 1.0 : weights[static_cast<size_t>(c)]) * v * v;
    }
  }
  const size_t block = 19200;
  const size_t step = 4800;
  std::vector<double> blocks;
  for (size_t start = 0; start + block <= frames; start += step) {
    double sum = 0;
    for (size_t i = start; i < start + block; ++i) sum += energy[i];
    blocks.push_back(sum / block);
  }
  const auto loudness = [](double z) { return -0.691 + 10.0 * std::log10(z); };
  const auto gatedMean = [&](double threshold) {
    double sum = 0;
    size_t count = 0;
    for (double z : blocks) {
      if (loudness(z) > threshold) sum += z, ++count;
    }
    return sum / count;
  };
  const double relative = loudness(gatedMean(-70.0)) - 10.0;
  return loudness(gatedMean(std::max(-70.0, relative)));
}

}  // namespace tessil::cli_test

// Process throughput of two builds of the module side by side in one run: each build's shared
// library is loaded on its own and driven through the exported manager, with stereo 16-bit
// programme-like material at default settings.
//
//   process_compare NAME=path/libtessil.so [NAME=path ...] [benchmark flags]
//   process_compare --count NAME=path RATE FRAMES SECONDS   (one fixed run, for callgrind)
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tessil/tessil.h"

namespace {

using CreateManager = ITessilManager* (*)();

struct Build {
  std::string name;
  CreateManager create = nullptr;
};

std::vector<float> Programme(int rate, int frames) {
  std::vector<float> samples(static_cast<size_t>(frames) * 2);
  uint32_t noise = 1;
  for (int i = 0; i < frames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / rate;
    const double envelope = (i / (rate / 4)) % 2 == 0 ? 0.8 : 0.05;
    const double tone = std::sin(2 * M_PI * 220 * t) * 0.5 + std::sin(2 * M_PI * 3100 * t) * 0.2;
    const double hiss = (static_cast<int32_t>(noise) / 2147483648.0) * 0.1;
    samples[2 * i] = static_cast<float>((tone + hiss) * envelope * 32767.0);
    samples[2 * i + 1] = static_cast<float>((tone * 0.8 - hiss) * envelope * 32767.0);
  }
  return samples;
}

// One stream of `rate` in `frames`-frame buffers; `buffers` < 0 runs under the benchmark loop.
class Stream {
 public:
  Stream(const Build& build, int rate, int frames)
      : manager_(build.create()), input_(Programme(rate, rate)), frames_(frames) {
    processor_ = manager_->CreateProcessor();
    processor_->Init(static_cast<ULONG>(rate), 16, 2, 0);
    output_.resize(static_cast<size_t>(frames) * 2);
  }
  ~Stream() {
    processor_->Release();
    manager_->Release();
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  void Next() {
    if (position_ + output_.size() > input_.size()) position_ = 0;
    processor_->Process(input_.data() + position_, static_cast<ULONG>(frames_), output_.data(),
                        0);
    benchmark::DoNotOptimize(output_.data());
    position_ += output_.size();
  }

 private:
  ITessilManager* manager_;
  IStreamProcessor* processor_ = nullptr;
  std::vector<float> input_;
  std::vector<float> output_;
  int frames_;
  size_t position_ = 0;
};

void RunProcess(benchmark::State& state, Build build, int rate, int frames) {
  Stream stream(build, rate, frames);
  for (auto _ : state) stream.Next();
  state.counters["realtime_factor"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * frames / rate, benchmark::Counter::kIsRate);
}

bool LoadBuild(const char* argument, Build* build) {
  const char* equals = std::strchr(argument, '=');
  if (equals == nullptr) return false;
  build->name.assign(argument, equals);
  void* library = dlopen(equals + 1, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", equals + 1, dlerror());
    std::exit(2);
  }
  build->create = reinterpret_cast<CreateManager>(dlsym(library, "CreateTessilManager"));
  if (build->create == nullptr) {
    std::fprintf(stderr, "%s has no CreateTessilManager\n", equals + 1);
    std::exit(2);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--count") == 0) {
    Build build;
    if (!LoadBuild(argv[2], &build)) return 2;
    const int rate = std::atoi(argv[3]), frames = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]);
    Stream stream(build, rate, frames);
    for (long buffer = 0; buffer < static_cast<long>(seconds * rate / frames); ++buffer) {
      stream.Next();
    }
    return 0;
  }

  std::vector<Build> builds;
  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    Build build;
    if (argv[i][0] != '-' && LoadBuild(argv[i], &build)) {
      builds.push_back(build);
    } else {
      rest.push_back(argv[i]);
    }
  }
  for (const auto& [rate, frames] : {std::pair{48000, 480}, std::pair{44100, 441}}) {
    for (const Build& build : builds) {
      const std::string name =
          "Process/" + std::to_string(rate) + "/" + std::to_string(frames) + "/" + build.name;
      benchmark::RegisterBenchmark(name.c_str(), RunProcess, build, rate, frames);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

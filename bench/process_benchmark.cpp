// Throughput of the whole stream path as a host drives it: 480-frame stereo buffers at 48 kHz,
// 16-bit scale, default settings, programme-like material.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tessil/tessil.h"

namespace {

std::vector<float> Programme(int frames) {
  std::vector<float> samples(static_cast<size_t>(frames) * 2);
  uint32_t noise = 1;
  for (int i = 0; i < frames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = i / 48000.0;
    const double envelope = (i / 12000) % 2 == 0 ? 0.8 : 0.05;
    const double tone = std::sin(2 * M_PI * 220 * t) * 0.5 + std::sin(2 * M_PI * 3100 * t) * 0.2;
    const double hiss = (static_cast<int32_t>(noise) / 2147483648.0) * 0.1;
    samples[2 * i] = static_cast<float>((tone + hiss) * envelope * 32767.0);
    samples[2 * i + 1] = static_cast<float>((tone * 0.8 - hiss) * envelope * 32767.0);
  }
  return samples;
}

void ProcessStereo48k(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  ITessilManager* manager = CreateTessilManager();
  IStreamProcessor* processor = manager->CreateProcessor();
  processor->Init(48000, 16, 2, 0);
  const std::vector<float> input = Programme(48000);
  std::vector<float> output(static_cast<size_t>(frames) * 2);
  size_t position = 0;
  for (auto _ : state) {
    if (position + output.size() > input.size()) position = 0;
    processor->Process(input.data() + position, static_cast<ULONG>(frames), output.data(), 0);
    benchmark::DoNotOptimize(output.data());
    position += output.size();
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * frames,
                         benchmark::Counter::kIsRate);
  state.counters["realtime_factor"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * frames / 48000.0,
                         benchmark::Counter::kIsRate);
  processor->Release();
  manager->Release();
}
BENCHMARK(ProcessStereo48k)->Arg(480)->Arg(441);

}  // namespace

BENCHMARK_MAIN();

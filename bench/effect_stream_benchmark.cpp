// Per-call cost of the plugins' way through the driver: EffectStream::Run on planar stereo in
// calls of 64 and 256 frames, beside the driver's own Process on the same buffers, at a native
// rate and at two resampled ones. The difference between the two is what the host layer adds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "host/effect_stream.h"
#include "host/handles.h"

namespace {

using tessil::host::EffectStream;

struct Planar {
  std::vector<float> left;
  std::vector<float> right;
};

Planar Programme(uint32_t rate, size_t frames) {
  Planar signal{std::vector<float>(frames), std::vector<float>(frames)};
  uint32_t noise = 1;
  for (size_t i = 0; i < frames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / rate;
    const double envelope = (i / (rate / 4)) % 2 == 0 ? 0.8 : 0.05;
    const double tone = std::sin(2 * M_PI * 220 * t) * 0.5 + std::sin(2 * M_PI * 3100 * t) * 0.2;
    const double hiss = (static_cast<int32_t>(noise) / 2147483648.0) * 0.1;
    signal.left[i] = static_cast<float>((tone + hiss) * envelope);
    signal.right[i] = static_cast<float>((tone * 0.8 - hiss) * envelope);
  }
  return signal;
}

// args: rate, frames per call
void StreamRun(benchmark::State& state) {
  const auto rate = static_cast<uint32_t>(state.range(0));
  const auto frames = static_cast<uint32_t>(state.range(1));
  tessil::host::ManagerHandle manager = tessil::host::CreateManager();
  EffectStream stream(manager.get(), rate);
  const Planar input = Programme(rate, rate);
  Planar output{std::vector<float>(frames), std::vector<float>(frames)};
  size_t position = 0;
  for (auto _ : state) {
    if (position + frames > input.left.size()) position = 0;
    const float* in[2] = {input.left.data() + position, input.right.data() + position};
    float* out[2] = {output.left.data(), output.right.data()};
    stream.Run(in, out, frames, true);
    benchmark::DoNotOptimize(output.left.data());
    position += frames;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * frames);
}

// The driver alone on interleaved host buffers of the same size, at the native rate.
void DriverProcess(benchmark::State& state) {
  const auto rate = static_cast<uint32_t>(state.range(0));
  const auto frames = static_cast<uint32_t>(state.range(1));
  tessil::host::ManagerHandle manager = tessil::host::CreateManager();
  tessil::host::ProcessorHandle processor = tessil::host::CreateProcessor(manager.get());
  processor->Init(rate, 32, 2, 0);
  const Planar planar = Programme(rate, rate);
  std::vector<float> input(planar.left.size() * 2);
  for (size_t i = 0; i < planar.left.size(); ++i) {
    input[2 * i] = planar.left[i] * 0x1p31f;
    input[2 * i + 1] = planar.right[i] * 0x1p31f;
  }
  std::vector<float> output(size_t{frames} * 2);
  size_t position = 0;
  for (auto _ : state) {
    if (position + frames > planar.left.size()) position = 0;
    processor->Process(input.data() + 2 * position, frames, output.data(), 0);
    benchmark::DoNotOptimize(output.data());
    position += frames;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * frames);
}

}  // namespace

BENCHMARK(DriverProcess)->ArgNames({"rate", "frames"})->Args({48000, 64})->Args({48000, 256});
BENCHMARK(StreamRun)
    ->ArgNames({"rate", "frames"})
    ->Args({48000, 64})
    ->Args({48000, 256})
    ->Args({44100, 256})
    ->Args({96000, 256})
    ->Args({22050, 256});

BENCHMARK_MAIN();

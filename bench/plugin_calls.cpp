// Per-call time of LV2 plugins in one lilv host: each plugin runs the same file in calls of a
// fixed size, the plugins taking turns round by round so that they share the machine's state.
//   plugin_calls FILE FRAMES ROUNDS URI...
// A URI written bare:URI leaves the plugin's control outputs (its meters) unconnected, for
// plugins whose outputs are optional.
// Prints, per plugin, the mean, median, 99th percentile and worst time of one run() call. On a
// machine others use, the worst call and the mean carry their preemptions; the median does not.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// The URID map lsp's plugins require.
struct UridMap {
  std::map<std::string, LV2_URID> ids;
  static LV2_URID Map(LV2_URID_Map_Handle handle, const char* uri) {
    auto* self = static_cast<UridMap*>(handle);
    auto [it, added] = self->ids.emplace(uri, static_cast<LV2_URID>(self->ids.size() + 1));
    return it->second;
  }
};

struct Plugin {
  std::string uri;
  LilvInstance* instance = nullptr;
  std::vector<std::vector<float>> inputs;   // per audio input, one call's worth
  std::vector<std::vector<float>> outputs;  // per audio output
  std::vector<float> controls;              // every port's control value
  std::vector<double> nanoseconds;          // per call, over all rounds
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s FILE FRAMES ROUNDS URI...\n", argv[0]);
    return 2;
  }
  const uint32_t frames = static_cast<uint32_t>(std::atoi(argv[2]));
  const int rounds = std::atoi(argv[3]);
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
  if (file == nullptr || info.channels != 2) {
    std::fprintf(stderr, "%s: need a stereo file\n", argv[1]);
    return 1;
  }
  std::vector<float> audio(static_cast<size_t>(info.frames) * 2);
  sf_readf_float(file, audio.data(), info.frames);
  sf_close(file);

  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  const LilvPlugins* all = lilv_world_get_all_plugins(world);
  LilvNode* audioClass = lilv_new_uri(world, LILV_URI_AUDIO_PORT);
  LilvNode* controlClass = lilv_new_uri(world, LILV_URI_CONTROL_PORT);
  LilvNode* inputClass = lilv_new_uri(world, LILV_URI_INPUT_PORT);
  UridMap urids;
  LV2_URID_Map map = {&urids, UridMap::Map};
  const LV2_Feature mapFeature = {LV2_URID__map, &map};
  const LV2_Feature* features[] = {&mapFeature, nullptr};

  std::vector<std::unique_ptr<Plugin>> plugins;
  for (int i = 4; i < argc; ++i) {
    const std::string given = argv[i];
    const bool bare = given.rfind("bare:", 0) == 0;
    const std::string name = bare ? given.substr(5) : given;
    LilvNode* uri = lilv_new_uri(world, name.c_str());
    const LilvPlugin* found = lilv_plugins_get_by_uri(all, uri);
    lilv_node_free(uri);
    if (found == nullptr) {
      std::fprintf(stderr, "%s: not found on LV2_PATH\n", name.c_str());
      return 1;
    }
    auto plugin = std::make_unique<Plugin>();
    plugin->uri = bare ? name + ",meters-off" : name;
    plugin->instance = lilv_plugin_instantiate(found, info.samplerate, features);
    if (plugin->instance == nullptr) {
      std::fprintf(stderr, "%s: did not instantiate\n", argv[i]);
      return 1;
    }
    const uint32_t ports = lilv_plugin_get_num_ports(found);
    plugin->controls.assign(ports, 0.0f);
    std::vector<float> defaults(ports);
    lilv_plugin_get_port_ranges_float(found, nullptr, nullptr, defaults.data());
    plugin->inputs.reserve(ports);
    plugin->outputs.reserve(ports);
    // Every audio and control port connected, as a host connects them; others left optional.
    for (uint32_t p = 0; p < ports; ++p) {
      const LilvPort* port = lilv_plugin_get_port_by_index(found, p);
      const bool input = lilv_port_is_a(found, port, inputClass);
      if (lilv_port_is_a(found, port, audioClass)) {
        auto& buffers = input ? plugin->inputs : plugin->outputs;
        buffers.emplace_back(frames, 0.0f);
        lilv_instance_connect_port(plugin->instance, p, buffers.back().data());
      } else if (lilv_port_is_a(found, port, controlClass) && (input || !bare)) {
        plugin->controls[p] = std::isnan(defaults[p]) ? 0.0f : defaults[p];
        lilv_instance_connect_port(plugin->instance, p, &plugin->controls[p]);
      }
    }
    lilv_instance_activate(plugin->instance);
    plugins.push_back(std::move(plugin));
  }

  const size_t total = static_cast<size_t>(info.frames) / frames;
  for (int round = 0; round < rounds; ++round) {
    for (auto& plugin : plugins) {
      for (size_t call = 0; call < total; ++call) {
        const float* source = audio.data() + call * frames * 2;
        for (size_t c = 0; c < plugin->inputs.size(); ++c) {
          for (uint32_t i = 0; i < frames; ++i) plugin->inputs[c][i] = source[2 * i + c];
        }
        const auto start = std::chrono::steady_clock::now();
        lilv_instance_run(plugin->instance, frames);
        const auto end = std::chrono::steady_clock::now();
        // The first round warms caches and the plugins' own state up.
        if (round > 0) plugin->nanoseconds.push_back(std::chrono::duration<double, std::nano>(end - start).count());
      }
    }
  }
  for (auto& plugin : plugins) {
    std::vector<double>& times = plugin->nanoseconds;
    if (times.empty()) continue;  // one round only warms up
    double sum = 0.0;
    for (const double t : times) sum += t;
    std::sort(times.begin(), times.end());
    std::printf("%-46s %4u frames  mean %7.0f ns  median %7.0f ns  p99 %7.0f ns  worst %9.0f ns\n",
                plugin->uri.c_str(), frames, sum / static_cast<double>(times.size()), times[times.size() / 2],
                times[times.size() * 99 / 100], times.back());
    lilv_instance_deactivate(plugin->instance);
    lilv_instance_free(plugin->instance);
  }
  lilv_node_free(audioClass);
  lilv_node_free(controlClass);
  lilv_node_free(inputClass);
  lilv_world_free(world);
  return 0;
}

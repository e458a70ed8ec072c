#include "plugin_loader.h"

#include <dlfcn.h>
#include <ladspa.h>
#include <lv2/core/lv2.h>

#include <stdexcept>

#include "host/plugin_ports.h"

namespace tessil::plugin_test {

namespace {

void* Open(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) throw std::runtime_error(dlerror());
  return library;
}

// LADSPA and LV2 descriptors differ only in how they instantiate; the rest is driven alike.
template <typename Descriptor, typename Handle>
class Loaded final : public LoadedPlugin {
 public:
  Loaded(void* library, const Descriptor* descriptor, Handle handle, uint32_t channels)
      : LoadedPlugin(channels), library_(library), descriptor_(descriptor), handle_(handle) {
    if (handle_ == nullptr) {
      dlclose(library_);
      throw std::runtime_error("instantiate failed");
    }
    for (uint32_t i = 0; i < layout_.controls; ++i) Connect(layout_.firstControl + i, &controls_[i]);
    for (uint32_t i = 0; i < host::kHostPortCount; ++i) Connect(layout_.firstHostPort + i, &hostValues_[i]);
    descriptor_->activate(handle_);
  }
  ~Loaded() override {
    descriptor_->cleanup(handle_);
    dlclose(library_);
  }
  void Run(const float* const* in, float* const* out, uint32_t frames) override {
    for (uint32_t c = 0; c < layout_.channels; ++c) {
      Connect(c, const_cast<float*>(in[c]));
      Connect(layout_.channels + c, out[c]);
    }
    descriptor_->run(handle_, frames);
  }

 private:
  void Connect(size_t port, float* location) {
    descriptor_->connect_port(handle_, static_cast<uint32_t>(port), location);
  }

  void* library_;
  const Descriptor* descriptor_;
  Handle handle_;
};

// The library's stereo (index 0) or mono (index 1) descriptor, as its format's entry point hands
// it out.
template <typename Descriptor, typename Function>
const Descriptor* DescriptorFor(void* library, const char* entryPoint, uint32_t channels) {
  auto entry = reinterpret_cast<Function>(dlsym(library, entryPoint));
  const Descriptor* descriptor = entry != nullptr ? entry(channels == 1 ? 1 : 0) : nullptr;
  if (descriptor == nullptr) {
    dlclose(library);
    throw std::runtime_error("no descriptor");
  }
  return descriptor;
}

}  // namespace

LoadedPlugin::LoadedPlugin(uint32_t channels) : layout_(channels) {
  for (const host::ControlPort& port : host::ControlPorts(channels)) {
    controls_.push_back(static_cast<float>(port.property->defaultValue));
  }
  for (uint32_t i = 0; i < host::kHostPortCount; ++i) hostValues_[i] = host::kHostPorts[i].defaultValue;
}

void LoadedPlugin::Set(const std::string& name, float value) {
  const std::vector<host::ControlPort>& ports = host::ControlPorts(layout_.channels);
  for (size_t i = 0; i < ports.size(); ++i) {
    if (ports[i].name == name) {
      controls_[i] = value;
      return;
    }
  }
  for (uint32_t i = 0; i < host::kHostPortCount; ++i) {
    if (!host::kHostPorts[i].output && name == host::kHostPorts[i].symbol) {
      hostValues_[i] = value;
      return;
    }
  }
  throw std::runtime_error("no port " + name);
}

std::unique_ptr<LoadedPlugin> LoadLadspa(const std::string& path, unsigned long rate, uint32_t channels) {
  void* library = Open(path);
  const auto* descriptor =
      DescriptorFor<LADSPA_Descriptor, LADSPA_Descriptor_Function>(library, "ladspa_descriptor", channels);
  return std::make_unique<Loaded<LADSPA_Descriptor, LADSPA_Handle>>(
      library, descriptor, descriptor->instantiate(descriptor, rate), channels);
}

std::unique_ptr<LoadedPlugin> LoadLv2(const std::string& bundle, double rate, uint32_t channels) {
  void* library = Open(bundle + "/tessil.so");
  const auto* descriptor =
      DescriptorFor<LV2_Descriptor, LV2_Descriptor_Function>(library, "lv2_descriptor", channels);
  const LV2_Feature* features[] = {nullptr};
  return std::make_unique<Loaded<LV2_Descriptor, LV2_Handle>>(
      library, descriptor, descriptor->instantiate(descriptor, rate, bundle.c_str(), features), channels);
}

size_t LadspaLatency(const std::string& path, unsigned long rate) {
  auto plugin = LoadLadspa(path, rate);
  float frame[1] = {0.0f};
  float out[2][1];
  plugin->Run(frame, frame, out[0], out[1], 1);
  return static_cast<size_t>(plugin->Latency());
}

}  // namespace tessil::plugin_test

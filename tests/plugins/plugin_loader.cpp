#include "plugin_loader.h"

#include <dlfcn.h>
#include <ladspa.h>
#include <lv2/core/lv2.h>

#include <stdexcept>

#include "host/plugin_ports.h"

namespace tessil::plugin_test {

namespace {

std::vector<float> DefaultControls() {
  std::vector<float> values;
  for (const host::ControlPort& port : host::ControlPorts()) {
    values.push_back(static_cast<float>(port.property->defaultValue));
  }
  return values;
}

void* Open(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) throw std::runtime_error(dlerror());
  return library;
}

// LADSPA and LV2 descriptors differ only in how they instantiate; the rest is driven alike.
template <typename Descriptor, typename Handle>
class Loaded final : public LoadedPlugin {
 public:
  Loaded(void* library, const Descriptor* descriptor, Handle handle)
      : library_(library), descriptor_(descriptor), handle_(handle) {
    if (handle_ == nullptr) {
      dlclose(library_);
      throw std::runtime_error("instantiate failed");
    }
    controls_ = DefaultControls();
    for (size_t i = 0; i < controls_.size(); ++i) Connect(host::kAudioPorts + i, &controls_[i]);
    Connect(host::kAudioPorts + controls_.size(), &latency_);
    descriptor_->activate(handle_);
  }
  ~Loaded() override {
    descriptor_->cleanup(handle_);
    dlclose(library_);
  }
  void Run(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames) override {
    Connect(0, const_cast<float*>(left));
    Connect(1, const_cast<float*>(right));
    Connect(2, outLeft);
    Connect(3, outRight);
    descriptor_->run(handle_, frames);
  }
  float Latency() const override { return latency_; }

 private:
  void Connect(size_t port, float* location) {
    descriptor_->connect_port(handle_, static_cast<uint32_t>(port), location);
  }

  void* library_;
  const Descriptor* descriptor_;
  Handle handle_;
};

// The library's first descriptor, as its format's entry point hands it out.
template <typename Descriptor, typename Function>
const Descriptor* FirstDescriptor(void* library, const char* entryPoint) {
  auto entry = reinterpret_cast<Function>(dlsym(library, entryPoint));
  const Descriptor* descriptor = entry != nullptr ? entry(0) : nullptr;
  if (descriptor == nullptr) {
    dlclose(library);
    throw std::runtime_error("no descriptor");
  }
  return descriptor;
}

}  // namespace

void LoadedPlugin::Set(const std::string& name, float value) {
  const std::vector<host::ControlPort>& ports = host::ControlPorts();
  for (size_t i = 0; i < ports.size(); ++i) {
    if (ports[i].name == name) {
      controls_[i] = value;
      return;
    }
  }
  throw std::runtime_error("no port " + name);
}

std::unique_ptr<LoadedPlugin> LoadLadspa(const std::string& path, unsigned long rate) {
  void* library = Open(path);
  const auto* descriptor =
      FirstDescriptor<LADSPA_Descriptor, LADSPA_Descriptor_Function>(library, "ladspa_descriptor");
  return std::make_unique<Loaded<LADSPA_Descriptor, LADSPA_Handle>>(
      library, descriptor, descriptor->instantiate(descriptor, rate));
}

std::unique_ptr<LoadedPlugin> LoadLv2(const std::string& bundle, double rate) {
  void* library = Open(bundle + "/tessil.so");
  const auto* descriptor =
      FirstDescriptor<LV2_Descriptor, LV2_Descriptor_Function>(library, "lv2_descriptor");
  const LV2_Feature* features[] = {nullptr};
  return std::make_unique<Loaded<LV2_Descriptor, LV2_Handle>>(
      library, descriptor, descriptor->instantiate(descriptor, rate, bundle.c_str(), features));
}

size_t LadspaLatency(const std::string& path, unsigned long rate) {
  auto plugin = LoadLadspa(path, rate);
  float frame[1] = {0.0f};
  float out[2][1];
  plugin->Run(frame, frame, out[0], out[1], 1);
  return static_cast<size_t>(plugin->Latency());
}

}  // namespace tessil::plugin_test

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

class Ladspa final : public LoadedPlugin {
 public:
  Ladspa(const std::string& path, unsigned long rate) : library_(Open(path)) {
    auto entry = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(library_, "ladspa_descriptor"));
    if (entry == nullptr || (descriptor_ = entry(0)) == nullptr) throw std::runtime_error("no descriptor");
    handle_ = descriptor_->instantiate(descriptor_, rate);
    if (handle_ == nullptr) throw std::runtime_error("instantiate failed");
    controls_ = DefaultControls();
    for (size_t i = 0; i < controls_.size(); ++i) descriptor_->connect_port(handle_, host::kAudioPorts + i, &controls_[i]);
    descriptor_->connect_port(handle_, host::kAudioPorts + controls_.size(), &latency_);
    descriptor_->activate(handle_);
  }
  ~Ladspa() override {
    descriptor_->cleanup(handle_);
    dlclose(library_);
  }
  void Run(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames) override {
    descriptor_->connect_port(handle_, 0, const_cast<float*>(left));
    descriptor_->connect_port(handle_, 1, const_cast<float*>(right));
    descriptor_->connect_port(handle_, 2, outLeft);
    descriptor_->connect_port(handle_, 3, outRight);
    descriptor_->run(handle_, frames);
  }
  float Latency() const override { return latency_; }

 private:
  void* library_;
  const LADSPA_Descriptor* descriptor_ = nullptr;
  LADSPA_Handle handle_ = nullptr;
};

class Lv2 final : public LoadedPlugin {
 public:
  Lv2(const std::string& bundle, double rate) : library_(Open(bundle + "/tessil.so")) {
    auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library_, "lv2_descriptor"));
    if (entry == nullptr || (descriptor_ = entry(0)) == nullptr) throw std::runtime_error("no descriptor");
    const LV2_Feature* features[] = {nullptr};
    handle_ = descriptor_->instantiate(descriptor_, rate, bundle.c_str(), features);
    if (handle_ == nullptr) throw std::runtime_error("instantiate failed");
    controls_ = DefaultControls();
    for (size_t i = 0; i < controls_.size(); ++i) {
      descriptor_->connect_port(handle_, static_cast<uint32_t>(host::kAudioPorts + i), &controls_[i]);
    }
    descriptor_->connect_port(handle_, static_cast<uint32_t>(host::kAudioPorts + controls_.size()), &latency_);
    descriptor_->activate(handle_);
  }
  ~Lv2() override {
    descriptor_->cleanup(handle_);
    dlclose(library_);
  }
  void Run(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames) override {
    descriptor_->connect_port(handle_, 0, const_cast<float*>(left));
    descriptor_->connect_port(handle_, 1, const_cast<float*>(right));
    descriptor_->connect_port(handle_, 2, outLeft);
    descriptor_->connect_port(handle_, 3, outRight);
    descriptor_->run(handle_, frames);
  }
  float Latency() const override { return latency_; }

 private:
  void* library_;
  const LV2_Descriptor* descriptor_ = nullptr;
  LV2_Handle handle_ = nullptr;
};

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
  return std::make_unique<Ladspa>(path, rate);
}

std::unique_ptr<LoadedPlugin> LoadLv2(const std::string& bundle, double rate) {
  return std::make_unique<Lv2>(bundle, rate);
}

size_t LadspaLatency(const std::string& path, unsigned long rate) {
  auto plugin = LoadLadspa(path, rate);
  float frame[1] = {0.0f};
  float out[2][1];
  plugin->Run(frame, frame, out[0], out[1], 1);
  return static_cast<size_t>(plugin->Latency());
}

}  // namespace tessil::plugin_test

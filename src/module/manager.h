// The manager: master copy of every setting (its settings context), the list of live stream
// processors, and the typed operations that change a setting everywhere at once.
#pragma once

#include "chain/engine.h"
#include "stream/stream_processor.h"
#include "tessil/tessil.h"

namespace tessil {

// How a change of a setting reaches processors that may be in the middle of a block.
enum class Push {
  // A word the pipeline reads with relaxed loads where it uses it: written at any time.
  kAnyTime,
  // Redesigns coefficients or clears filter state: waits for each processor's processing mutex.
  kBetweenBlocks,
};

class TessilManager final : public ITessilManager, public ProcessorOwner {
 public:
  // Constructed only by CreateTessilManager, in place in a zero-filled non-paged block.
  static void* operator new(size_t, void* block) { return block; }
  static void operator delete(void* block);

  TessilManager();
  ~TessilManager() TESSIL_OVERRIDE_DESTRUCTOR;
  TESSIL_DELETING_DESTRUCTOR(TessilManager)

  // Interface slots 1 to 15.
  void Release() override;
  IStreamProcessor* CreateProcessor() override;
  NTSTATUS HandlePropertyRequest(PIRP request) override;
  NTSTATUS SetEnable(BOOLEAN on) override;
  NTSTATUS GetEnable(BOOLEAN* on) override;
  NTSTATUS SetEqEnable(ULONG channel, BOOLEAN on) override;
  NTSTATUS GetEqEnable(ULONG channel, BOOLEAN* on) override;
  NTSTATUS SetEqBandEnable(ULONG channel, ULONG band, BOOLEAN on) override;
  NTSTATUS GetEqBandEnable(ULONG channel, ULONG band, BOOLEAN* on) override;
  NTSTATUS SetEqBandGain(ULONG channel, ULONG band, float gain) override;
  NTSTATUS GetEqBandGain(ULONG channel, ULONG band, float* gain) override;
  NTSTATUS SetEqBandFrequency(ULONG channel, ULONG band, ULONG hertz) override;
  NTSTATUS GetEqBandFrequency(ULONG channel, ULONG band, ULONG* hertz) override;
  NTSTATUS SetEqBandQ(ULONG channel, ULONG band, float q) override;
  NTSTATUS GetEqBandQ(ULONG channel, ULONG band, float* q) override;

  // Typed operations reached through the parameter tables only.
  NTSTATUS SetInputGain(float gain);
  NTSTATUS GetInputGain(float* gain);
  NTSTATUS SetOutputGain(float gain);
  NTSTATUS GetOutputGain(float* gain);
  NTSTATUS SetBypassGain(float gain);
  NTSTATUS GetBypassGain(float* gain);
  NTSTATUS SetCoreEnable(BOOLEAN on);
  NTSTATUS GetCoreEnable(BOOLEAN* on);
  NTSTATUS SetCoreLevel(float level);
  NTSTATUS GetCoreLevel(float* level);
  NTSTATUS SetHighPassEnable(BOOLEAN on);
  NTSTATUS GetHighPassEnable(BOOLEAN* on);
  NTSTATUS SetHighPassFrequency(ULONG hertz);
  NTSTATUS GetHighPassFrequency(ULONG* hertz);
  NTSTATUS SetHighPassOrder(ULONG order);
  NTSTATUS GetHighPassOrder(ULONG* order);
  NTSTATUS SetLowPassEnable(BOOLEAN on);
  NTSTATUS GetLowPassEnable(BOOLEAN* on);
  NTSTATUS SetLowPassFrequency(ULONG hertz);
  NTSTATUS GetLowPassFrequency(ULONG* hertz);
  NTSTATUS SetLowPassOrder(ULONG order);
  NTSTATUS GetLowPassOrder(ULONG* order);
  NTSTATUS SetOutputStageEnable(BOOLEAN on);
  NTSTATUS GetOutputStageEnable(BOOLEAN* on);
  NTSTATUS SetOutputStageAmount(float amount);
  NTSTATUS GetOutputStageAmount(float* amount);
  NTSTATUS SetCoreWeighting(ULONG weighting);
  NTSTATUS GetCoreWeighting(ULONG* weighting);

  // What a processor needs of its owner.
  void UnregisterProcessor(StreamProcessor* processor) override;
  void AcquireListMutex() override;
  void ReleaseListMutex() override;

  bool HasSettings() const { return settings_ != nullptr; }
  // The master copy; tests compare processors with it.
  const EngineContext* Settings() const { return settings_; }
  // Visits every listed processor in registration order, with the list mutex held.
  template <typename Visitor>
  void ForEachProcessor(Visitor visitor);

 private:
  template <typename Value>
  NTSTATUS SetSwitch(int32_t (*setter)(EngineContext*, int32_t), Value on, Push push);
  template <typename Value, typename Parameter>
  NTSTATUS SetValue(int32_t (*setter)(EngineContext*, Parameter), Value value, Push push);
  template <typename Result, typename Value>
  NTSTATUS GetValue(Value (*getter)(const EngineContext*), Result* result);
  NTSTATUS GetSwitch(int32_t (*getter)(const EngineContext*), BOOLEAN* on);
  template <typename Setter, typename... Arguments>
  NTSTATUS SetPerChannel(ULONG channel, Push push, Setter setter, Arguments... arguments);

  // Applies one engine setter to every listed processor, holding each processor's processing
  // mutex if the push says so; the caller holds the list mutex (taken again here, recursively).
  template <typename... Parameters, typename... Arguments>
  void BroadcastSetting(Push push, int32_t (*setter)(EngineContext*, Parameters...),
                        Arguments... arguments);

  KMUTEX listMutex_;
  LIST_ENTRY processors_;
  EngineContext* settings_;
};

template <typename Visitor>
void TessilManager::ForEachProcessor(Visitor visitor) {
  AcquireListMutex();
  for (LIST_ENTRY* entry = processors_.Flink; entry != &processors_; entry = entry->Flink) {
    visitor(StreamProcessor::FromListEntry(entry));
  }
  ReleaseListMutex();
}

}  // namespace tessil

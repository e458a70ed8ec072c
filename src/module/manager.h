// The manager: master copy of every setting (its settings context), the list of live stream
// processors, and the typed operations that change a setting everywhere at once.
#pragma once

#include "chain/engine.h"
#include "module/property_list.h"
#include "stream/stream_processor.h"
#include "tessil/tessil.h"

namespace tessil {

class TessilManager final : public ITessilManager, public ProcessorOwner {
 public:
  // Constructed only by CreateTessilManager, in place in a zero-filled non-paged block.
  static void* operator new(size_t, void* block) { return block; }
  static void operator delete(void* block);

  TessilManager();
  ~TessilManager() TESSIL_OVERRIDE_DESTRUCTOR;
  TESSIL_DELETING_DESTRUCTOR(TessilManager)

  // Interface slots 1 to 15; slots 4 to 15 are typed operations below.
  void Release() override;
  IStreamProcessor* CreateProcessor() override;
  NTSTATUS HandlePropertyRequest(PIRP request) override;
  NTSTATUS SetEnable(BOOLEAN on) override { return Set<KSPROPERTY_TESSIL_ENABLE>(on); }
  NTSTATUS GetEnable(BOOLEAN* on) override { return Get<KSPROPERTY_TESSIL_ENABLE>(on); }
  NTSTATUS SetEqEnable(ULONG channel, BOOLEAN on) override {
    return Set<KSPROPERTY_TESSIL_EQ_ENABLE>(channel, on);
  }
  NTSTATUS GetEqEnable(ULONG channel, BOOLEAN* on) override {
    return Get<KSPROPERTY_TESSIL_EQ_ENABLE>(channel, on);
  }
  NTSTATUS SetEqBandEnable(ULONG channel, ULONG band, BOOLEAN on) override {
    return Set<KSPROPERTY_TESSIL_EQ_BAND_ENABLE>(channel, band, on);
  }
  NTSTATUS GetEqBandEnable(ULONG channel, ULONG band, BOOLEAN* on) override {
    return Get<KSPROPERTY_TESSIL_EQ_BAND_ENABLE>(channel, band, on);
  }
  NTSTATUS SetEqBandGain(ULONG channel, ULONG band, float gain) override {
    return Set<KSPROPERTY_TESSIL_EQ_BAND_GAIN>(channel, band, gain);
  }
  NTSTATUS GetEqBandGain(ULONG channel, ULONG band, float* gain) override {
    return Get<KSPROPERTY_TESSIL_EQ_BAND_GAIN>(channel, band, gain);
  }
  NTSTATUS SetEqBandFrequency(ULONG channel, ULONG band, ULONG hertz) override {
    return Set<KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY>(channel, band, hertz);
  }
  NTSTATUS GetEqBandFrequency(ULONG channel, ULONG band, ULONG* hertz) override {
    return Get<KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY>(channel, band, hertz);
  }
  NTSTATUS SetEqBandQ(ULONG channel, ULONG band, float q) override {
    return Set<KSPROPERTY_TESSIL_EQ_BAND_Q>(channel, band, q);
  }
  NTSTATUS GetEqBandQ(ULONG channel, ULONG band, float* q) override {
    return Get<KSPROPERTY_TESSIL_EQ_BAND_Q>(channel, band, q);
  }

  // The typed operations of every property, with the address its scope takes: none, a channel,
  // or a channel and a band. They answer STATUS_SUCCESS or STATUS_INVALID_PARAMETER. A set
  // changes the settings context and every listed processor alike; a get reads the settings
  // context only.
  template <KSPROPERTY_TESSIL kId>
    requires(ScopeOf(kId) == TESSIL_SCOPE_STREAM)
  NTSTATUS Set(Value<kId> value) {
    return SetAt<kId>({}, value);
  }
  template <KSPROPERTY_TESSIL kId>
    requires(ScopeOf(kId) == TESSIL_SCOPE_CHANNEL)
  NTSTATUS Set(ULONG channel, Value<kId> value) {
    return SetAt<kId>({channel, 0}, value);
  }
  template <KSPROPERTY_TESSIL kId>
    requires(ScopeOf(kId) == TESSIL_SCOPE_BAND)
  NTSTATUS Set(ULONG channel, ULONG band, Value<kId> value) {
    return SetAt<kId>({channel, band}, value);
  }
  template <KSPROPERTY_TESSIL kId>
    requires(ScopeOf(kId) == TESSIL_SCOPE_STREAM)
  NTSTATUS Get(Value<kId>* result) {
    return GetAt<kId>({}, result);
  }
  template <KSPROPERTY_TESSIL kId>
    requires(ScopeOf(kId) == TESSIL_SCOPE_CHANNEL)
  NTSTATUS Get(ULONG channel, Value<kId>* result) {
    return GetAt<kId>({channel, 0}, result);
  }
  template <KSPROPERTY_TESSIL kId>
    requires(ScopeOf(kId) == TESSIL_SCOPE_BAND)
  NTSTATUS Get(ULONG channel, ULONG band, Value<kId>* result) {
    return GetAt<kId>({channel, band}, result);
  }
  // The same with the address as a request carries it (fields outside the scope unread).
  template <KSPROPERTY_TESSIL kId>
  NTSTATUS SetAt(Address address, Value<kId> value);
  template <KSPROPERTY_TESSIL kId>
  NTSTATUS GetAt(Address address, Value<kId>* result);

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

namespace manager_detail {

// Calls an engine operation on one context with as much of the address as the operation takes
// (none, the channel, or the channel and the band) and, for a setter, the value converted to the
// operation's own parameter type.
template <typename Result, typename Context>
Result Call(Result (*get)(Context), Context context, Address) {
  return get(context);
}
template <typename Result, typename Context>
Result Call(Result (*get)(Context, uint32_t), Context context, Address address) {
  return get(context, address.channel);
}
template <typename Result, typename Context>
Result Call(Result (*get)(Context, uint32_t, uint32_t), Context context, Address address) {
  return get(context, address.channel, address.band);
}
template <typename Result, typename Context, typename Parameter, typename Argument>
Result Call(Result (*set)(Context, Parameter), Context context, Address, Argument value) {
  return set(context, static_cast<Parameter>(value));
}
template <typename Result, typename Context, typename Parameter, typename Argument>
Result Call(Result (*set)(Context, uint32_t, Parameter), Context context, Address address,
            Argument value) {
  return set(context, address.channel, static_cast<Parameter>(value));
}
template <typename Result, typename Context, typename Parameter, typename Argument>
Result Call(Result (*set)(Context, uint32_t, uint32_t, Parameter), Context context,
            Address address, Argument value) {
  return set(context, address.channel, address.band, static_cast<Parameter>(value));
}

}  // namespace manager_detail

template <KSPROPERTY_TESSIL kId>
NTSTATUS TessilManager::SetAt(Address address, Value<kId> value) {
  using Row = Property<kId>;
  constexpr bool kStream = ScopeOf(kId) == TESSIL_SCOPE_STREAM;
  if constexpr (kStream && Row::kConversion == Conversion::kSwitch) {
    // The engine would answer another value by keeping its switch; the manager refuses it.
    if (value != 0 && value != 1) return STATUS_INVALID_PARAMETER;
  }
  if constexpr (!kStream) {
    if (address.channel >= static_cast<ULONG>(kEqualiserChannels)) {
      return STATUS_INVALID_PARAMETER;
    }
  }
  // The settings context and the processors change within one hold of the list mutex, so that
  // concurrent changes leave everyone holding the same winner. A stream-wide setting is checked
  // by the settings context first and reaches the processors only if accepted; a per-channel
  // one reaches the processors first and the settings context's answer is the result.
  AcquireListMutex();
  int32_t refused = 0;
  if constexpr (kStream) refused = manager_detail::Call(Row::kSet, settings_, address, value);
  if (refused == 0) {
    for (LIST_ENTRY* entry = processors_.Flink; entry != &processors_; entry = entry->Flink) {
      StreamProcessor* processor = StreamProcessor::FromListEntry(entry);
      if (Row::kPush == Push::kBetweenBlocks) ExAcquireFastMutex(processor->ProcessingMutex());
      manager_detail::Call(Row::kSet, processor->Engine(), address, value);
      if (Row::kPush == Push::kBetweenBlocks) ExReleaseFastMutex(processor->ProcessingMutex());
    }
  }
  if constexpr (!kStream) refused = manager_detail::Call(Row::kSet, settings_, address, value);
  ReleaseListMutex();
  return refused == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

template <KSPROPERTY_TESSIL kId>
NTSTATUS TessilManager::GetAt(Address address, Value<kId>* result) {
  using Row = Property<kId>;
  if (result == nullptr) return STATUS_INVALID_PARAMETER;
  if constexpr (ScopeOf(kId) != TESSIL_SCOPE_STREAM) {
    // The band is left to the engine's getters, which answer a bad band with initial values.
    if (address.channel >= static_cast<ULONG>(kEqualiserChannels)) {
      return STATUS_INVALID_PARAMETER;
    }
  }
  // The settings context is only ever read or written under the list mutex.
  const EngineContext* settings = settings_;
  AcquireListMutex();
  const auto value = manager_detail::Call(Row::kGet, settings, address);
  ReleaseListMutex();
  if constexpr (Row::kConversion == Conversion::kSwitch) {
    *result = value != 0 ? 1 : 0;
  } else {
    *result = static_cast<Value<kId>>(value);
  }
  return STATUS_SUCCESS;
}

}  // namespace tessil

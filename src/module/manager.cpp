#include "module/manager.h"

#include "stream/pool_tags.h"

namespace tessil {

void TessilManager::operator delete(void* block) { ExFreePool(block); }

TessilManager::TessilManager() {
  KeInitializeMutex(&listMutex_, 0);
  InitializeListHead(&processors_);
  settings_ = static_cast<EngineContext*>(
      ExAllocatePoolWithTag(NonPagedPool, EngineContextSize(), kTagSettingsContext));
  if (settings_ == nullptr) return;  // the factory releases a manager without settings
  EngineInit(settings_);
  EngineReset(settings_);
}

TessilManager::~TessilManager() {
  // A host that releases the manager first must not leave processors pointing at freed memory:
  // they are unlinked and keep working on their own.
  AcquireListMutex();
  while (!IsListEmpty(&processors_)) {
    LIST_ENTRY* entry = processors_.Flink;
    RemoveEntryList(entry);
    InitializeListHead(entry);
    StreamProcessor::FromListEntry(entry)->DetachOwner();
  }
  ReleaseListMutex();
  if (settings_ != nullptr) ExFreePoolWithTag(settings_, kTagSettingsContext);
}

void TessilManager::Release() { delete this; }

void TessilManager::AcquireListMutex() {
  KeWaitForSingleObject(&listMutex_, Executive, KernelMode, FALSE, nullptr);
}

void TessilManager::ReleaseListMutex() { KeReleaseMutex(&listMutex_, FALSE); }

IStreamProcessor* TessilManager::CreateProcessor() {
  KFLOATING_SAVE floatingSave;
  if (!NT_SUCCESS(KeSaveFloatingPointState(&floatingSave))) return nullptr;

  StreamProcessor* result = nullptr;
  void* block = ExAllocatePoolWithTag(NonPagedPool, sizeof(StreamProcessor), kTagProcessor);
  if (block != nullptr) {
    ZeroFill(block, sizeof(StreamProcessor));
    StreamProcessor* processor = new (block) StreamProcessor(this);
    AcquireListMutex();
    // Copying and appending under one hold of the list mutex means no change made meanwhile can
    // reach the settings context and miss this processor.
    if (processor->IsComplete()) {
      EngineCopySettings(processor->Engine(), settings_);
      InsertTailList(&processors_, processor->ListEntry());
      result = processor;
    } else {
      InsertTailList(&processors_, processor->ListEntry());
      processor->Release();  // its destructor unlinks it again, re-entering the list mutex
    }
    ReleaseListMutex();
  }

  KeRestoreFloatingPointState(&floatingSave);
  return result;
}

void TessilManager::UnregisterProcessor(StreamProcessor* processor) {
  AcquireListMutex();
  LIST_ENTRY* entry = processor->ListEntry();
  RemoveEntryList(entry);
  InitializeListHead(entry);
  ReleaseListMutex();
}

template <typename... Parameters, typename... Arguments>
void TessilManager::BroadcastSetting(Push push, int32_t (*setter)(EngineContext*, Parameters...),
                                     Arguments... arguments) {
  AcquireListMutex();
  for (LIST_ENTRY* entry = processors_.Flink; entry != &processors_; entry = entry->Flink) {
    StreamProcessor* processor = StreamProcessor::FromListEntry(entry);
    if (push == Push::kBetweenBlocks) ExAcquireFastMutex(processor->ProcessingMutex());
    setter(processor->Engine(), static_cast<Parameters>(arguments)...);
    if (push == Push::kBetweenBlocks) ExReleaseFastMutex(processor->ProcessingMutex());
  }
  ReleaseListMutex();
}

// Every set operation writes the settings context and pushes to the processors within one hold
// of the list mutex, so concurrent changes leave everyone holding the same winner.
template <typename Value>
NTSTATUS TessilManager::SetSwitch(int32_t (*setter)(EngineContext*, int32_t), Value on,
                                  Push push) {
  if (on != 0 && on != 1) return STATUS_INVALID_PARAMETER;
  AcquireListMutex();
  setter(settings_, static_cast<int32_t>(on));
  BroadcastSetting(push, setter, static_cast<int32_t>(on));
  ReleaseListMutex();
  return STATUS_SUCCESS;
}

template <typename Value, typename Parameter>
NTSTATUS TessilManager::SetValue(int32_t (*setter)(EngineContext*, Parameter), Value value,
                                 Push push) {
  AcquireListMutex();
  NTSTATUS status = STATUS_SUCCESS;
  if (setter(settings_, static_cast<Parameter>(value)) != 0) {
    status = STATUS_INVALID_PARAMETER;
  } else {
    BroadcastSetting(push, setter, static_cast<Parameter>(value));
  }
  ReleaseListMutex();
  return status;
}

// Getters take the list mutex too: the settings context is only ever read or written under it.
template <typename Result, typename Value>
NTSTATUS TessilManager::GetValue(Value (*getter)(const EngineContext*), Result* result) {
  if (result == nullptr) return STATUS_INVALID_PARAMETER;
  AcquireListMutex();
  const Value value = getter(settings_);
  ReleaseListMutex();
  *result = static_cast<Result>(value);
  return STATUS_SUCCESS;
}

template <typename Setter, typename... Arguments>
NTSTATUS TessilManager::SetPerChannel(ULONG channel, Push push, Setter setter,
                                      Arguments... arguments) {
  if (channel > 1) return STATUS_INVALID_PARAMETER;
  AcquireListMutex();
  BroadcastSetting(push, setter, channel, arguments...);
  const int32_t result = setter(settings_, channel, arguments...);
  ReleaseListMutex();
  return result == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

NTSTATUS TessilManager::GetSwitch(int32_t (*getter)(const EngineContext*), BOOLEAN* on) {
  if (on == nullptr) return STATUS_INVALID_PARAMETER;
  int32_t value = 0;
  const NTSTATUS status = GetValue(getter, &value);
  *on = value != 0 ? 1 : 0;
  return status;
}

// Master and block switches. The filter enables redesign coefficients, so they wait for the
// processing mutex like every other setting that rewrites filter memory.
NTSTATUS TessilManager::SetEnable(BOOLEAN on) {
  return SetSwitch(EngineSetEnable, on, Push::kAnyTime);
}
NTSTATUS TessilManager::GetEnable(BOOLEAN* on) { return GetSwitch(EngineGetEnable, on); }
NTSTATUS TessilManager::SetCoreEnable(BOOLEAN on) {
  return SetSwitch(EngineSetCoreEnable, on, Push::kAnyTime);
}
NTSTATUS TessilManager::GetCoreEnable(BOOLEAN* on) { return GetSwitch(EngineGetCoreEnable, on); }
NTSTATUS TessilManager::SetHighPassEnable(BOOLEAN on) {
  return SetSwitch(EngineSetHighPassEnable, on, Push::kBetweenBlocks);
}
NTSTATUS TessilManager::GetHighPassEnable(BOOLEAN* on) { return GetSwitch(EngineGetHighPassEnable, on); }
NTSTATUS TessilManager::SetLowPassEnable(BOOLEAN on) {
  return SetSwitch(EngineSetLowPassEnable, on, Push::kBetweenBlocks);
}
NTSTATUS TessilManager::GetLowPassEnable(BOOLEAN* on) { return GetSwitch(EngineGetLowPassEnable, on); }
NTSTATUS TessilManager::SetOutputStageEnable(BOOLEAN on) {
  return SetSwitch(EngineSetOutputStageEnable, on, Push::kAnyTime);
}
NTSTATUS TessilManager::GetOutputStageEnable(BOOLEAN* on) { return GetSwitch(EngineGetOutputStageEnable, on); }

NTSTATUS TessilManager::SetInputGain(float gain) {
  return SetValue(EngineSetInputGain, gain, Push::kAnyTime);
}
NTSTATUS TessilManager::GetInputGain(float* gain) { return GetValue(EngineGetInputGain, gain); }
NTSTATUS TessilManager::SetOutputGain(float gain) {
  return SetValue(EngineSetOutputGain, gain, Push::kAnyTime);
}
NTSTATUS TessilManager::GetOutputGain(float* gain) {
  return GetValue(EngineGetOutputGain, gain);
}
NTSTATUS TessilManager::SetBypassGain(float gain) {
  return SetValue(EngineSetBypassGain, gain, Push::kAnyTime);
}
NTSTATUS TessilManager::GetBypassGain(float* gain) {
  return GetValue(EngineGetBypassGain, gain);
}
NTSTATUS TessilManager::SetCoreLevel(float level) {
  return SetValue(EngineSetCoreLevel, level, Push::kAnyTime);
}
NTSTATUS TessilManager::GetCoreLevel(float* level) { return GetValue(EngineGetCoreLevel, level); }
NTSTATUS TessilManager::SetOutputStageAmount(float amount) {
  return SetValue(EngineSetOutputStageAmount, amount, Push::kAnyTime);
}
NTSTATUS TessilManager::GetOutputStageAmount(float* amount) {
  return GetValue(EngineGetOutputStageAmount, amount);
}

NTSTATUS TessilManager::SetHighPassFrequency(ULONG hertz) {
  return SetValue(EngineSetHighPassFrequency, hertz, Push::kBetweenBlocks);
}
NTSTATUS TessilManager::GetHighPassFrequency(ULONG* hertz) {
  return GetValue(EngineGetHighPassFrequency, hertz);
}
NTSTATUS TessilManager::SetLowPassFrequency(ULONG hertz) {
  return SetValue(EngineSetLowPassFrequency, hertz, Push::kBetweenBlocks);
}
NTSTATUS TessilManager::GetLowPassFrequency(ULONG* hertz) {
  return GetValue(EngineGetLowPassFrequency, hertz);
}

// Orders beyond 10 would not fit a filter block's memory; they are refused before anything else.
NTSTATUS TessilManager::SetHighPassOrder(ULONG order) {
  if (order < 1 || order > 10) return STATUS_INVALID_PARAMETER;
  return SetValue(EngineSetHighPassOrder, order, Push::kBetweenBlocks);
}
NTSTATUS TessilManager::GetHighPassOrder(ULONG* order) {
  return GetValue(EngineGetHighPassOrder, order);
}
NTSTATUS TessilManager::SetLowPassOrder(ULONG order) {
  if (order < 1 || order > 10) return STATUS_INVALID_PARAMETER;
  return SetValue(EngineSetLowPassOrder, order, Push::kBetweenBlocks);
}
NTSTATUS TessilManager::GetLowPassOrder(ULONG* order) {
  return GetValue(EngineGetLowPassOrder, order);
}

NTSTATUS TessilManager::SetCoreWeighting(ULONG weighting) {
  return SetValue(EngineSetCoreWeighting, weighting, Push::kAnyTime);
}
NTSTATUS TessilManager::GetCoreWeighting(ULONG* weighting) {
  return GetValue(EngineGetCoreWeighting, weighting);
}

// Per-channel operations: the channel is checked first, then the change is pushed to the
// processors and applied to the settings context, whose answer is the result.
NTSTATUS TessilManager::SetEqEnable(ULONG channel, BOOLEAN on) {
  return SetPerChannel(channel, Push::kAnyTime, EngineSetEqEnable, static_cast<int32_t>(on));
}
NTSTATUS TessilManager::SetEqBandEnable(ULONG channel, ULONG band, BOOLEAN on) {
  // Switching a band redesigns it and clears filter state: never in the middle of a block.
  return SetPerChannel(channel, Push::kBetweenBlocks, EngineSetEqBandEnable, band,
                       static_cast<int32_t>(on));
}
NTSTATUS TessilManager::SetEqBandGain(ULONG channel, ULONG band, float gain) {
  return SetPerChannel(channel, Push::kBetweenBlocks, EngineSetEqBandGain, band, gain);
}
NTSTATUS TessilManager::SetEqBandFrequency(ULONG channel, ULONG band, ULONG hertz) {
  return SetPerChannel(channel, Push::kBetweenBlocks, EngineSetEqBandFrequency, band, hertz);
}
NTSTATUS TessilManager::SetEqBandQ(ULONG channel, ULONG band, float q) {
  return SetPerChannel(channel, Push::kBetweenBlocks, EngineSetEqBandQ, band, q);
}

namespace {

// Reads one per-channel value under the list mutex; the band index is left to the engine
// getters, which answer a bad band with their fallback values.
template <typename Result, typename Getter, typename... Arguments>
NTSTATUS ReadPerChannel(TessilManager* manager, const EngineContext* settings, ULONG channel,
                        Result* result, Getter getter, Arguments... arguments) {
  if (channel > 1 || result == nullptr) return STATUS_INVALID_PARAMETER;
  manager->AcquireListMutex();
  const auto value = getter(settings, channel, arguments...);
  manager->ReleaseListMutex();
  *result = static_cast<Result>(value);
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS TessilManager::GetEqEnable(ULONG channel, BOOLEAN* on) {
  int32_t value = 0;
  if (on == nullptr) return STATUS_INVALID_PARAMETER;
  const NTSTATUS status = ReadPerChannel(this, settings_, channel, &value, EngineGetEqEnable);
  if (NT_SUCCESS(status)) *on = value != 0 ? 1 : 0;
  return status;
}
NTSTATUS TessilManager::GetEqBandEnable(ULONG channel, ULONG band, BOOLEAN* on) {
  int32_t value = 0;
  if (on == nullptr) return STATUS_INVALID_PARAMETER;
  const NTSTATUS status =
      ReadPerChannel(this, settings_, channel, &value, EngineGetEqBandEnable, band);
  if (NT_SUCCESS(status)) *on = value != 0 ? 1 : 0;
  return status;
}
NTSTATUS TessilManager::GetEqBandGain(ULONG channel, ULONG band, float* gain) {
  return ReadPerChannel(this, settings_, channel, gain, EngineGetEqBandGain, band);
}
NTSTATUS TessilManager::GetEqBandFrequency(ULONG channel, ULONG band, ULONG* hertz) {
  return ReadPerChannel(this, settings_, channel, hertz, EngineGetEqBandFrequency, band);
}
NTSTATUS TessilManager::GetEqBandQ(ULONG channel, ULONG band, float* q) {
  return ReadPerChannel(this, settings_, channel, q, EngineGetEqBandQ, band);
}

}  // namespace tessil

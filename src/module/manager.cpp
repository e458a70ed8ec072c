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

}  // namespace tessil

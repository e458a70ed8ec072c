// The module's entry points. The module has no global state: everything lives in the objects
// that the host obtains through the factory.
#include "module/manager.h"
#include "stream/pool_tags.h"

using tessil::TessilManager;

extern "C" {

TESSIL_EXPORT NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT /*driver*/, PUNICODE_STRING /*registryPath*/) {
  return STATUS_SUCCESS;
}

TESSIL_EXPORT NTSTATUS NTAPI DllInitialize(PUNICODE_STRING /*registryPath*/) { return STATUS_SUCCESS; }

TESSIL_EXPORT NTSTATUS NTAPI DllUnload() { return STATUS_SUCCESS; }

TESSIL_EXPORT ITessilManager* NTAPI CreateTessilManager() {
  KFLOATING_SAVE floatingSave;
  if (!NT_SUCCESS(KeSaveFloatingPointState(&floatingSave))) return nullptr;
  ITessilManager* result = nullptr;
  void* block = ExAllocatePoolWithTag(NonPagedPool, sizeof(TessilManager), tessil::kTagManager);
  if (block != nullptr) {
    tessil::ZeroFill(block, sizeof(TessilManager));
    TessilManager* manager = new (block) TessilManager();
    if (manager->HasSettings()) {
      result = manager;
    } else {
      manager->Release();
    }
  }
  KeRestoreFloatingPointState(&floatingSave);
  return result;
}

}  // extern "C"

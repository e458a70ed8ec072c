#include "kernel_stand_ins.h"

#include <cstdlib>
#include <cstring>
#include <map>

#include "checked_call.h"

namespace tessil::kernel_test {

namespace {

#define KERNEL_API __attribute__((stdcall))
#define KERNEL_FASTCALL __attribute__((fastcall))

constexpr int32_t kStatusSuccess = 0;
constexpr int32_t kStatusIllegalFloatContext = static_cast<int32_t>(0xC000014A);
constexpr int32_t kStatusInvalidBufferSize = static_cast<int32_t>(0xC0000206);
constexpr int32_t kStatusBufferTooSmall = static_cast<int32_t>(0xC0000023);
constexpr int32_t kStatusNotFound = static_cast<int32_t>(0xC0000225);
constexpr int32_t kStatusPropsetNotFound = static_cast<int32_t>(0xC0000230);
constexpr int32_t kStatusInvalidDeviceRequest = static_cast<int32_t>(0xC0000010);
constexpr uint32_t kPropertyGet = 1, kPropertySet = 2;

// The six exception flags (invalid, denormal, divide by zero, overflow, underflow, precision) sit
// in bits 0-5 of both the SSE control and status word and the x87 status word; the precision
// exception's mask is bit 12 of the former and bit 5 of the x87 control word.
constexpr uint32_t kFlagBits = 0x3F;
constexpr uint32_t kMxcsrPrecisionMask = 1u << 12;
constexpr uint16_t kX87PrecisionMask = 1u << 5;

// Offsets in the 32-bit IRP and IO_STACK_LOCATION (checked against the kernel headers by
// request_layout_check.cpp in the kernel build).
constexpr uint32_t kIrpIoStatusInformation = 0x1C;
constexpr uint32_t kIrpUserBuffer = 0x3C;
constexpr uint32_t kIrpDriverContext = 0x40;
constexpr uint32_t kIrpCurrentStackLocation = 0x60;
constexpr uint32_t kStackOutputBufferLength = 0x04;
constexpr uint32_t kStackInputBufferLength = 0x08;
constexpr uint32_t kStackIoControlCode = 0x0C;
constexpr uint32_t kStackType3InputBuffer = 0x10;
constexpr uint8_t kMajorDeviceControl = 0x0E;
constexpr uint32_t kIoctlKsProperty = 0x002F0003;

struct Block {
  uint32_t tag;
  size_t size;
};

struct State {
  KernelLedger ledger;
  std::map<void*, Block> blocks;
  std::map<const void*, uint32_t> mutexDepth;  // initialised kernel mutexes
  std::map<const void*, bool> fastMutexHeld;
  uint32_t refusedTag = 0;
  bool refuseFloatingSave = false;
};

State& Global() {
  static State state;
  return state;
}

void Violation(const std::string& what) { Global().ledger.violations.push_back(what); }

uint32_t TagValue(const char (&tag)[5]) {
  uint32_t value;
  std::memcpy(&value, tag, 4);
  return value;
}

template <typename T>
T ReadAt(const void* base, uint32_t offset) {
  T value;
  std::memcpy(&value, static_cast<const uint8_t*>(base) + offset, sizeof value);
  return value;
}

template <typename T>
void WriteAt(void* base, uint32_t offset, T value) {
  std::memcpy(static_cast<uint8_t*>(base) + offset, &value, sizeof value);
}

// --- ntoskrnl.exe -------------------------------------------------------------------------

void* KERNEL_API ExAllocatePoolWithTag(int /*poolType*/, size_t bytes, uint32_t tag) {
  State& state = Global();
  if (state.refusedTag != 0 && state.refusedTag == tag) {
    state.refusedTag = 0;
    return nullptr;
  }
  void* block = std::aligned_alloc(16, (bytes + 15) / 16 * 16);
  if (block == nullptr) return nullptr;
  std::memset(block, 0xFF, bytes);  // pool memory comes back uninitialised
  state.blocks[block] = {tag, bytes};
  state.ledger.liveBlocks += 1;
  state.ledger.allocations += 1;
  return block;
}

void FreeBlock(void* block, const uint32_t* expectedTag) {
  State& state = Global();
  auto found = state.blocks.find(block);
  if (found == state.blocks.end()) {
    Violation("free of a block that is not live");
    return;
  }
  if (expectedTag != nullptr && found->second.tag != *expectedTag) {
    Violation("ExFreePoolWithTag with another tag than the allocation's");
  }
  std::free(block);
  state.blocks.erase(found);
  state.ledger.liveBlocks -= 1;
}

void KERNEL_API ExFreePool(void* block) { FreeBlock(block, nullptr); }
void KERNEL_API ExFreePoolWithTag(void* block, uint32_t tag) { FreeBlock(block, &tag); }

void KERNEL_API KeInitializeEvent(void* /*event*/, int /*type*/, uint8_t /*state*/) {}

void KERNEL_API KeInitializeMutex(void* mutex, uint32_t level) {
  if (level != 0) Violation("kernel mutex initialised with a level other than 0");
  Global().mutexDepth[mutex] = 0;
}

int32_t KERNEL_API KeWaitForSingleObject(void* object, int reason, int8_t mode, uint8_t alertable,
                                         void* timeout) {
  State& state = Global();
  auto mutex = state.mutexDepth.find(object);
  if (mutex == state.mutexDepth.end()) {
    Violation("wait on an object that is not an initialised kernel mutex");
    return kStatusSuccess;
  }
  if (reason != 0 || mode != 0 || alertable != 0 || timeout != nullptr) {
    Violation("mutex wait that is not an unbounded, non-alertable kernel-mode wait");
  }
  if (state.ledger.fastMutexesHeld != 0) Violation("list mutex taken after a processing mutex");
  mutex->second += 1;
  state.ledger.mutexesHeld += 1;
  return kStatusSuccess;
}

int32_t KERNEL_API KeReleaseMutex(void* object, uint8_t wait) {
  State& state = Global();
  auto mutex = state.mutexDepth.find(object);
  if (mutex == state.mutexDepth.end() || mutex->second == 0) {
    Violation("release of a kernel mutex that is not held");
    return 0;
  }
  if (wait != 0) Violation("mutex release announcing a wait");
  mutex->second -= 1;
  state.ledger.mutexesHeld -= 1;
  return mutex->second == 0 ? 0 : 1;
}

// The save area is opaque to the driver; the stand-in marks it and keeps the caller's SSE control
// and status word and x87 environment beside it. As on the kernel, the saved region starts from a
// clean state (every exception masked, no flag raised) and the restore gives the caller back its
// own, flags included, so nothing computed inside a region shows outside it.
constexpr uint32_t kSaveMarker = 0x5AFE5AFE;
constexpr uint32_t kDefaultMxcsr = 0x1F80;

struct SavedFloatingState {
  uint32_t mxcsr;
  uint8_t x87[28];
};

std::map<const void*, SavedFloatingState>& SavedStates() {
  static std::map<const void*, SavedFloatingState> states;
  return states;
}

int32_t KERNEL_API KeSaveFloatingPointState(void* save) {
  State& state = Global();
  if (state.refuseFloatingSave) {
    state.refuseFloatingSave = false;
    return kStatusIllegalFloatContext;
  }
  SavedFloatingState saved;
  asm volatile("stmxcsr %0\n\tfnstenv %1\n\tfninit\n\tldmxcsr %2"
               : "=m"(saved.mxcsr), "=m"(saved.x87)
               : "m"(kDefaultMxcsr)
               : "memory");
  SavedStates()[save] = saved;
  WriteAt(save, 0, kSaveMarker);
  state.ledger.floatingSavesOpen += 1;
  state.ledger.floatingSaves += 1;
  return kStatusSuccess;
}

int32_t KERNEL_API KeRestoreFloatingPointState(void* save) {
  State& state = Global();
  auto saved = SavedStates().find(save);
  if (ReadAt<uint32_t>(save, 0) != kSaveMarker || saved == SavedStates().end()) {
    Violation("floating-point restore without a matching save");
    return kStatusSuccess;
  }
  asm volatile("fldenv %0\n\tldmxcsr %1" : : "m"(saved->second.x87), "m"(saved->second.mxcsr)
               : "memory");
  SavedStates().erase(saved);
  WriteAt(save, 0, 0u);
  state.ledger.floatingSavesOpen -= 1;
  return kStatusSuccess;
}

void* __attribute__((cdecl)) Memcpy(void* to, const void* from, size_t count) {
  return std::memcpy(to, from, count);
}
void* __attribute__((cdecl)) Memset(void* to, int value, size_t count) { return std::memset(to, value, count); }

// --- HAL.dll ------------------------------------------------------------------------------

void KERNEL_FASTCALL ExAcquireFastMutex(void* mutex) {
  State& state = Global();
  bool& held = state.fastMutexHeld[mutex];
  if (held) Violation("fast mutex acquired twice");
  held = true;
  state.ledger.fastMutexesHeld += 1;
}

void KERNEL_FASTCALL ExReleaseFastMutex(void* mutex) {
  State& state = Global();
  bool& held = state.fastMutexHeld[mutex];
  if (!held) Violation("release of a fast mutex that is not held");
  held = false;
  state.ledger.fastMutexesHeld -= 1;
}

// --- ks.sys -------------------------------------------------------------------------------

// Layouts of the 32-bit kernel-streaming records the image passes.
struct PropertyItem {
  uint32_t propertyId;
  const void* getHandler;
  uint32_t minProperty;
  uint32_t minData;
  const void* setHandler;
  const void* values;
  uint32_t relationsCount;
  const void* relations;
  const void* supportHandler;
  uint32_t serializedSize;
};
static_assert(sizeof(PropertyItem) == 40);

struct PropertySet {
  const uint8_t* set;  // GUID
  uint32_t propertiesCount;
  const PropertyItem* items;
  uint32_t fastIoCount;
  const void* fastIoTable;
};
static_assert(sizeof(PropertySet) == 20);

int32_t KERNEL_API KsPropertyHandler(void* irp, uint32_t setCount, const PropertySet* sets) {
  const void* stack = ReadAt<const void*>(irp, kIrpCurrentStackLocation);
  const uint8_t* property = ReadAt<const uint8_t*>(stack, kStackType3InputBuffer);
  const uint32_t propertyLength = ReadAt<uint32_t>(stack, kStackInputBufferLength);
  const uint32_t valueLength = ReadAt<uint32_t>(stack, kStackOutputBufferLength);
  void* value = ReadAt<void*>(irp, kIrpUserBuffer);
  if (property == nullptr || propertyLength < 24) return kStatusInvalidBufferSize;
  const uint32_t id = ReadAt<uint32_t>(property, 16);
  const uint32_t flags = ReadAt<uint32_t>(property, 20);
  for (uint32_t s = 0; s < setCount; ++s) {
    if (std::memcmp(sets[s].set, property, 16) != 0) continue;
    for (uint32_t i = 0; i < sets[s].propertiesCount; ++i) {
      const PropertyItem& item = sets[s].items[i];
      if (item.propertyId != id) continue;
      if (propertyLength < item.minProperty) return kStatusInvalidBufferSize;
      const void* handler = (flags & kPropertyGet)   ? item.getHandler
                            : (flags & kPropertySet) ? item.setHandler
                                                     : nullptr;
      if (handler == nullptr) return kStatusInvalidDeviceRequest;
      if (valueLength < item.minData) return kStatusBufferTooSmall;
      WriteAt<uint32_t>(irp, kIrpIoStatusInformation, (flags & kPropertyGet) ? item.minData : 0);
      Global().ledger.propertyHandlerCalls += 1;
      const uint32_t flagsBefore = FloatingExceptionFlags();
      const CallResult result = CheckedCall(handler, nullptr, {Word(irp), Word(property),
                                                               Word(value)});
      // Whatever a handler computes inside its own saved region is gone with the restore; a flag
      // raised now was raised in the requester's floating-point state.
      const uint32_t raised = FloatingExceptionFlags() & ~flagsBefore;
      if (Global().ledger.floatingSavesOpen == 0 && raised != 0) {
        Violation("property handler of id " + std::to_string(id) +
                  ((flags & kPropertyGet) ? " (get)" : " (set)") +
                  " computed in the requester's floating-point state (flags " +
                  std::to_string(raised) + ")");
      }
      if (result.bytesRemoved != 12) {
        Violation("property handler removed " + std::to_string(result.bytesRemoved) +
                  " argument bytes instead of 12 (not stdcall)");
      }
      return static_cast<int32_t>(result.value);
    }
    return kStatusNotFound;
  }
  return kStatusPropsetNotFound;
}

}  // namespace

void* ResolveKernelImport(const std::string& module, const std::string& name) {
  static const std::map<std::string, std::map<std::string, void*>> table = {
      {"ntoskrnl.exe",
       {{"ExAllocatePoolWithTag", reinterpret_cast<void*>(&ExAllocatePoolWithTag)},
        {"ExFreePool", reinterpret_cast<void*>(&ExFreePool)},
        {"ExFreePoolWithTag", reinterpret_cast<void*>(&ExFreePoolWithTag)},
        {"KeInitializeEvent", reinterpret_cast<void*>(&KeInitializeEvent)},
        {"KeInitializeMutex", reinterpret_cast<void*>(&KeInitializeMutex)},
        {"KeWaitForSingleObject", reinterpret_cast<void*>(&KeWaitForSingleObject)},
        {"KeReleaseMutex", reinterpret_cast<void*>(&KeReleaseMutex)},
        {"KeSaveFloatingPointState", reinterpret_cast<void*>(&KeSaveFloatingPointState)},
        {"KeRestoreFloatingPointState", reinterpret_cast<void*>(&KeRestoreFloatingPointState)},
        {"memcpy", reinterpret_cast<void*>(&Memcpy)},
        {"memset", reinterpret_cast<void*>(&Memset)}}},
      {"HAL.dll",
       {{"ExAcquireFastMutex", reinterpret_cast<void*>(&ExAcquireFastMutex)},
        {"ExReleaseFastMutex", reinterpret_cast<void*>(&ExReleaseFastMutex)}}},
      {"ks.sys", {{"KsPropertyHandler", reinterpret_cast<void*>(&KsPropertyHandler)}}},
  };
  auto found = table.find(module);
  if (found == table.end()) return nullptr;
  auto entry = found->second.find(name);
  return entry == found->second.end() ? nullptr : entry->second;
}

KernelLedger& Ledger() { return Global().ledger; }

void ResetLedger() {
  State& state = Global();
  state.ledger = KernelLedger{};
  state.ledger.liveBlocks = static_cast<uint32_t>(state.blocks.size());
  state.refusedTag = 0;
  state.refuseFloatingSave = false;
}

uint32_t LiveBlocksWithTag(const char (&tag)[5]) {
  uint32_t count = 0;
  for (const auto& [block, record] : Global().blocks) count += record.tag == TagValue(tag);
  return count;
}

uint32_t FloatingExceptionFlags() {
  uint32_t mxcsr;
  uint16_t status;
  asm volatile("stmxcsr %0\n\tfnstsw %1" : "=m"(mxcsr), "=m"(status));
  return (mxcsr & kFlagBits) | (static_cast<uint32_t>(status & kFlagBits) << 8);
}

void ExposeUnsavedFloatingPoint() {
  uint32_t mxcsr;
  uint16_t control;
  asm volatile("stmxcsr %0\n\tfnstcw %1" : "=m"(mxcsr), "=m"(control));
  mxcsr = (mxcsr & ~(kFlagBits | kMxcsrPrecisionMask));
  control = static_cast<uint16_t>(control & ~kX87PrecisionMask);
  asm volatile("fnclex\n\tldmxcsr %0\n\tfldcw %1" : : "m"(mxcsr), "m"(control) : "memory");
}

uint32_t ConcealUnsavedFloatingPoint() {
  const uint32_t raised = FloatingExceptionFlags();
  uint32_t mxcsr;
  uint16_t control;
  asm volatile("stmxcsr %0\n\tfnstcw %1" : "=m"(mxcsr), "=m"(control));
  mxcsr = (mxcsr & ~kFlagBits) | kMxcsrPrecisionMask;
  control = static_cast<uint16_t>(control | kX87PrecisionMask);
  asm volatile("fnclex\n\tldmxcsr %0\n\tfldcw %1" : : "m"(mxcsr), "m"(control) : "memory");
  return raised;
}

HostFloatingSave::HostFloatingSave() {
  saved_ = KeSaveFloatingPointState(area_) == kStatusSuccess;
  if (!saved_) Violation("the host's own floating-point save was refused");
}
HostFloatingSave::~HostFloatingSave() {
  if (saved_) KeRestoreFloatingPointState(area_);
}

void RefuseNextAllocation(const char (&tag)[5]) { Global().refusedTag = TagValue(tag); }
void RefuseNextFloatingSave() { Global().refuseFloatingSave = true; }

PropertyRequest::PropertyRequest(const void* property, uint32_t propertyLength, void* value,
                                 uint32_t valueLength) {
  stack_[0] = kMajorDeviceControl;
  WriteAt(stack_, kStackOutputBufferLength, valueLength);
  WriteAt(stack_, kStackInputBufferLength, propertyLength);
  WriteAt(stack_, kStackIoControlCode, kIoctlKsProperty);
  WriteAt(stack_, kStackType3InputBuffer, property);
  WriteAt(irp_, kIrpUserBuffer, value);
  WriteAt(irp_, kIrpCurrentStackLocation, static_cast<void*>(stack_));
}

void* PropertyRequest::DriverContext(int index) const {
  return ReadAt<void*>(irp_, kIrpDriverContext + 4 * index);
}

void PropertyRequest::SetDriverContext(int index, void* value) {
  WriteAt(irp_, kIrpDriverContext + 4 * index, value);
}

}  // namespace tessil::kernel_test

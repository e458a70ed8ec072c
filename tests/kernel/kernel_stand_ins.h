// User-mode stand-ins for the kernel services that the kernel image imports, with the calling
// conventions of the 32-bit kernel, and the bookkeeping the loader test checks: pool blocks per
// tag, mutex ownership, balanced floating-point saves, and the calling convention of the
// property handlers the image hands to KsPropertyHandler.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace tessil::kernel_test {

// The stand-in for module!name, or null.
void* ResolveKernelImport(const std::string& module, const std::string& name);

struct KernelLedger {
  uint32_t liveBlocks = 0;           // pool blocks not yet freed
  uint32_t allocations = 0;          // successful allocations since the last reset
  uint32_t floatingSavesOpen = 0;    // successful saves not yet restored
  uint32_t floatingSaves = 0;        // successful saves since the last reset
  uint32_t mutexesHeld = 0;          // kernel mutex acquisitions not yet released
  uint32_t fastMutexesHeld = 0;
  uint32_t propertyHandlerCalls = 0;
  std::vector<std::string> violations;  // misuse seen by the stand-ins
};

KernelLedger& Ledger();
void ResetLedger();  // also disarms the refusals below
uint32_t LiveBlocksWithTag(const char (&tag)[5]);

// The floating-point state a host thread calls in. Code that computes in floating point must do
// so inside a saved region (KeSaveFloatingPointState .. KeRestoreFloatingPointState); outside one
// it would overwrite the caller's registers. Exposing unmasks the precision exception of the SSE
// unit and of the x87 unit and clears their sticky flags, so on hardware any inexact operation
// there traps. qemu-user (7.2) does not deliver these traps but does raise the sticky flags, and
// a saved region ends with the caller's flags restored: a flag raised when the call returns was
// raised outside every saved region. The property-handler stand-in reports such a handler itself.
void ExposeUnsavedFloatingPoint();
// The flags raised since exposing (0: nothing computed outside a saved region); masks the
// precision exception again and clears the flags.
uint32_t ConcealUnsavedFloatingPoint();
// SSE flags in bits 0-5, x87 flags in bits 8-13.
uint32_t FloatingExceptionFlags();

// A saved region opened by the host itself around calls that compute in its floating-point
// context (Process and the equaliser band setters).
class HostFloatingSave {
 public:
  HostFloatingSave();
  ~HostFloatingSave();
  HostFloatingSave(const HostFloatingSave&) = delete;
  HostFloatingSave& operator=(const HostFloatingSave&) = delete;

 private:
  alignas(8) uint8_t area_[32] = {};
  bool saved_ = false;
};

// The next allocation with this tag fails (once).
void RefuseNextAllocation(const char (&tag)[5]);
// The next floating-point save fails with STATUS_ILLEGAL_FLOAT_CONTEXT (once).
void RefuseNextFloatingSave();

// A device-control request laid out as the 32-bit kernel lays out an IRP and its current stack
// location, for IOCTL_KS_PROPERTY: the property buffer is the type-3 input buffer, the value
// buffer the IRP's UserBuffer.
class PropertyRequest {
 public:
  PropertyRequest(const void* property, uint32_t propertyLength, void* value,
                  uint32_t valueLength);
  void* irp() { return irp_; }
  void SetMajorFunction(uint8_t major) { stack_[0] = major; }
  void* DriverContext(int index) const;
  void SetDriverContext(int index, void* value);

 private:
  alignas(8) uint8_t irp_[0x70] = {};
  alignas(8) uint8_t stack_[0x24] = {};
};

}  // namespace tessil::kernel_test

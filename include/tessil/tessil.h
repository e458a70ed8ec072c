// What a host driver includes to use Tessil: the exported entry points, the manager and stream
// processor interfaces, the property set (tessil_properties.h) and what a host needs to know
// about streams and properties (tessil_facts.h), together with the kernel
// services and types (platform/wdm.h) that a host needs to build and send a property request.
//
// The host obtains one manager from CreateTessilManager, one stream processor per audio stream
// from the manager, initialises each processor with its stream format and hands it every buffer.
// It releases every processor before the manager. Interface slot order and argument widths are
// binding: the host calls through the interface tables.
#pragma once

#include "platform/wdm.h"
#include "tessil/tessil_facts.h"
#include "tessil/tessil_properties.h"

#if defined(TESSIL_KERNEL)
// The kernel image exports through its module-definition file; PE has no symbol visibility.
#define TESSIL_EXPORT
#else
#define TESSIL_EXPORT __attribute__((visibility("default")))
#endif

// Interface tables. Hosts of the kernel image are built with the Windows toolchain, whose table
// for an interface with a virtual destructor has exactly one destructor slot, the deleting
// destructor void* (unsigned flags) (bit 0 set: free the block too), followed by the other
// virtual functions in declaration order, all called as thiscall. g++ gives a virtual destructor
// two slots, which would shift every later slot by one, so the kernel build declares slot 0 as
// that deleting destructor instead, and each implementation provides it with
// TESSIL_DELETING_DESTRUCTOR. Member functions are thiscall by default on 32-bit Windows targets.
#if defined(TESSIL_KERNEL)
#define TESSIL_INTERFACE_SLOT_0(Interface)                   \
 protected:                                                 \
  ~Interface() = default;                                   \
                                                            \
 public:                                                    \
  virtual void* DeletingDestructor(unsigned int flags) = 0; \
  void DestroyAndFree() { DeletingDestructor(1); }
#define TESSIL_OVERRIDE_DESTRUCTOR
#define TESSIL_DELETING_DESTRUCTOR(Class)                  \
  void* DeletingDestructor(unsigned int flags) override { \
    this->~Class();                                        \
    if (flags & 1) Class::operator delete(this);           \
    return this;                                           \
  }
#else
#define TESSIL_INTERFACE_SLOT_0(Interface) \
 protected:                                \
  virtual ~Interface() = default;          \
                                           \
 public:                                   \
  void DestroyAndFree() { delete this; }
#define TESSIL_OVERRIDE_DESTRUCTOR override
#define TESSIL_DELETING_DESTRUCTOR(Class)
#endif

// Objects behind both interfaces live in non-paged pool blocks of their own. Release runs the
// virtual destructor (slot 0) and hands the block back to the pool; the object must not be used
// afterwards. There is no reference counting.

// One stream: buffers hold interleaved frames of 32-bit floats in integer scale for the stream's
// bits per sample (16 bits: -32768.0 to 32767.0); channels 0 and 1 are processed.
class IStreamProcessor {
  TESSIL_INTERFACE_SLOT_0(IStreamProcessor)  // slot 0

 public:
  virtual void Release() { DestroyAndFree(); }  // slot 1
  // Slot 2. STATUS_SUCCESS, or the failure status of the floating-point state save.
  virtual NTSTATUS Init(ULONG sampleRate, USHORT bitsPerSample, USHORT channels,
                        ULONG reserved) = 0;
  // Slot 3. Input and output may be the same buffer.
  virtual void Process(const float* input, ULONG frames, float* output, ULONG reserved) = 0;

 public:
  // The object's pool block goes back to the pool with the deleting destructor.
  static void operator delete(void* block) { ExFreePool(block); }
};

// The manager: creates stream processors, keeps every setting and pushes each change to all live
// processors, and answers the requests of KSPROPSETID_Tessil. Set and get operations return
// STATUS_SUCCESS or STATUS_INVALID_PARAMETER; channels are 0 and 1, bands 0 to 3.
class ITessilManager {
  TESSIL_INTERFACE_SLOT_0(ITessilManager)  // slot 0

 public:
  virtual void Release() { DestroyAndFree(); }                     // slot 1
  virtual IStreamProcessor* CreateProcessor() = 0;                 // slot 2, null on failure
  virtual NTSTATUS HandlePropertyRequest(PIRP request) = 0;        // slot 3
  virtual NTSTATUS SetEnable(BOOLEAN on) = 0;                      // slot 4
  virtual NTSTATUS GetEnable(BOOLEAN* on) = 0;                     // slot 5
  virtual NTSTATUS SetEqEnable(ULONG channel, BOOLEAN on) = 0;     // slot 6
  virtual NTSTATUS GetEqEnable(ULONG channel, BOOLEAN* on) = 0;    // slot 7
  virtual NTSTATUS SetEqBandEnable(ULONG channel, ULONG band, BOOLEAN on) = 0;      // slot 8
  virtual NTSTATUS GetEqBandEnable(ULONG channel, ULONG band, BOOLEAN* on) = 0;     // slot 9
  virtual NTSTATUS SetEqBandGain(ULONG channel, ULONG band, float gain) = 0;        // slot 10
  virtual NTSTATUS GetEqBandGain(ULONG channel, ULONG band, float* gain) = 0;       // slot 11
  virtual NTSTATUS SetEqBandFrequency(ULONG channel, ULONG band, ULONG hertz) = 0;  // slot 12
  virtual NTSTATUS GetEqBandFrequency(ULONG channel, ULONG band, ULONG* hertz) = 0; // slot 13
  virtual NTSTATUS SetEqBandQ(ULONG channel, ULONG band, float q) = 0;              // slot 14
  virtual NTSTATUS GetEqBandQ(ULONG channel, ULONG band, float* q) = 0;             // slot 15

 public:
  // The object's pool block goes back to the pool with the deleting destructor.
  static void operator delete(void* block) { ExFreePool(block); }
};

extern "C" {

// A new manager, or null when it could not be built.
TESSIL_EXPORT ITessilManager* NTAPI CreateTessilManager();

// Both return STATUS_SUCCESS and do nothing else.
TESSIL_EXPORT NTSTATUS NTAPI DllInitialize(PUNICODE_STRING RegistryPath);
TESSIL_EXPORT NTSTATUS NTAPI DllUnload();

// The driver entry of an export driver: returns STATUS_SUCCESS and registers nothing.
TESSIL_EXPORT NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject,
                                         PUNICODE_STRING RegistryPath);

}  // extern "C"

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

#define TESSIL_EXPORT __attribute__((visibility("default")))

// Objects behind both interfaces live in non-paged pool blocks of their own. Release runs the
// virtual destructor (slot 0) and hands the block back to the pool; the object must not be used
// afterwards. There is no reference counting.

// One stream: buffers hold interleaved frames of 32-bit floats in integer scale for the stream's
// bits per sample (16 bits: -32768.0 to 32767.0); channels 0 and 1 are processed.
class IStreamProcessor {
 protected:
  virtual ~IStreamProcessor() = default;  // slot 0

 public:
  virtual void Release() { delete this; }  // slot 1
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
 protected:
  virtual ~ITessilManager() = default;  // slot 0

 public:
  virtual void Release() { delete this; }                          // slot 1
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
TESSIL_EXPORT ITessilManager* CreateTessilManager();

// Both return STATUS_SUCCESS and do nothing else.
TESSIL_EXPORT NTSTATUS DllInitialize(PUNICODE_STRING RegistryPath);
TESSIL_EXPORT NTSTATUS DllUnload();

// The driver entry of an export driver: returns STATUS_SUCCESS and registers nothing.
TESSIL_EXPORT NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

}  // extern "C"

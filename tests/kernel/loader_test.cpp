// Loads the kernel image tessil.sys into this 32-bit process with its kernel imports bound to
// user-mode stand-ins, and drives it the way a host driver built with the Windows toolchain
// does: the exports, the interface slots (thiscall, one deleting-destructor slot first), property
// requests as IRPs, and every stream reference vector, compared bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "checked_call.h"
#include "kernel_stand_ins.h"
#include "pe_image.h"
#include "tessil/tessil_facts.h"

namespace tessil::kernel_test {
namespace {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kInvalidParameter = 0xC000000D;
constexpr uint32_t kNotImplemented = 0xC0000002;
constexpr uint32_t kInvalidBufferSize = 0xC0000206;
constexpr uint32_t kIllegalFloatContext = 0xC000014A;

// Interface slots as the host's table holds them.
enum ManagerSlot : uint32_t {
  kManagerDeletingDestructor = 0, kManagerRelease, kCreateProcessor, kHandlePropertyRequest,
  kSetEnable, kGetEnable, kSetEqEnable, kGetEqEnable, kSetEqBandEnable, kGetEqBandEnable,
  kSetEqBandGain, kGetEqBandGain, kSetEqBandFrequency, kGetEqBandFrequency, kSetEqBandQ,
  kGetEqBandQ,
};
enum ProcessorSlot : uint32_t { kProcessorDeletingDestructor = 0, kProcessorRelease, kInit, kProcess };

PeImage& Image() {
  static PeImage image;
  static const bool loaded = image.Load(TESSIL_KERNEL_IMAGE, ResolveKernelImport);
  EXPECT_TRUE(loaded) << image.error();
  return image;
}

// Where a call may compute in floating point: nowhere outside the saved regions the image opens
// itself, or (Process and the equaliser band setters, whose contract leaves the floating-point
// state to the host) inside a region the host has saved.
enum class FloatingPoint { kSavedByImage, kSavedByHost };

// Runs `call` in the floating-point state a host thread has, and fails the test if anything was
// computed in that state rather than in a saved region.
template <typename Call>
CallResult InCallersFloatingPoint(const char* what, uint32_t which, FloatingPoint context,
                                  Call call) {
  ExposeUnsavedFloatingPoint();
  CallResult result;
  if (context == FloatingPoint::kSavedByHost) {
    HostFloatingSave save;
    result = call();
  } else {
    result = call();
  }
  const uint32_t raised = ConcealUnsavedFloatingPoint();
  EXPECT_EQ(raised, 0u) << what << " " << which
                        << " computed in the caller's floating-point state (flags " << raised
                        << ")";
  return result;
}

// A call through slot `slot` of the object's interface table; every argument is one word and the
// callee must remove them all (thiscall).
uint32_t CallSlot(const void* object, uint32_t slot, std::initializer_list<uint32_t> arguments,
                  FloatingPoint context) {
  const void* const* table = *static_cast<const void* const* const*>(object);
  EXPECT_TRUE(Image().Contains(table[slot])) << "slot " << slot << " points outside the image";
  const CallResult result = InCallersFloatingPoint(
      "slot", slot, context, [&] { return CheckedCall(table[slot], object, arguments); });
  EXPECT_EQ(result.bytesRemoved, static_cast<int32_t>(4 * arguments.size()))
      << "slot " << slot << " is not thiscall";
  return result.value;
}

// The band setters redesign filters in the host's floating-point context, as Process computes in
// it; every other slot saves what it computes in or computes nothing.
uint32_t CallManager(const void* manager, uint32_t slot, std::initializer_list<uint32_t> arguments) {
  const bool hostSaves = slot == kSetEqBandEnable || slot == kSetEqBandGain ||
                         slot == kSetEqBandFrequency || slot == kSetEqBandQ;
  return CallSlot(manager, slot, arguments,
                  hostSaves ? FloatingPoint::kSavedByHost : FloatingPoint::kSavedByImage);
}

uint32_t CallProcessor(const void* processor, uint32_t slot,
                       std::initializer_list<uint32_t> arguments) {
  return CallSlot(processor, slot, arguments,
                  slot == kProcess ? FloatingPoint::kSavedByHost : FloatingPoint::kSavedByImage);
}

uint32_t CallExport(const char* name, std::initializer_list<uint32_t> arguments) {
  void* function = Image().Export(name);
  EXPECT_NE(function, nullptr) << name;
  const CallResult result = InCallersFloatingPoint(
      name, 0, FloatingPoint::kSavedByImage,
      [&] { return CheckedCall(function, nullptr, arguments); });
  EXPECT_EQ(result.bytesRemoved, static_cast<int32_t>(4 * arguments.size()))
      << name << " is not stdcall";
  return result.value;
}

void* CreateManager() {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(CallExport("CreateTessilManager", {})));
}

// Each test starts and ends with a clean ledger: nothing allocated, every lock and every
// floating-point save undone, no misuse seen by the stand-ins.
class KernelImage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Image().error().empty()) << Image().error();
    ResetLedger();
  }
  void TearDown() override {
    const KernelLedger& ledger = Ledger();
    EXPECT_EQ(ledger.liveBlocks, 0u) << "pool blocks left behind";
    EXPECT_EQ(ledger.floatingSavesOpen, 0u) << "floating-point saves not restored";
    EXPECT_EQ(ledger.mutexesHeld, 0u);
    EXPECT_EQ(ledger.fastMutexesHeld, 0u);
    for (const std::string& violation : ledger.violations) ADD_FAILURE() << violation;
  }
};

// A property request through the manager's HandlePropertyRequest slot.
struct Property {
  TESSIL_BAND_PROPERTY request{};
  uint32_t value = 0;
  uint32_t length = sizeof(KSPROPERTY);

  Property(uint32_t id, bool get, uint32_t setValue = 0) : value(setValue) {
    request.Property.Set = KSPROPSETID_Tessil;
    request.Property.Id = id;
    request.Property.Flags = get ? KSPROPERTY_TYPE_GET : KSPROPERTY_TYPE_SET;
  }
  Property& Band(uint32_t channel, uint32_t band) {
    request.Channel = channel;
    request.Band = band;
    length = sizeof(TESSIL_BAND_PROPERTY);
    return *this;
  }
  uint32_t SendTo(void* manager) {
    PropertyRequest irp(&request, length, &value, sizeof value);
    return CallManager(manager, kHandlePropertyRequest, {Word(irp.irp())});
  }
};

uint32_t SetProperty(void* manager, uint32_t id, int32_t value) {
  return Property(id, false, static_cast<uint32_t>(value)).SendTo(manager);
}

TEST_F(KernelImage, ExportsImportsAndEntryPoints) {
  std::vector<std::string> exports = Image().ExportNames();
  std::sort(exports.begin(), exports.end());
  EXPECT_EQ(exports, (std::vector<std::string>{"CreateTessilManager", "DllInitialize",
                                               "DllUnload"}));
  const std::set<std::string> modules = {"ntoskrnl.exe", "HAL.dll", "ks.sys"};
  for (const ImageImport& import : Image().imports()) {
    EXPECT_TRUE(modules.count(import.module)) << import.module << "!" << import.name;
  }
  EXPECT_GT(Image().relocationsApplied(), 0u);
  EXPECT_EQ(Image().subsystem(), 1) << "not a native image";
  EXPECT_EQ(Image().storedChecksum(), Image().fileChecksum());

  UNICODE_STRING path{};
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(CallExport("DllInitialize", {Word(&path)}), kSuccess);
    EXPECT_EQ(CallExport("DllUnload", {}), kSuccess);
    const CallResult entry = CheckedCall(Image().EntryPoint(), nullptr, {0, Word(&path)});
    EXPECT_EQ(entry.value, kSuccess);
    EXPECT_EQ(entry.bytesRemoved, 8) << "DriverEntry is not stdcall";
  }
  EXPECT_EQ(Ledger().allocations, 0u);
}

TEST_F(KernelImage, InterfaceSlotsAndDeletingDestructor) {
  void* manager = CreateManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(LiveBlocksWithTag("TsMg"), 1u);
  EXPECT_EQ(LiveBlocksWithTag("TsMc"), 1u);

  uint32_t word = 0xFFFFFFFF;
  EXPECT_EQ(CallManager(manager, kSetEnable, {0}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEnable, {Word(&word)}), kSuccess);
  EXPECT_EQ(word & 0xFF, 0u);
  EXPECT_EQ(CallManager(manager, kSetEqBandQ, {1, 2, Word(4.0f)}), kSuccess);
  float q = 0.0f;
  EXPECT_EQ(CallManager(manager, kGetEqBandQ, {1, 2, Word(&q)}), kSuccess);
  EXPECT_EQ(q, 4.0f);
  EXPECT_EQ(CallManager(manager, kSetEqBandFrequency, {0, 1, 2500}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEqBandFrequency, {0, 1, Word(&word)}), kSuccess);
  EXPECT_EQ(word, 2500u);
  EXPECT_EQ(CallManager(manager, kSetEqBandGain, {2, 0, Word(1.0f)}), kInvalidParameter);
  EXPECT_EQ(CallManager(manager, kGetEqBandEnable, {2, 0, Word(&word)}), kInvalidParameter);

  // A processor released through slot 0 with the free flag, the other through Release.
  void* first = reinterpret_cast<void*>(CallManager(manager, kCreateProcessor, {}));
  void* second = reinterpret_cast<void*>(CallManager(manager, kCreateProcessor, {}));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(LiveBlocksWithTag("TsPr"), 2u);
  EXPECT_EQ(CallProcessor(first, kInit, {48000, 16, 2, 0}), kSuccess);
  EXPECT_EQ(CallProcessor(first, kProcessorDeletingDestructor, {1}), Word(first));
  EXPECT_EQ(LiveBlocksWithTag("TsPr"), 1u);
  CallProcessor(second, kProcessorRelease, {});
  EXPECT_EQ(LiveBlocksWithTag("TsSt"), 0u);
  CallManager(manager, kManagerRelease, {});
}

TEST_F(KernelImage, FailedAllocationOrFloatingSaveGivesNoManager) {
  RefuseNextAllocation("TsMc");
  EXPECT_EQ(CreateManager(), nullptr);
  RefuseNextFloatingSave();
  EXPECT_EQ(CreateManager(), nullptr);
  void* manager = CreateManager();
  ASSERT_NE(manager, nullptr);
  RefuseNextAllocation("TsSt");
  EXPECT_EQ(CallManager(manager, kCreateProcessor, {}), 0u);
  CallManager(manager, kManagerDeletingDestructor, {1});
}

TEST_F(KernelImage, PropertyRequestsAsIrps) {
  void* manager = CreateManager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(SetProperty(manager, KSPROPERTY_TESSIL_INPUT_GAIN, -6), kSuccess);
  Property gain(KSPROPERTY_TESSIL_INPUT_GAIN, true);
  EXPECT_EQ(gain.SendTo(manager), kSuccess);
  EXPECT_EQ(static_cast<int32_t>(gain.value), -6);
  EXPECT_EQ(SetProperty(manager, KSPROPERTY_TESSIL_OUTPUT_GAIN, 13), kInvalidParameter);

  Property q(KSPROPERTY_TESSIL_EQ_BAND_Q, false, 35);
  EXPECT_EQ(q.Band(1, 3).SendTo(manager), kSuccess);
  Property readQ(KSPROPERTY_TESSIL_EQ_BAND_Q, true);
  EXPECT_EQ(readQ.Band(1, 3).SendTo(manager), kSuccess);
  EXPECT_EQ(readQ.value, 35u);

  Property booleanSet(KSPROPERTY_TESSIL_HIGHPASS_ENABLE, false, 7);
  EXPECT_EQ(booleanSet.SendTo(manager), kSuccess);
  EXPECT_EQ(booleanSet.value, 1u);

  // Not this set's business: the driver context slot is restored afterwards.
  Property unknown(20, true);
  PropertyRequest irp(&unknown.request, unknown.length, &unknown.value, 4);
  void* marker = &irp;
  irp.SetDriverContext(3, marker);
  EXPECT_EQ(CallManager(manager, kHandlePropertyRequest, {Word(irp.irp())}), kNotImplemented);
  EXPECT_EQ(irp.DriverContext(3), marker);
  irp.SetMajorFunction(0x03);
  EXPECT_EQ(CallManager(manager, kHandlePropertyRequest, {Word(irp.irp())}), kNotImplemented);

  Property shortBand(KSPROPERTY_TESSIL_EQ_BAND_GAIN, true);
  shortBand.length = sizeof(TESSIL_CHANNEL_PROPERTY);
  EXPECT_EQ(shortBand.SendTo(manager), kInvalidBufferSize);
  EXPECT_GE(Ledger().propertyHandlerCalls, 5u);
  CallManager(manager, kManagerRelease, {});
}

// Every property handler and every interface slot, live (a processor is initialised, so a
// setting redesigns its filters), called in the floating-point state of a host thread: nothing may
// compute in it outside a saved region, and every handler passes a refused save on.
TEST_F(KernelImage, NothingComputesInTheCallersFloatingPointState) {
  void* manager = CreateManager();
  ASSERT_NE(manager, nullptr);
  void* processor = reinterpret_cast<void*>(CallManager(manager, kCreateProcessor, {}));
  ASSERT_NE(processor, nullptr);
  ASSERT_EQ(CallProcessor(processor, kInit, {48000, 16, 2, 0}), kSuccess);
  for (const TESSIL_PROPERTY_FACTS& facts : kTessilPropertyFacts) {
    const auto request = [&](bool get, LONG value) {
      Property property(facts.Id, get, static_cast<uint32_t>(value));
      if (facts.Scope != TESSIL_SCOPE_STREAM) property.Band(1, 2);
      return property;
    };
    // A value other than the current one, so that whatever it redesigns is redesigned.
    const LONG changed = facts.Maximum != facts.Default ? facts.Maximum : facts.Minimum;
    EXPECT_EQ(request(false, changed).SendTo(manager), kSuccess) << facts.Identifier;
    Property get = request(true, 0);
    EXPECT_EQ(get.SendTo(manager), kSuccess) << facts.Identifier;
    EXPECT_EQ(static_cast<LONG>(get.value), changed) << facts.Identifier;
    RefuseNextFloatingSave();
    EXPECT_EQ(request(false, facts.Default).SendTo(manager), kIllegalFloatContext)
        << facts.Identifier;
    RefuseNextFloatingSave();
    EXPECT_EQ(request(true, 0).SendTo(manager), kIllegalFloatContext) << facts.Identifier;
  }
  EXPECT_EQ(Ledger().propertyHandlerCalls, 4 * kTessilPropertyCount);

  uint32_t word = 0;
  float value = 0.0f;
  EXPECT_EQ(CallManager(manager, kSetEnable, {1}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEnable, {Word(&word)}), kSuccess);
  EXPECT_EQ(CallManager(manager, kSetEqEnable, {0, 0}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEqEnable, {0, Word(&word)}), kSuccess);
  EXPECT_EQ(CallManager(manager, kSetEqBandEnable, {0, 1, 0}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEqBandEnable, {0, 1, Word(&word)}), kSuccess);
  EXPECT_EQ(CallManager(manager, kSetEqBandGain, {0, 1, Word(2.0f)}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEqBandGain, {0, 1, Word(&value)}), kSuccess);
  EXPECT_EQ(CallManager(manager, kSetEqBandFrequency, {0, 1, 3000}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEqBandFrequency, {0, 1, Word(&word)}), kSuccess);
  EXPECT_EQ(CallManager(manager, kSetEqBandQ, {0, 1, Word(0.5f)}), kSuccess);
  EXPECT_EQ(CallManager(manager, kGetEqBandQ, {0, 1, Word(&value)}), kSuccess);
  std::vector<float> buffer(2 * 480, 1000.0f);
  CallProcessor(processor, kProcess, {Word(buffer.data()), 480, Word(buffer.data()), 0});
  EXPECT_EQ(CallProcessor(processor, kProcessorDeletingDestructor, {1}), Word(processor));
  CallManager(manager, kManagerRelease, {});
}

std::vector<float> ReadFloats(const std::string& name) {
  std::ifstream in(std::string(TESSIL_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

struct StreamVector {
  const char* name;
  uint32_t rate;
  uint32_t bufferFrames;
  void (*configure)(void* manager);
};

void ExpectStreamMatches(const StreamVector& vector) {
  void* manager = CreateManager();
  ASSERT_NE(manager, nullptr);
  vector.configure(manager);
  void* processor = reinterpret_cast<void*>(CallManager(manager, kCreateProcessor, {}));
  ASSERT_NE(processor, nullptr);
  ASSERT_EQ(CallProcessor(processor, kInit, {vector.rate, 16, 2, 0}), kSuccess);
  const std::vector<float> input = ReadFloats(std::string(vector.name) + ".in.f32");
  const std::vector<float> expected = ReadFloats(std::string(vector.name) + ".out.f32");
  ASSERT_EQ(input.size(), expected.size());
  std::vector<float> output(input.size());
  const uint32_t frames = static_cast<uint32_t>(input.size() / 2);
  for (uint32_t start = 0; start < frames; start += vector.bufferFrames) {
    const uint32_t count = std::min(vector.bufferFrames, frames - start);
    CallProcessor(processor, kProcess, {Word(&input[2 * start]), count, Word(&output[2 * start]), 0});
  }
  size_t mismatches = 0, first = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    if (std::memcmp(&output[i], &expected[i], sizeof(float)) != 0 && mismatches++ == 0) first = i;
  }
  EXPECT_EQ(mismatches, 0u) << vector.name << ": first difference at sample " << first << ": "
                            << output[first] << " instead of " << expected[first];
  CallProcessor(processor, kProcessorRelease, {});
  CallManager(manager, kManagerRelease, {});
}

TEST_F(KernelImage, EveryStreamVectorBitForBit) {
  const StreamVector vectors[] = {
      {"stream48-defaults-480", 48000, 480, [](void*) {}},
      {"stream44-defaults-441", 44100, 441, [](void*) {}},
      {"stream48-bypass-480", 48000, 480,
       [](void* m) {
         EXPECT_EQ(CallManager(m, kSetEnable, {0}), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_BYPASS_GAIN, -12), kSuccess);
       }},
      {"stream48-coreoff-480", 48000, 480,
       [](void* m) { EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_CORE_ENABLE, 0), kSuccess); }},
      {"stream32-custom-960", 32000, 960,
       [](void* m) {
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_INPUT_GAIN, -2), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_OUTPUT_GAIN, -6), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY, 150), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_HIGHPASS_ORDER, 3), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_LOWPASS_FREQUENCY, 9000), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_LOWPASS_ORDER, 5), kSuccess);
         EXPECT_EQ(CallManager(m, kSetEqBandGain, {0, 0, Word(1.9952623844146729f)}), kSuccess);
         EXPECT_EQ(CallManager(m, kSetEqBandFrequency, {0, 0, 200}), kSuccess);
         EXPECT_EQ(CallManager(m, kSetEqBandQ, {0, 0, Word(0.699999988079071f)}), kSuccess);
         EXPECT_EQ(Property(KSPROPERTY_TESSIL_EQ_BAND_GAIN, false, static_cast<uint32_t>(-6))
                       .Band(1, 2).SendTo(m), kSuccess);
         EXPECT_EQ(Property(KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY, false, 3000).Band(1, 2).SendTo(m),
                   kSuccess);
         EXPECT_EQ(Property(KSPROPERTY_TESSIL_EQ_BAND_Q, false, 400).Band(1, 2).SendTo(m),
                   kSuccess);
         EXPECT_EQ(CallManager(m, kSetEqBandEnable, {0, 3, 0}), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT, 50), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_CORE_LEVEL, 35), kSuccess);
         EXPECT_EQ(SetProperty(m, KSPROPERTY_TESSIL_CORE_WEIGHTING, 0), kSuccess);
       }},
  };
  for (const StreamVector& vector : vectors) ExpectStreamMatches(vector);
}

}  // namespace
}  // namespace tessil::kernel_test

#include "tessil/tessil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "platform/testing.h"

namespace {

TEST(TessilHeader, PropertySetIdentifierHasTheStandardByteLayout) {
  const unsigned char expected[16] = {0x94, 0x2A, 0x1C, 0x6F, 0x7E, 0x3B, 0x25, 0x4D,
                                      0x9A, 0x0C, 0x5E, 0x8B, 0x71, 0xD4, 0xC3, 0x62};
  EXPECT_EQ(std::memcmp(&KSPROPSETID_Tessil, expected, sizeof expected), 0);
}

TEST(TessilHeader, PropertyRequestsPlaceChannelAndBandWhereTheDriverReadsThem) {
  TESSIL_BAND_PROPERTY request{};
  request.Property = {KSPROPSETID_Tessil, KSPROPERTY_TESSIL_EQ_BAND_Q, KSPROPERTY_TYPE_GET};
  request.Channel = 1;
  request.Band = 3;
  unsigned char bytes[40];
  std::memcpy(bytes, &request, sizeof bytes);
  ULONG id, flags, channel, band;
  std::memcpy(&id, bytes + 16, 4);
  std::memcpy(&flags, bytes + 20, 4);
  std::memcpy(&channel, bytes + 24, 4);
  std::memcpy(&band, bytes + 32, 4);
  EXPECT_EQ(id, 17u);
  EXPECT_EQ(flags, 1u);
  EXPECT_EQ(channel, 1u);
  EXPECT_EQ(band, 3u);
  EXPECT_EQ(sizeof(TESSIL_CHANNEL_PROPERTY), 32u);
  EXPECT_EQ(KSPROPERTY_TESSIL_CORE_WEIGHTING, 19);
}

// Under the Itanium C++ ABI a pointer to a virtual member function holds 1 + the byte offset of
// its vtable entry; the virtual destructor takes two entries (complete and deleting) in front.
template <typename Method>
ptrdiff_t VtableIndex(Method method) {
  struct Representation {
    ptrdiff_t pointer;
    ptrdiff_t adjustment;
  } representation;
  static_assert(sizeof(Method) == sizeof(Representation));
  std::memcpy(&representation, &method, sizeof representation);
  return (representation.pointer - 1) / static_cast<ptrdiff_t>(sizeof(void*));
}

TEST(TessilHeader, InterfaceSlotsComeInTheBindingOrder) {
  const ptrdiff_t managerSlots[] = {
      VtableIndex(&ITessilManager::Release),
      VtableIndex(&ITessilManager::CreateProcessor),
      VtableIndex(&ITessilManager::HandlePropertyRequest),
      VtableIndex(&ITessilManager::SetEnable),
      VtableIndex(&ITessilManager::GetEnable),
      VtableIndex(&ITessilManager::SetEqEnable),
      VtableIndex(&ITessilManager::GetEqEnable),
      VtableIndex(&ITessilManager::SetEqBandEnable),
      VtableIndex(&ITessilManager::GetEqBandEnable),
      VtableIndex(&ITessilManager::SetEqBandGain),
      VtableIndex(&ITessilManager::GetEqBandGain),
      VtableIndex(&ITessilManager::SetEqBandFrequency),
      VtableIndex(&ITessilManager::GetEqBandFrequency),
      VtableIndex(&ITessilManager::SetEqBandQ),
      VtableIndex(&ITessilManager::GetEqBandQ),
  };
  for (ptrdiff_t slot = 1; slot <= 15; ++slot) {
    EXPECT_EQ(managerSlots[slot - 1], slot + 1) << "manager slot " << slot;
  }
  EXPECT_EQ(VtableIndex(&IStreamProcessor::Release), 2);
  EXPECT_EQ(VtableIndex(&IStreamProcessor::Init), 3);
  EXPECT_EQ(VtableIndex(&IStreamProcessor::Process), 4);
}

// A stream processor built the way the driver builds its objects: in a pool block of its own.
class PoolProcessor : public IStreamProcessor {
 public:
  explicit PoolProcessor(int* destroyed) : destroyed_(destroyed) {}
  ~PoolProcessor() override { *destroyed_ += 1; }
  NTSTATUS Init(ULONG, USHORT, USHORT, ULONG) override { return STATUS_SUCCESS; }
  void Process(const float*, ULONG, float*, ULONG) override {}

 private:
  int* destroyed_;
};

TEST(TessilHeader, ReleaseRunsTheDestructorAndReturnsTheBlockToThePool) {
  const ULONG tag = PoolTag("TaRl");
  void* block = ExAllocatePoolWithTag(NonPagedPool, sizeof(PoolProcessor), tag);
  ASSERT_NE(block, nullptr);
  int destroyed = 0;
  IStreamProcessor* processor = new (block) PoolProcessor(&destroyed);
  ASSERT_EQ(tessil::QueryPoolTag(tag).liveBlocks, 1u);
  processor->Release();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(tessil::QueryPoolTag(tag).liveBlocks, 0u);
}

}  // namespace

#include "platform/ks.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tessil {
namespace {

constexpr GUID kTestSet = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kOtherSet = {0x99AABBCC, 0xDDEE, 0xFF00, {8, 7, 6, 5, 4, 3, 2, 1}};
constexpr GUID kUnknownSet = {0x0BADF00D, 0x1, 0x2, {0, 0, 0, 0, 0, 0, 0, 9}};
constexpr GUID kValueTypes = {0x4747, 0x4848, 0x4949, {9, 9, 9, 9, 9, 9, 9, 9}};

// What the last handler call saw.
struct HandlerCall {
  int count = 0;
  PIRP irp = nullptr;
  PKSIDENTIFIER request = nullptr;
  PVOID data = nullptr;
  ULONG_PTR informationOnEntry = 0;
};
HandlerCall gCall;
ULONG gStoredValue = 0;

void Record(PIRP irp, PKSIDENTIFIER request, PVOID data) {
  gCall.count += 1;
  gCall.irp = irp;
  gCall.request = request;
  gCall.data = data;
  gCall.informationOnEntry = irp->IoStatus.Information;
}

NTSTATUS GetValue(PIRP irp, PKSIDENTIFIER request, PVOID data) {
  Record(irp, request, data);
  *static_cast<ULONG*>(data) = 0x1200 + request->Id;
  return STATUS_SUCCESS;
}

NTSTATUS SetValue(PIRP irp, PKSIDENTIFIER request, PVOID data) {
  Record(irp, request, data);
  gStoredValue = *static_cast<ULONG*>(data);
  return STATUS_SUCCESS;
}

NTSTATUS RefusingGet(PIRP irp, PKSIDENTIFIER request, PVOID data) {
  Record(irp, request, data);
  irp->IoStatus.Information = 4;
  return STATUS_INVALID_PARAMETER;
}

NTSTATUS WideGet(PIRP irp, PKSIDENTIFIER request, PVOID data) {
  Record(irp, request, data);
  static_cast<ULONG*>(data)[0] = 1;
  static_cast<ULONG*>(data)[1] = 2;
  irp->IoStatus.Information = 8;
  return STATUS_SUCCESS;
}

NTSTATUS AnswerSupport(PIRP irp, PKSIDENTIFIER request, PVOID data) {
  Record(irp, request, data);
  *static_cast<ULONG*>(data) = 0xABCD;
  irp->IoStatus.Information = sizeof(ULONG);
  return STATUS_SUCCESS;
}

const LONG kRange[2] = {-10, 10};
const ULONG kChoices[3] = {1, 2, 4};
const KSPROPERTY_MEMBERSLIST kMembers[2] = {
    {{KSPROPERTY_MEMBER_RANGES, sizeof kRange, 1, 0}, kRange},
    {{KSPROPERTY_MEMBER_VALUES, sizeof(ULONG), 3, 0}, kChoices},
};
const KSPROPERTY_VALUES kValues = {{kValueTypes, 19, 0}, 2, kMembers};
constexpr ULONG kFullDescriptionSize = 40 + (16 + 8) + (16 + 12);

const KSPROPERTY_ITEM kTestItems[] = {
    {0, GetValue, 24, 4, SetValue, nullptr, 0, nullptr, nullptr, 0},
    {1, GetValue, 40, 4, nullptr, nullptr, 0, nullptr, nullptr, 0},
    {2, RefusingGet, 24, 4, SetValue, &kValues, 0, nullptr, nullptr, 0},
    {3, nullptr, 24, 4, SetValue, nullptr, 0, nullptr, AnswerSupport, 0},
    {4, WideGet, 24, 4, nullptr, nullptr, 0, nullptr, nullptr, 0},
};
const KSPROPERTY_ITEM kOtherItems[] = {
    {0, RefusingGet, 24, 4, nullptr, nullptr, 0, nullptr, nullptr, 0},
};
// The test set comes second so that the search has to look past the first.
const KSPROPERTY_SET kSets[2] = {
    {&kOtherSet, 1, kOtherItems, 0, nullptr},
    {&kTestSet, sizeof kTestItems / sizeof kTestItems[0], kTestItems, 0, nullptr},
};

// One request with room for a 48-byte property and a 128-byte value; the driver-context slots
// and the status block start with marks so that untouched ones can be recognised.
struct Request {
  KSPROPERTY_REQUEST_PACKET packet;
  alignas(8) UCHAR property[48];
  alignas(8) UCHAR value[128];
  PIRP irp;

  Request(const GUID& set, ULONG id, ULONG flags, ULONG propertyLength, ULONG valueLength) {
    memset(property, 0, sizeof property);
    memset(value, 0xEE, sizeof value);
    const KSPROPERTY header = {set, id, flags};
    memcpy(property, &header, sizeof header);
    irp = BuildPropertyRequest(&packet, property, propertyLength, value, valueLength);
    for (int slot = 0; slot < 4; ++slot) {
      irp->Tail.Overlay.DriverContext[slot] = reinterpret_cast<PVOID>(0x1000 + slot);
    }
    irp->IoStatus.Status = 0x5A5A;
    irp->IoStatus.Information = 0xDEAD;
  }

  NTSTATUS Send() { return KsPropertyHandler(irp, 2, kSets); }
  ULONG ValueWord(int index) const {
    ULONG word;
    memcpy(&word, value + 4 * index, sizeof word);
    return word;
  }
};

class KsPropertyHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gCall = HandlerCall{};
    gStoredValue = 0;
  }
};

TEST_F(KsPropertyHandlerTest, RefusesMalformedRequestsWithoutCallingAHandler) {
  struct Case {
    const char* what;
    GUID set;
    ULONG id;
    ULONG flags;
    ULONG propertyLength;
    ULONG valueLength;
    NTSTATUS expected;
  };
  const Case cases[] = {
      {"no property buffer", kTestSet, 0, KSPROPERTY_TYPE_GET, 0, 4, STATUS_INVALID_BUFFER_SIZE},
      {"short property", kTestSet, 0, KSPROPERTY_TYPE_GET, 23, 4, STATUS_INVALID_BUFFER_SIZE},
      {"unknown set", kUnknownSet, 0, KSPROPERTY_TYPE_GET, 24, 4, STATUS_PROPSET_NOT_FOUND},
      {"unknown id", kTestSet, 9, KSPROPERTY_TYPE_GET, 24, 4, STATUS_NOT_FOUND},
      {"below MinProperty", kTestSet, 1, KSPROPERTY_TYPE_GET, 32, 4, STATUS_INVALID_BUFFER_SIZE},
      {"below MinData, get", kTestSet, 0, KSPROPERTY_TYPE_GET, 24, 3, STATUS_BUFFER_TOO_SMALL},
      {"below MinData, set", kTestSet, 0, KSPROPERTY_TYPE_SET, 24, 3, STATUS_BUFFER_TOO_SMALL},
      {"empty value, set", kTestSet, 0, KSPROPERTY_TYPE_SET, 24, 0, STATUS_BUFFER_TOO_SMALL},
      {"no set handler", kTestSet, 1, KSPROPERTY_TYPE_SET, 40, 4, STATUS_INVALID_DEVICE_REQUEST},
      {"no get handler", kTestSet, 3, KSPROPERTY_TYPE_GET, 24, 4, STATUS_INVALID_DEVICE_REQUEST},
      {"no request type", kTestSet, 0, 0, 24, 4, STATUS_INVALID_PARAMETER},
      {"two request types", kTestSet, 0, KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET, 24, 4,
       STATUS_INVALID_PARAMETER},
      {"relations", kTestSet, 2, KSPROPERTY_TYPE_RELATIONS, 24, 4, STATUS_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    Request request(c.set, c.id, c.flags, c.propertyLength, c.valueLength);
    if (c.propertyLength == 0) {
      request.packet.StackLocation.Parameters.DeviceIoControl.Type3InputBuffer = nullptr;
    }
    EXPECT_EQ(request.Send(), c.expected) << c.what;
    EXPECT_EQ(request.irp->IoStatus.Information, 0u) << c.what;
    EXPECT_EQ(request.irp->IoStatus.Status, 0x5A5A) << c.what;  // the caller's to set
    EXPECT_EQ(request.ValueWord(0), 0xEEEEEEEEu) << c.what;
  }
  EXPECT_EQ(gCall.count, 0);

  Request nullValue(kTestSet, 0, KSPROPERTY_TYPE_GET, 24, 4);
  nullValue.irp->UserBuffer = nullptr;
  EXPECT_EQ(nullValue.Send(), STATUS_ACCESS_VIOLATION);
  EXPECT_EQ(gCall.count, 0);
}

TEST_F(KsPropertyHandlerTest, GetReachesTheItemHandlerWithTheRequestBuffers) {
  Request request(kTestSet, 0, KSPROPERTY_TYPE_GET, 24, 8);
  EXPECT_EQ(request.Send(), STATUS_SUCCESS);
  EXPECT_EQ(gCall.count, 1);
  EXPECT_EQ(gCall.irp, request.irp);
  EXPECT_EQ(static_cast<void*>(gCall.request), static_cast<void*>(request.property));
  EXPECT_EQ(gCall.data, static_cast<void*>(request.value));
  EXPECT_EQ(gCall.informationOnEntry, 4u);
  EXPECT_EQ(request.ValueWord(0), 0x1200u);
  EXPECT_EQ(request.ValueWord(1), 0xEEEEEEEEu);
  EXPECT_EQ(request.irp->IoStatus.Information, 4u);  // MinData, not the buffer length

  // The set found is recorded for the handlers; the other driver-context slots stay the caller's.
  EXPECT_EQ(KSPROPERTY_SET_IRP_STORAGE(request.irp), &kSets[1]);
  for (int slot = 1; slot < 4; ++slot) {
    EXPECT_EQ(request.irp->Tail.Overlay.DriverContext[slot], reinterpret_cast<PVOID>(0x1000 + slot));
  }

  Request topology(kTestSet, 1, KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_TOPOLOGY, 40, 4);
  EXPECT_EQ(topology.Send(), STATUS_SUCCESS);
  EXPECT_EQ(topology.ValueWord(0), 0x1201u);

  Request wide(kTestSet, 4, KSPROPERTY_TYPE_GET, 24, 8);
  EXPECT_EQ(wide.Send(), STATUS_SUCCESS);
  EXPECT_EQ(wide.irp->IoStatus.Information, 8u);  // a handler's own count stands
}

TEST_F(KsPropertyHandlerTest, SetReachesTheSetHandlerAndReturnsNoBytes) {
  Request request(kTestSet, 0, KSPROPERTY_TYPE_SET, 24, 4);
  const ULONG newValue = 77;
  memcpy(request.value, &newValue, sizeof newValue);
  EXPECT_EQ(request.Send(), STATUS_SUCCESS);
  EXPECT_EQ(gCall.count, 1);
  EXPECT_EQ(gStoredValue, 77u);
  EXPECT_EQ(gCall.informationOnEntry, 0u);
  EXPECT_EQ(request.irp->IoStatus.Information, 0u);
}

TEST_F(KsPropertyHandlerTest, HandlerFailurePassesThroughWithNoBytesReturned) {
  Request request(kTestSet, 2, KSPROPERTY_TYPE_GET, 24, 4);
  EXPECT_EQ(request.Send(), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(gCall.count, 1);
  EXPECT_EQ(request.irp->IoStatus.Information, 0u);
}

TEST_F(KsPropertyHandlerTest, EmptyValueBufferOnAGetAsksForTheValueSize) {
  Request request(kTestSet, 0, KSPROPERTY_TYPE_GET, 24, 0);
  EXPECT_EQ(request.Send(), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(request.irp->IoStatus.Information, 4u);
  EXPECT_EQ(gCall.count, 0);
}

TEST_F(KsPropertyHandlerTest, SetSupportAnswersForAKnownSetWhateverTheId) {
  Request known(kTestSet, 999, KSPROPERTY_TYPE_SETSUPPORT, 24, 0);
  EXPECT_EQ(known.Send(), STATUS_SUCCESS);
  Request unknown(kUnknownSet, 0, KSPROPERTY_TYPE_SETSUPPORT, 24, 0);
  EXPECT_EQ(unknown.Send(), STATUS_PROPSET_NOT_FOUND);
}

TEST_F(KsPropertyHandlerTest, BasicSupportAnswersWithAsMuchAsTheBufferHolds) {
  Request flagsOnly(kTestSet, 0, KSPROPERTY_TYPE_BASICSUPPORT, 24, 4);
  EXPECT_EQ(flagsOnly.Send(), STATUS_SUCCESS);
  EXPECT_EQ(flagsOnly.ValueWord(0), ULONG(KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET));
  EXPECT_EQ(flagsOnly.irp->IoStatus.Information, 4u);

  Request getOnly(kTestSet, 1, KSPROPERTY_TYPE_BASICSUPPORT, 40, 40);
  EXPECT_EQ(getOnly.Send(), STATUS_SUCCESS);
  KSPROPERTY_DESCRIPTION description;
  memcpy(&description, getOnly.value, sizeof description);
  EXPECT_EQ(description.AccessFlags, ULONG(KSPROPERTY_TYPE_GET));
  EXPECT_EQ(description.DescriptionSize, 40u);
  EXPECT_TRUE(IsEqualGUID(description.PropTypeSet.Set, GUID_NULL));
  EXPECT_EQ(description.MembersListCount, 0u);
  EXPECT_EQ(description.Reserved, 0u);
  EXPECT_EQ(getOnly.irp->IoStatus.Information, 40u);

  Request headerOnly(kTestSet, 2, KSPROPERTY_TYPE_BASICSUPPORT, 24, kFullDescriptionSize - 1);
  EXPECT_EQ(headerOnly.Send(), STATUS_SUCCESS);
  memcpy(&description, headerOnly.value, sizeof description);
  EXPECT_EQ(description.DescriptionSize, kFullDescriptionSize);
  EXPECT_EQ(description.MembersListCount, 2u);
  EXPECT_EQ(headerOnly.irp->IoStatus.Information, 40u);
  EXPECT_EQ(headerOnly.ValueWord(10), 0xEEEEEEEEu);  // nothing after the header

  Request full(kTestSet, 2, KSPROPERTY_TYPE_BASICSUPPORT, 24, kFullDescriptionSize);
  EXPECT_EQ(full.Send(), STATUS_SUCCESS);
  EXPECT_EQ(full.irp->IoStatus.Information, kFullDescriptionSize);
  memcpy(&description, full.value, sizeof description);
  EXPECT_EQ(description.AccessFlags, ULONG(KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET));
  EXPECT_TRUE(IsEqualGUID(description.PropTypeSet.Set, kValueTypes));
  EXPECT_EQ(description.PropTypeSet.Id, 19u);
  const ULONG expectedTail[] = {KSPROPERTY_MEMBER_RANGES, 8, 1, 0, ULONG(-10), 10,
                                KSPROPERTY_MEMBER_VALUES, 4, 3, 0, 1, 2, 4};
  for (int word = 0; word < 13; ++word) {
    EXPECT_EQ(full.ValueWord(10 + word), expectedTail[word]) << "word " << word;
  }

  Request sizeQuery(kTestSet, 2, KSPROPERTY_TYPE_BASICSUPPORT, 24, 0);
  EXPECT_EQ(sizeQuery.Send(), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(sizeQuery.irp->IoStatus.Information, kFullDescriptionSize);

  Request tooSmall(kTestSet, 0, KSPROPERTY_TYPE_BASICSUPPORT, 24, 2);
  EXPECT_EQ(tooSmall.Send(), STATUS_BUFFER_TOO_SMALL);

  Request shortProperty(kTestSet, 1, KSPROPERTY_TYPE_BASICSUPPORT, 24, 4);
  EXPECT_EQ(shortProperty.Send(), STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(gCall.count, 0);

  Request delegated(kTestSet, 3, KSPROPERTY_TYPE_BASICSUPPORT, 24, 4);
  EXPECT_EQ(delegated.Send(), STATUS_SUCCESS);
  EXPECT_EQ(gCall.count, 1);
  EXPECT_EQ(delegated.ValueWord(0), 0xABCDu);
  EXPECT_EQ(delegated.irp->IoStatus.Information, 4u);
}

TEST(PropertyRequest, BuildsADeviceControlPacketWithOneStackLocation) {
  KSPROPERTY_REQUEST_PACKET packet;
  memset(&packet, 0xCC, sizeof packet);
  KSPROPERTY property = {kTestSet, 5, KSPROPERTY_TYPE_GET};
  ULONG value = 0;
  const PIRP irp = BuildPropertyRequest(&packet, &property, sizeof property, &value, sizeof value);
  ASSERT_EQ(irp, &packet.Irp);
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ASSERT_EQ(stack, &packet.StackLocation);
  EXPECT_EQ(stack->MajorFunction, IRP_MJ_DEVICE_CONTROL);
  EXPECT_EQ(stack->Parameters.DeviceIoControl.IoControlCode, 0x002F0003u);
  EXPECT_EQ(stack->Parameters.DeviceIoControl.Type3InputBuffer, &property);
  EXPECT_EQ(stack->Parameters.DeviceIoControl.InputBufferLength, 24u);
  EXPECT_EQ(stack->Parameters.DeviceIoControl.OutputBufferLength, 4u);
  EXPECT_EQ(irp->UserBuffer, &value);
  EXPECT_EQ(irp->IoStatus.Information, 0u);
  for (PVOID slot : irp->Tail.Overlay.DriverContext) {
    EXPECT_EQ(slot, nullptr);
  }
}

}  // namespace
}  // namespace tessil

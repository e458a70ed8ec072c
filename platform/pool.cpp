#include "platform/pool.h"

#include <stdlib.h>

#include <mutex>

#include "platform/bugcheck.h"
#include "platform/platform_internal.h"
#include "platform/testing.h"

namespace {

constexpr unsigned char kPoolFill = 0xFF;

// Every block is preceded by its header; live headers form one circular list so that a free can
// prove its pointer is live without reading memory in front of a pointer it has never seen.
struct alignas(alignof(max_align_t)) BlockHeader {
  BlockHeader* next;
  BlockHeader* previous;
  SIZE_T size;
  ULONG tag;
};
static_assert(sizeof(BlockHeader) % alignof(max_align_t) == 0);

struct TagRecord {
  ULONG tag;
  bool used;
  tessil::PoolTagUsage usage;
};

struct Refusal {
  ULONG tag;
  ULONG remaining;  // requests still to pass, this one included; 0 = disarmed
};

// Tags beyond this many share the last record: accounting stays exact in total, only the split by
// tag is lost. The driver uses five tags.
constexpr int kTagRecords = 256;
constexpr int kRefusals = 32;

struct PoolState {
  std::mutex lock;
  BlockHeader live{};
  TagRecord tags[kTagRecords]{};
  Refusal refusals[kRefusals]{};
  ULONG liveBlocks = 0;
  SIZE_T liveBytes = 0;

  PoolState() {
    live.next = &live;
    live.previous = &live;
  }
};

PoolState& Pool() {
  static PoolState state;
  return state;
}

TagRecord* FindRecord(PoolState& pool, ULONG tag) {
  for (TagRecord& record : pool.tags) {
    if (record.used && record.tag == tag) {
      return &record;
    }
  }
  return nullptr;
}

TagRecord& RecordFor(PoolState& pool, ULONG tag) {
  if (TagRecord* record = FindRecord(pool, tag)) {
    return *record;
  }
  for (TagRecord& record : pool.tags) {
    if (!record.used) {
      record.used = true;
      record.tag = tag;
      return record;
    }
  }
  return pool.tags[kTagRecords - 1];
}

// Counts this request against every armed refusal that it matches; true if one of them fires.
bool ConsumeRefusal(PoolState& pool, ULONG tag) {
  bool refuse = false;
  for (Refusal& refusal : pool.refusals) {
    if (refusal.remaining != 0 && (refusal.tag == tessil::kAnyPoolTag || refusal.tag == tag)) {
      if (--refusal.remaining == 0) {
        refuse = true;
      }
    }
  }
  return refuse;
}

BlockHeader* FindLiveBlock(PoolState& pool, PVOID block) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  for (BlockHeader* header = pool.live.previous; header != &pool.live; header = header->previous) {
    if (reinterpret_cast<uintptr_t>(header + 1) == address) {
      return header;
    }
  }
  return nullptr;
}

void FreeBlock(PVOID block, bool checkTag, ULONG tag) {
  if (block == nullptr) {
    KeBugCheckEx(BAD_POOL_CALLER, BAD_POOL_CALLER_FREE_NULL, 0, 0, 0);
  }
  PoolState& pool = Pool();
  BlockHeader* header;
  {
    std::lock_guard<std::mutex> guard(pool.lock);
    header = FindLiveBlock(pool, block);
    if (header == nullptr) {
      KeBugCheckEx(BAD_POOL_CALLER, BAD_POOL_CALLER_FREE_UNKNOWN,
                   reinterpret_cast<ULONG_PTR>(block), 0, 0);
    }
    if (checkTag && header->tag != tag) {
      KeBugCheckEx(BAD_POOL_CALLER, BAD_POOL_CALLER_TAG_MISMATCH,
                   reinterpret_cast<ULONG_PTR>(block), header->tag, tag);
    }
    header->previous->next = header->next;
    header->next->previous = header->previous;
    TagRecord& record = RecordFor(pool, header->tag);
    record.usage.liveBlocks -= 1;
    record.usage.liveBytes -= header->size;
    record.usage.frees += 1;
    pool.liveBlocks -= 1;
    pool.liveBytes -= header->size;
  }
  // The block is ours alone now; poison it so that a use after free reads garbage, not old data.
  memset(block, kPoolFill, header->size);
  free(header);
}

}  // namespace

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  (void)PoolType;  // every pool type is resident memory here
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  TagRecord& record = RecordFor(pool, Tag);
  if (ConsumeRefusal(pool, Tag)) {
    record.usage.refusedAllocations += 1;
    return nullptr;
  }
  if (NumberOfBytes > SIZE_MAX - sizeof(BlockHeader)) {
    return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(malloc(sizeof(BlockHeader) + NumberOfBytes));
  if (header == nullptr) {
    return nullptr;
  }
  header->size = NumberOfBytes;
  header->tag = Tag;
  header->next = &pool.live;
  header->previous = pool.live.previous;
  pool.live.previous->next = header;
  pool.live.previous = header;
  record.usage.liveBlocks += 1;
  record.usage.liveBytes += NumberOfBytes;
  record.usage.allocations += 1;
  pool.liveBlocks += 1;
  pool.liveBytes += NumberOfBytes;
  PVOID block = header + 1;
  memset(block, kPoolFill, NumberOfBytes);
  return block;
}

void ExFreePool(PVOID P) { FreeBlock(P, false, 0); }

void ExFreePoolWithTag(PVOID P, ULONG Tag) { FreeBlock(P, true, Tag); }

namespace tessil {

PoolTagUsage QueryPoolTag(ULONG tag) {
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  const TagRecord* record = FindRecord(pool, tag);
  return record != nullptr ? record->usage : PoolTagUsage{};
}

ULONG LivePoolBlocks() {
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  return pool.liveBlocks;
}

SIZE_T LivePoolBytes() {
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  return pool.liveBytes;
}

void FailPoolAllocation(ULONG tag, ULONG nth) {
  if (nth == 0) {
    return;
  }
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  for (Refusal& refusal : pool.refusals) {
    if (refusal.remaining == 0) {
      refusal = Refusal{tag, nth};
      return;
    }
  }
  // More armed refusals than any test needs: a silent drop would make a test pass for the wrong
  // reason, so stop instead.
  KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, 0, tag, nth, 0);
}

namespace platform_detail {

void ResetPoolHooks() {
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  for (Refusal& refusal : pool.refusals) {
    refusal = Refusal{};
  }
  for (TagRecord& record : pool.tags) {
    record.usage.allocations = 0;
    record.usage.refusedAllocations = 0;
    record.usage.frees = 0;
  }
}

}  // namespace platform_detail
}  // namespace tessil

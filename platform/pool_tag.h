// Pool tags as driver code spells them, shared by the stand-in and the kernel build (ULONG and
// UCHAR come from whichever kernel types the build uses).
#pragma once

// A pool tag is its four characters in memory order, so "TsMg" reads as TsMg in a pool dump (the
// value that the character constant 'gMsT' has on the real compiler).
constexpr ULONG PoolTag(const char (&name)[5]) {
  return static_cast<ULONG>(static_cast<UCHAR>(name[0])) |
         static_cast<ULONG>(static_cast<UCHAR>(name[1])) << 8 |
         static_cast<ULONG>(static_cast<UCHAR>(name[2])) << 16 |
         static_cast<ULONG>(static_cast<UCHAR>(name[3])) << 24;
}

// CONTAINING_RECORD for records with virtual functions, shared by the stand-in and the kernel
// build.
#pragma once

#include <stddef.h>
#include <string.h>

namespace tessil::platform_detail {

template <typename T>
struct SameType {
  using Type = T;
};

// The record that holds *field as its `member`. Data member pointers are byte offsets under the
// Itanium C++ ABI that both supported compilers use, which keeps this free of offsetof (refused
// for records with virtual functions) and of member access through a null pointer.
template <typename Record, typename Field>
inline Record* ContainingRecord(Field* field,
                                typename SameType<Field>::Type SameType<Record>::Type::*member) {
  static_assert(sizeof(member) == sizeof(ptrdiff_t), "data member pointers are plain offsets");
  ptrdiff_t offset;
  memcpy(&offset, &member, sizeof offset);
  return reinterpret_cast<Record*>(reinterpret_cast<char*>(field) - offset);
}

}  // namespace tessil::platform_detail

// The address of the record of type `type` whose member `field` is at `address`.
#define CONTAINING_RECORD(address, type, field) \
  (::tessil::platform_detail::ContainingRecord<type>((address), &type::field))

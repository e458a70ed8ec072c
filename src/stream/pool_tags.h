// Every object and block comes from non-paged pool under its own four-character tag, so a pool
// dump tells what leaked and whose it was. The stream layer is the lowest one that allocates, so
// the whole list lives here where the module can see it too.
#pragma once

#include "tessil/tessil.h"

namespace tessil {

inline constexpr ULONG kTagManager = PoolTag("TsMg");
inline constexpr ULONG kTagSettingsContext = PoolTag("TsMc");
inline constexpr ULONG kTagProcessor = PoolTag("TsPr");
inline constexpr ULONG kTagProcessorContext = PoolTag("TsCh");
inline constexpr ULONG kTagStateBlock = PoolTag("TsSt");

}  // namespace tessil

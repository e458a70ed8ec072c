// Owning handles for the driver's two objects, released the way the interfaces require.
#pragma once

#include <memory>

#include "tessil/tessil.h"

namespace tessil::host {

struct ManagerReleaser {
  void operator()(ITessilManager* manager) const { manager->Release(); }
};
struct ProcessorReleaser {
  void operator()(IStreamProcessor* processor) const { processor->Release(); }
};
using ManagerHandle = std::unique_ptr<ITessilManager, ManagerReleaser>;
using ProcessorHandle = std::unique_ptr<IStreamProcessor, ProcessorReleaser>;

// Null when the driver could not build one. Processors must be released before their manager.
inline ManagerHandle CreateManager() { return ManagerHandle(CreateTessilManager()); }
inline ProcessorHandle CreateProcessor(ITessilManager* manager) {
  return ProcessorHandle(manager->CreateProcessor());
}

}  // namespace tessil::host

// A minimal loader for a 32-bit PE kernel image inside a 32-bit Linux process: maps the sections
// at their virtual addresses, applies the base relocations for the address it landed at, fills
// the import address table through a resolver, and looks exports up by name.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

namespace tessil::kernel_test {

struct ImageSection {
  std::string name;
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t characteristics;
};

struct ImageImport {
  std::string module;
  std::string name;
};

// Returns the address an import is bound to, or null when it has no stand-in.
using ImportResolver = std::function<void*(const std::string& module, const std::string& name)>;

class PeImage {
 public:
  PeImage() = default;
  PeImage(const PeImage&) = delete;
  PeImage& operator=(const PeImage&) = delete;
  ~PeImage();

  // False with a reason in error() when the file is not a loadable 32-bit image or an import
  // has no stand-in.
  bool Load(const std::string& path, const ImportResolver& resolve);
  const std::string& error() const { return error_; }

  void* Export(const std::string& name) const;  // null when not exported
  std::vector<std::string> ExportNames() const;
  void* EntryPoint() const { return base_ + entryPoint_; }

  uint16_t subsystem() const { return subsystem_; }
  // The header's checksum field and the checksum of the file as the kernel's loader computes it.
  uint32_t storedChecksum() const { return storedChecksum_; }
  uint32_t fileChecksum() const { return fileChecksum_; }
  const std::vector<ImageSection>& sections() const { return sections_; }
  const std::vector<ImageImport>& imports() const { return imports_; }
  uint32_t relocationsApplied() const { return relocationsApplied_; }
  bool Contains(const void* address) const;

 private:
  bool Fail(const std::string& why);
  uint8_t* At(uint32_t rva) const { return base_ + rva; }

  uint8_t* base_ = nullptr;
  uint32_t size_ = 0;
  uint32_t entryPoint_ = 0;
  uint32_t exportRva_ = 0;
  uint16_t subsystem_ = 0;
  uint32_t storedChecksum_ = 0;
  uint32_t fileChecksum_ = 0;
  uint32_t relocationsApplied_ = 0;
  std::vector<ImageSection> sections_;
  std::vector<ImageImport> imports_;
  std::string error_;
};

}  // namespace tessil::kernel_test

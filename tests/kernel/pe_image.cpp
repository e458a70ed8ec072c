#include "pe_image.h"

#include <sys/mman.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace tessil::kernel_test {

namespace {

template <typename T>
T Read(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint32_t kDirectoryExport = 0, kDirectoryImport = 1, kDirectoryRelocation = 5;
constexpr uint16_t kRelocationAbsolute = 0, kRelocationHighLow = 3;

// 16-bit one's-complement style sum of the file with the checksum field counted as zero, plus
// the file length.
uint32_t ImageChecksum(const std::vector<uint8_t>& file, size_t checksumOffset) {
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    if (i >= checksumOffset && i < checksumOffset + 4) word = 0;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(file.size());
}

}  // namespace

PeImage::~PeImage() {
  if (base_ != nullptr) munmap(base_, size_);
}

bool PeImage::Fail(const std::string& why) {
  error_ = why;
  return false;
}

bool PeImage::Contains(const void* address) const {
  const uint8_t* at = static_cast<const uint8_t*>(address);
  return at >= base_ && at < base_ + size_;
}

bool PeImage::Load(const std::string& path, const ImportResolver& resolve) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail("cannot open " + path);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return Fail("no MZ header");
  const uint32_t pe = Read<uint32_t>(&file[0x3C]);
  if (pe + 24 > file.size() || std::memcmp(&file[pe], "PE\0\0", 4) != 0) {
    return Fail("no PE signature");
  }
  const uint8_t* coff = &file[pe + 4];
  if (Read<uint16_t>(coff) != kMachineI386) return Fail("not an i386 image");
  const uint16_t sectionCount = Read<uint16_t>(coff + 2);
  const uint16_t optionalSize = Read<uint16_t>(coff + 16);
  const uint8_t* optional = coff + 20;
  if (Read<uint16_t>(optional) != kOptionalMagicPe32) return Fail("not a PE32 image");
  entryPoint_ = Read<uint32_t>(optional + 16);
  storedChecksum_ = Read<uint32_t>(optional + 64);
  fileChecksum_ = ImageChecksum(file, static_cast<size_t>(optional + 64 - file.data()));
  const uint32_t preferredBase = Read<uint32_t>(optional + 28);
  size_ = Read<uint32_t>(optional + 56);
  const uint32_t headerSize = Read<uint32_t>(optional + 60);
  subsystem_ = Read<uint16_t>(optional + 68);
  const uint32_t directoryCount = Read<uint32_t>(optional + 92);
  auto directory = [&](uint32_t index, uint32_t* size) {
    if (index >= directoryCount) return *size = 0, 0u;
    *size = Read<uint32_t>(optional + 96 + 8 * index + 4);
    return Read<uint32_t>(optional + 96 + 8 * index);
  };

  void* mapping = mmap(nullptr, size_, PROT_READ | PROT_WRITE | PROT_EXEC,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return Fail("cannot map the image");
  base_ = static_cast<uint8_t*>(mapping);
  std::memcpy(base_, file.data(), std::min<size_t>(headerSize, file.size()));

  const uint8_t* section = optional + optionalSize;
  for (uint16_t i = 0; i < sectionCount; ++i, section += 40) {
    ImageSection record;
    record.name.assign(reinterpret_cast<const char*>(section), strnlen(
        reinterpret_cast<const char*>(section), 8));
    record.virtualSize = Read<uint32_t>(section + 8);
    record.virtualAddress = Read<uint32_t>(section + 12);
    const uint32_t rawSize = Read<uint32_t>(section + 16);
    const uint32_t rawOffset = Read<uint32_t>(section + 20);
    record.characteristics = Read<uint32_t>(section + 36);
    const uint32_t copy = std::min(rawSize, record.virtualSize);
    if (record.virtualAddress + record.virtualSize > size_ || rawOffset + copy > file.size()) {
      return Fail("section " + record.name + " lies outside the image");
    }
    std::memcpy(At(record.virtualAddress), &file[rawOffset], copy);
    sections_.push_back(record);
  }

  // Base relocations: every 32-bit absolute address moves by the distance to the real base.
  uint32_t relocationSize;
  const uint32_t relocationRva = directory(kDirectoryRelocation, &relocationSize);
  const uint32_t delta = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base_)) - preferredBase;
  for (uint32_t offset = 0; offset < relocationSize;) {
    const uint32_t page = Read<uint32_t>(At(relocationRva + offset));
    const uint32_t blockSize = Read<uint32_t>(At(relocationRva + offset + 4));
    if (blockSize < 8) return Fail("malformed relocation block");
    for (uint32_t entry = 8; entry < blockSize; entry += 2) {
      const uint16_t value = Read<uint16_t>(At(relocationRva + offset + entry));
      const uint16_t type = value >> 12;
      if (type == kRelocationAbsolute) continue;
      if (type != kRelocationHighLow) return Fail("unexpected relocation type");
      uint8_t* target = At(page + (value & 0xFFF));
      const uint32_t moved = Read<uint32_t>(target) + delta;
      std::memcpy(target, &moved, sizeof moved);
      ++relocationsApplied_;
    }
    offset += blockSize;
  }

  // Imports by name only; each slot of the import address table receives its stand-in.
  uint32_t importSize;
  const uint32_t importRva = directory(kDirectoryImport, &importSize);
  for (uint32_t descriptor = importRva; importSize != 0; descriptor += 20) {
    const uint32_t lookup = Read<uint32_t>(At(descriptor));
    const uint32_t nameRva = Read<uint32_t>(At(descriptor + 12));
    const uint32_t addressTable = Read<uint32_t>(At(descriptor + 16));
    if (nameRva == 0) break;
    const std::string module = reinterpret_cast<const char*>(At(nameRva));
    for (uint32_t slot = 0;; slot += 4) {
      const uint32_t thunk = Read<uint32_t>(At((lookup != 0 ? lookup : addressTable) + slot));
      if (thunk == 0) break;
      if (thunk & 0x80000000u) return Fail("import by ordinal from " + module);
      const std::string name = reinterpret_cast<const char*>(At(thunk + 2));
      void* bound = resolve(module, name);
      if (bound == nullptr) return Fail("no stand-in for " + module + "!" + name);
      const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(bound));
      std::memcpy(At(addressTable + slot), &address, sizeof address);
      imports_.push_back({module, name});
    }
  }
  uint32_t exportSize;
  exportRva_ = directory(kDirectoryExport, &exportSize);
  return true;
}

std::vector<std::string> PeImage::ExportNames() const {
  std::vector<std::string> names;
  if (exportRva_ == 0) return names;
  const uint32_t count = Read<uint32_t>(At(exportRva_ + 24));
  const uint32_t nameTable = Read<uint32_t>(At(exportRva_ + 32));
  for (uint32_t i = 0; i < count; ++i) {
    names.emplace_back(reinterpret_cast<const char*>(At(Read<uint32_t>(At(nameTable + 4 * i)))));
  }
  return names;
}

void* PeImage::Export(const std::string& name) const {
  if (exportRva_ == 0) return nullptr;
  const uint32_t count = Read<uint32_t>(At(exportRva_ + 24));
  const uint32_t functions = Read<uint32_t>(At(exportRva_ + 28));
  const uint32_t nameTable = Read<uint32_t>(At(exportRva_ + 32));
  const uint32_t ordinals = Read<uint32_t>(At(exportRva_ + 36));
  for (uint32_t i = 0; i < count; ++i) {
    if (name == reinterpret_cast<const char*>(At(Read<uint32_t>(At(nameTable + 4 * i))))) {
      const uint16_t ordinal = Read<uint16_t>(At(ordinals + 2 * i));
      return At(Read<uint32_t>(At(functions + 4 * ordinal)));
    }
  }
  return nullptr;
}

}  // namespace tessil::kernel_test

#include "support/binary_exports.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace Tesk::Testing {
namespace {

class Bytes {
 public:
  explicit Bytes(std::vector<char> data) : data_(std::move(data)) {}
  [[nodiscard]] size_t Size() const { return data_.size(); }
  template <class T>
  [[nodiscard]] T Read(uint64_t offset) const {
    T value{};
    if (offset + sizeof(T) <= data_.size()) std::memcpy(&value, data_.data() + offset, sizeof(T));
    return value;
  }
  [[nodiscard]] std::string Text(uint64_t offset) const {
    std::string text;
    while (offset < data_.size() && data_[offset] != '\0') text += data_[offset++];
    return text;
  }

 private:
  std::vector<char> data_;
};

void ReadElf(const Bytes& file, BinaryInterface& out) {
  const bool is64 = file.Read<uint8_t>(4) == 2;
  const uint64_t sectionTable = is64 ? file.Read<uint64_t>(0x28) : file.Read<uint32_t>(0x20);
  const uint16_t sectionSize = file.Read<uint16_t>(is64 ? 0x3A : 0x2E);
  const uint16_t sectionCount = file.Read<uint16_t>(is64 ? 0x3C : 0x30);
  auto sectionField = [&](uint16_t index, unsigned field32, unsigned field64, bool wide) {
    const uint64_t base = sectionTable + uint64_t{index} * sectionSize;
    if (!is64) return uint64_t{file.Read<uint32_t>(base + field32)};
    return wide ? file.Read<uint64_t>(base + field64)
                : uint64_t{file.Read<uint32_t>(base + field64)};
  };
  for (uint16_t i = 0; i < sectionCount; ++i) {
    constexpr uint32_t kDynamicSymbols = 11;
    if (sectionField(i, 4, 4, false) != kDynamicSymbols) continue;
    const uint64_t offset = sectionField(i, 16, 24, true);
    const uint64_t size = sectionField(i, 20, 32, true);
    const uint16_t link = static_cast<uint16_t>(sectionField(i, 24, 40, false));
    const uint64_t strings = sectionField(link, 16, 24, true);
    const uint64_t entrySize = is64 ? 24 : 16;
    for (uint64_t entry = offset; entry + entrySize <= offset + size; entry += entrySize) {
      const uint32_t name = file.Read<uint32_t>(entry);
      const uint8_t info = file.Read<uint8_t>(entry + (is64 ? 4 : 12));
      const uint16_t sectionIndex = file.Read<uint16_t>(entry + (is64 ? 6 : 14));
      const uint8_t binding = info >> 4;
      if (sectionIndex != 0 && (binding == 1 || binding == 2)) {
        out.exportedNames.push_back(file.Text(strings + name));
      }
    }
    out.readable = true;
  }
}

void ReadPe(const Bytes& file, BinaryInterface& out) {
  const uint32_t header = file.Read<uint32_t>(0x3C);
  if (file.Read<uint32_t>(header) != 0x00004550) return;  // "PE\0\0"
  const uint16_t sectionCount = file.Read<uint16_t>(header + 6);
  const uint16_t optionalSize = file.Read<uint16_t>(header + 20);
  const uint64_t optional = header + 24;
  const bool plus = file.Read<uint16_t>(optional) == 0x20B;
  const uint64_t directories = optional + (plus ? 112 : 96);
  const uint64_t sections = optional + optionalSize;
  auto fileOffset = [&](uint32_t rva) -> uint64_t {
    for (uint16_t i = 0; i < sectionCount; ++i) {
      const uint64_t section = sections + uint64_t{i} * 40;
      const uint32_t virtualSize = file.Read<uint32_t>(section + 8);
      const uint32_t virtualAddress = file.Read<uint32_t>(section + 12);
      const uint32_t rawOffset = file.Read<uint32_t>(section + 20);
      if (rva >= virtualAddress && rva < virtualAddress + virtualSize) {
        return uint64_t{rva} - virtualAddress + rawOffset;
      }
    }
    return 0;
  };
  const uint32_t exportRva = file.Read<uint32_t>(directories);
  if (exportRva != 0) {
    const uint64_t exports = fileOffset(exportRva);
    const uint32_t nameCount = file.Read<uint32_t>(exports + 24);
    const uint64_t names = fileOffset(file.Read<uint32_t>(exports + 32));
    for (uint32_t i = 0; i < nameCount; ++i) {
      out.exportedNames.push_back(file.Text(fileOffset(file.Read<uint32_t>(names + 4 * i))));
    }
  }
  const uint32_t importRva = file.Read<uint32_t>(directories + 8);
  if (importRva != 0) {
    for (uint64_t entry = fileOffset(importRva);; entry += 20) {
      const uint32_t name = file.Read<uint32_t>(entry + 12);
      if (name == 0) break;
      out.importedLibraries.push_back(file.Text(fileOffset(name)));
    }
  }
  out.readable = true;
}

}  // namespace

BinaryInterface ReadBinaryInterface(const std::string& path) {
  BinaryInterface out;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return out;
  const Bytes file(std::vector<char>(std::istreambuf_iterator<char>(stream), {}));
  if (file.Size() < 64) return out;
  if (file.Read<uint32_t>(0) == 0x464C457F) {  // "\x7F" "ELF"
    ReadElf(file, out);
  } else if (file.Read<uint16_t>(0) == 0x5A4D) {  // "MZ"
    ReadPe(file, out);
  }
  return out;
}

}  // namespace Tesk::Testing

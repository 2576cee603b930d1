#include "support/embedded_version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fstream>
#include <iterator>
#endif

namespace Tesk::Testing {
namespace {

#if defined(_WIN32)

std::array<uint16_t, 4> Numbers(DWORD high, DWORD low) {
  return {HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low)};
}

void ReadVersionResource(const std::string& path, EmbeddedVersion& out) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return;

  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    return;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (fixed->dwSignature != 0xFEEF04BD) return;
  out.fileVersionNumbers = Numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  out.productVersionNumbers = Numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS);

  // The texts are found through the translation table, as Explorer finds
  // them: a table that names no block of texts shows none.
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) ||
      length < 2 * sizeof(WORD)) {
    return;
  }
  const auto* translation = static_cast<const WORD*>(value);
  char block[64];
  std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation[0],
                translation[1]);
  auto text = [&](const char* key) {
    void* found = nullptr;
    UINT characters = 0;
    const std::string query = std::string(block) + key;
    if (!VerQueryValueA(data.data(), query.c_str(), &found, &characters) || characters == 0) {
      return std::string();
    }
    const char* chars = static_cast<const char*>(found);
    return std::string(chars, strnlen(chars, characters));
  };
  out.name = text("InternalName");
  out.version = text("FileVersion");
  out.productVersion = text("ProductVersion");
  out.productName = text("ProductName");
  out.description = text("FileDescription");
  out.originalFileName = text("OriginalFilename");
  out.readable = true;
}

#else

template <class T>
T Read(const std::vector<char>& file, uint64_t offset) {
  T value{};
  if (offset + sizeof(T) <= file.size()) std::memcpy(&value, file.data() + offset, sizeof(T));
  return value;
}

// The value of "key":"value" in the note's JSON text, which ktx_add_plugin
// writes without escapes.
std::string JsonText(const std::string& json, const std::string& key) {
  const std::string start = "\"" + key + "\":\"";
  const size_t at = json.find(start);
  if (at == std::string::npos) return {};
  const size_t begin = at + start.size();
  const size_t end = json.find('"', begin);
  return end == std::string::npos ? std::string() : json.substr(begin, end - begin);
}

// Walks the notes of every SHT_NOTE section for the one with owner "FDO" and
// the packaging-metadata type.
void ReadPackagingNote(const std::string& path, EmbeddedVersion& out) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return;
  const std::vector<char> file{std::istreambuf_iterator<char>(stream), {}};
  if (file.size() < 64 || Read<uint32_t>(file, 0) != 0x464C457F) return;  // "\x7F" "ELF"
  const bool is64 = Read<uint8_t>(file, 4) == 2;
  const uint64_t sectionTable = is64 ? Read<uint64_t>(file, 0x28) : Read<uint32_t>(file, 0x20);
  const uint16_t sectionSize = Read<uint16_t>(file, is64 ? 0x3A : 0x2E);
  const uint16_t sectionCount = Read<uint16_t>(file, is64 ? 0x3C : 0x30);
  constexpr uint32_t kNoteSection = 7;
  constexpr uint32_t kPackagingMetadata = 0xcafe1a7e;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t header = sectionTable + uint64_t{i} * sectionSize;
    if (Read<uint32_t>(file, header + 4) != kNoteSection) continue;
    const uint64_t offset =
        is64 ? Read<uint64_t>(file, header + 24) : Read<uint32_t>(file, header + 16);
    const uint64_t size =
        is64 ? Read<uint64_t>(file, header + 32) : Read<uint32_t>(file, header + 20);
    const uint64_t end = std::min<uint64_t>(offset + size, file.size());
    for (uint64_t note = offset; note + 12 <= end;) {
      const uint32_t nameSize = Read<uint32_t>(file, note);
      const uint32_t textSize = Read<uint32_t>(file, note + 4);
      const uint32_t type = Read<uint32_t>(file, note + 8);
      const uint64_t name = note + 12;
      const uint64_t text = name + (uint64_t{nameSize} + 3) / 4 * 4;
      const uint64_t next = text + (uint64_t{textSize} + 3) / 4 * 4;
      if (next > end) break;
      if (type == kPackagingMetadata && nameSize == 4 &&
          std::memcmp(file.data() + name, "FDO", 4) == 0) {
        const char* chars = file.data() + text;
        const std::string json(chars, strnlen(chars, textSize));
        out.name = JsonText(json, "name");
        out.version = JsonText(json, "version");
        out.readable = true;
        return;
      }
      note = next;
    }
  }
}

#endif

}  // namespace

EmbeddedVersion ReadEmbeddedVersion(const std::string& path) {
  EmbeddedVersion out;
#if defined(_WIN32)
  ReadVersionResource(path, out);
#else
  ReadPackagingNote(path, out);
#endif
  return out;
}

}  // namespace Tesk::Testing

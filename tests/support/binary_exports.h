// Reads what a built library exports and imports, straight from its file
// (ELF dynamic symbol table, or the PE export and import directories).
#pragma once

#include <string>
#include <vector>

namespace Tesk::Testing {

struct BinaryInterface {
  bool readable = false;                       // false when the file is missing or not ELF/PE
  std::vector<std::string> exportedNames;      // defined global symbols, or PE export names
  std::vector<std::string> importedLibraries;  // PE only: DLL names of the import table
};

[[nodiscard]] BinaryInterface ReadBinaryInterface(const std::string& path);

}  // namespace Tesk::Testing

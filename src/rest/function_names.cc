#include "rest/function_names.h"

#include <cctype>

namespace Tesk {
namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

std::string DeriveFunctionName(std::string_view methodName, std::string_view templateText) {
  std::string source;
  if (!methodName.empty()) {
    source += methodName.front();
    for (char c : methodName.substr(1)) source += Lower(c);
    source += '/';
  }
  source += templateText;

  std::string name;
  name.reserve(source.size());
  bool capitaliseNext = true;
  for (char c : source) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        capitaliseNext = true;
        break;
      case '{':
        name += "By";
        capitaliseNext = true;
        break;
      case '}':
        break;
      default:
        name += capitaliseNext ? Upper(c) : c;
        capitaliseNext = false;
        break;
    }
  }
  return name;
}

}  // namespace Tesk

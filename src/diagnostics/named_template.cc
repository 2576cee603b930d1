#include "diagnostics/named_template.h"

#include <optional>

#include "diagnostics/internal/placeholder_syntax.h"

namespace Tesk {
namespace {

// Name endings that already say the type, for "{#name}".
constexpr std::string_view kTypeSuffixes[] = {"_bool", "_int",  "_long", "_float",
                                              "_str",  "_time", "_ip"};

constexpr bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TypeSuffix(FormatArgumentKind kind) {
  switch (kind) {
    case FormatArgumentKind::Bool:
      return "_bool";
    case FormatArgumentKind::Signed:
    case FormatArgumentKind::Unsigned:
      return "_int";
    case FormatArgumentKind::Float:
      return "_float";
    case FormatArgumentKind::Text:
      return "_str";
  }
  return {};
}

// The flags and conversion after "%n$" that print an argument of `kind` as Format's
// bare "%n" does (AsFormatArg: bool as text, integers as 64 bits). A
// conversion letter always ends the placeholder, so the text after it stays
// literal even when it starts with a digit or "$".
std::string_view PositionalConversion(FormatArgumentKind kind) {
  switch (kind) {
    case FormatArgumentKind::Bool:
    case FormatArgumentKind::Text:
      return "s";
    case FormatArgumentKind::Signed:
      return "lld";
    case FormatArgumentKind::Unsigned:
      return "llu";
    case FormatArgumentKind::Float:
      return "g";
  }
  return "s";
}

void AppendPositional(std::string& out, size_t n) {
  out += '%';
  out += std::to_string(n);
  out += '$';
}

bool HasTypeSuffix(std::string_view name) {
  const size_t underscore = name.rfind('_');
  if (underscore == std::string_view::npos) return false;
  const std::string_view ending = name.substr(underscore);
  for (std::string_view suffix : kTypeSuffixes) {
    if (ending == suffix) return true;
  }
  return false;
}

// One "{...}" placeholder as written.
struct NamedPlaceholder {
  std::string name;
  std::string alternative;
  bool hasAlternative = false;
  bool hidden = false;
  bool typeSuffix = false;
};

// Reads the placeholder whose "{" is just before `pos`; advances `pos` past its
// "}". nullopt when the template ends first.
std::optional<NamedPlaceholder> ReadNamedPlaceholder(std::string_view text, size_t& pos) {
  enum class Part { Name, FormatText, Alternative };
  NamedPlaceholder placeholder;
  Part part = Part::Name;
  if (pos < text.size() && text[pos] == '#') {
    placeholder.typeSuffix = true;
    ++pos;
  }
  while (pos < text.size()) {
    char c = text[pos++];
    switch (c) {
      case '}':
        return placeholder;
      case '!':
        placeholder.hidden = true;
        continue;
      case '{':
        continue;
      case ':':
        part = Part::FormatText;
        continue;
      case '?':
        if (part != Part::FormatText) {
          part = Part::Alternative;
          placeholder.hasAlternative = true;
          continue;
        }
        break;
      case '\\':
        if (pos >= text.size()) continue;
        c = text[pos++];
        break;
      default:
        break;
    }
    switch (part) {
      case Part::Name:
        placeholder.name += c;
        break;
      case Part::FormatText:
        break;  // accepted and not used
      case Part::Alternative:
        placeholder.alternative += c;
        break;
    }
  }
  return std::nullopt;
}

}  // namespace

bool FormatArgument::IsEmpty() const {
  switch (kind) {
    case FormatArgumentKind::Bool:
    case FormatArgumentKind::Signed:
    case FormatArgumentKind::Unsigned:
      return number == 0;
    case FormatArgumentKind::Float:
      return AsFloat() == 0;
    case FormatArgumentKind::Text:
      return text.empty();
  }
  return true;
}

FormatArg FormatArgument::AsFormatArg() const {
  switch (kind) {
    case FormatArgumentKind::Bool:
      return std::string_view(number != 0 ? "true" : "false");
    case FormatArgumentKind::Signed:
      return AsSigned();
    case FormatArgumentKind::Unsigned:
      return AsUnsigned();
    case FormatArgumentKind::Float:
      return AsFloat();
    case FormatArgumentKind::Text:
      return std::string_view(text);
  }
  return std::string_view();
}

FormatArgument::FormatArgument(const char* value) : kind(FormatArgumentKind::Text) {
  if (value != nullptr) text = value;
}

ConvertedTemplate ConvertNamedTemplate(std::string_view templateText,
                                       std::span<const FormatArgument> args) {
  ConvertedTemplate result;
  std::string& out = result.positionalTemplate;
  out.reserve(templateText.size());
  size_t n = 1;  // the number of the next placeholder, named or not
  size_t pos = 0;
  while (pos < templateText.size()) {
    const char c = templateText[pos];
    const bool doubled = pos + 1 < templateText.size() && templateText[pos + 1] == c;
    if (c == '%') {
      if (doubled) {
        out += "%%";  // still an escape for Format
        pos += 2;
        continue;
      }
      const std::optional<Diagnostics::Internal::PlaceholderSyntax> p =
          Diagnostics::Internal::ParsePlaceholder(templateText.substr(pos), args.size());
      if (p) {
        if (n <= args.size()) {
          // One that takes Format's next argument in order would take the
          // first, since the named ones are positional: it is made positional.
          if (p->argument == 0) {
            AppendPositional(out, n);
            out += templateText.substr(pos + 1, p->length - 1);
          } else {
            out += templateText.substr(pos, p->length);
          }
        }
        ++n;
        pos += p->length;
      } else {
        out += c;
        ++pos;
      }
    } else if (c == '}') {
      out += '}';
      pos += doubled ? 2 : 1;
    } else if (c == '{' && doubled) {
      out += '{';
      pos += 2;
    } else if (c == '{') {
      ++pos;
      std::optional<NamedPlaceholder> placeholder = ReadNamedPlaceholder(templateText, pos);
      if (!placeholder) break;
      if (n <= args.size()) {
        const FormatArgument& arg = args[n - 1];
        std::string& name = placeholder->name;
        if (placeholder->typeSuffix && !HasTypeSuffix(name)) name += TypeSuffix(arg.kind);
        if (placeholder->hasAlternative && arg.IsEmpty()) {
          out += placeholder->alternative;
        } else {
          if (!name.empty()) result.fields.insert_or_assign(std::move(name), arg);
          if (placeholder->hidden) {
            while (!out.empty() && IsWhiteSpace(out.back())) out.pop_back();
          } else {
            AppendPositional(out, n);
            out += PositionalConversion(arg.kind);
          }
        }
      }
      ++n;
    } else {
      out += c;
      ++pos;
    }
  }
  return result;
}

}  // namespace Tesk

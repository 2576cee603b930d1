#include "rest/argument_placement.h"

#include <limits>

#include "diagnostics/format.h"
#include "rest/dispatch_messages.h"
#include "rest/value_decoding.h"

namespace Tesk {
namespace {

bool IsStructured(BindingValueType type) {
  return type == BindingValueType::Object || type == BindingValueType::Vector ||
         type == BindingValueType::Struct;
}

int DigitValue(char c, int base) {
  int value = 99;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

enum class IndexStatus { Ok, Format, Range };

// An unsigned number with C's base prefixes ("0x" hexadecimal, a leading "0"
// octal), all of the segment. Below 2^31 and within the index bound.
IndexStatus ParseIndex(std::string_view segment, uint32_t& index) {
  int base = 10;
  size_t position = 0;
  if (segment.size() > 2 && segment[0] == '0' && (segment[1] == 'x' || segment[1] == 'X') &&
      DigitValue(segment[2], 16) >= 0) {
    base = 16;
    position = 2;
  } else if (segment[0] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; position < segment.size(); ++position) {
    const int digit = DigitValue(segment[position], base);
    if (digit < 0) break;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > std::numeric_limits<uint32_t>::max()) {
      overflow = true;
      value = 1ull << 32;  // keeps reading digits without wrapping
    }
  }
  if (position != segment.size()) return IndexStatus::Format;
  if (overflow || value > kMaxArgumentIndex) return IndexStatus::Range;
  index = static_cast<uint32_t>(value);
  return IndexStatus::Ok;
}

// An empty value without a dotted rest: true for bool, an empty container for
// container types, an error for the rest.
void PlaceEmptyValue(BindingResult& result, const BindingArgumentInfo& parameter,
                     BindingProperty& argument) {
  switch (parameter.type.type) {
    case BindingValueType::Bool:
      argument.SetBool(true);
      return;
    case BindingValueType::Object:
    case BindingValueType::Struct:
      argument.Reset();
      argument.MakeStructure();
      return;
    case BindingValueType::Vector:
      argument.Reset();
      argument.MakeCollection();
      return;
    default:
      result.Fail(Format(DispatchMessages::kExpectedValue, parameter.name));
  }
}

void StoreDecoded(BindingCallResult& call, BindingProperty& target, std::string_view value,
                  bool structured, std::string_view label, std::string_view functionName) {
  DecodedValue decoded = DecodeArgumentValue(value, structured, label, functionName);
  if (!decoded.result.ok) {
    call.result = std::move(decoded.result);
    call.response.httpStatus = decoded.httpStatus;
    return;
  }
  target = std::move(decoded.result.value);
}

// Walks `rest` ("tags.0") from `argument`, creating members and elements, and
// stores the value as text at the end.
void PlaceNested(BindingCallResult& call, const BindingFunctionInfo& function,
                 const BindingArgumentInfo& parameter, BindingProperty& argument,
                 std::string_view rest, std::string_view value, PlacementBudget& budget) {
  BindingResult& result = call.result;
  BindingProperty* current = &argument;
  std::string_view remaining = rest;
  for (uint32_t depth = 0;; ++depth) {
    if (depth >= kMaxArgumentPathDepth) {
      result.Fail(Format(DispatchMessages::kPathTooDeep, parameter.name, function.name));
      return;
    }
    const size_t dot = remaining.find('.');
    const std::string_view segment = remaining.substr(0, dot);
    if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
      uint32_t index = 0;
      switch (ParseIndex(segment, index)) {
        case IndexStatus::Format:
          result.Fail(Format(DispatchMessages::kIndexFormat, segment));
          return;
        case IndexStatus::Range:
          result.Fail(Format(DispatchMessages::kIndexRange, segment));
          return;
        case IndexStatus::Ok:
          break;
      }
      if (current->Kind() != BindingPropertyKind::Collection) current->Reset();
      const size_t size = current->Elements().size();
      const uint32_t added = index < size ? 0 : static_cast<uint32_t>(index + 1 - size);
      if (added > budget.elements) {
        result.Fail(
            Format(DispatchMessages::kTooManyElements, segment, parameter.name, function.name));
        return;
      }
      budget.elements -= added;
      current = &current->Element(index);
    } else {
      if (current->Kind() != BindingPropertyKind::Structure) current->Reset();
      current = &current->MemberRef(segment);
    }
    if (dot == std::string_view::npos) break;
    remaining = remaining.substr(dot + 1);
  }
  StoreDecoded(call, *current, value, false, rest, function.name);
}

}  // namespace

BindingArgumentLocation ParameterLocation(const BindingFunctionInfo& function, size_t index) {
  const auto& locations = function.route.locations;
  return index < locations.size() ? locations[index] : BindingArgumentLocation::Anywhere;
}

void PlaceArgument(BindingCallResult& call, const BindingFunctionInfo& function,
                   std::span<BindingProperty> arguments, std::string_view name,
                   std::string_view value, BindingArgumentLocation source,
                   PlacementBudget& budget) {
  BindingResult& result = call.result;
  const size_t dot = name.find('.');
  const std::string_view baseName = name.substr(0, dot);
  size_t index = 0;
  while (index < function.arguments.size() && function.arguments[index].name != baseName) ++index;
  if (index >= function.arguments.size() || index >= arguments.size()) {
    result.Fail(Format(DispatchMessages::kUnknownArgument, baseName, function.name));
    return;
  }
  const BindingArgumentLocation location = ParameterLocation(function, index);
  if (location != BindingArgumentLocation::Anywhere && location != source) {
    result.Fail(Format(DispatchMessages::kInvalidLocation, baseName, function.name));
    return;
  }
  const BindingArgumentInfo& parameter = function.arguments[index];
  BindingProperty& argument = arguments[index];
  if (dot != std::string_view::npos) {
    PlaceNested(call, function, parameter, argument, name.substr(dot + 1), value, budget);
  } else if (value.empty()) {
    PlaceEmptyValue(result, parameter, argument);
  } else {
    StoreDecoded(call, argument, value, IsStructured(parameter.type.type), parameter.name,
                 function.name);
  }
}

}  // namespace Tesk

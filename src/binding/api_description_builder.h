// The packed, pointer-linked description of a registry's whole API that the
// host reads (host-abi/api_description.h), and the object that owns it.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "host-abi/api_description.h"

namespace Tesk {

class BindingRegistry;

// Owns the records of one description, each kind in one contiguous array;
// the records of one list (the functions, the arguments of one function, ...)
// are consecutive and linked through `next`. Texts point into the registry's
// own strings: the description is valid while the registry lives and none of
// its functions or events is unregistered. Moving keeps every record at its
// address.
class HostApiDescription {
 public:
  HostApiDescription() = default;
  HostApiDescription(const HostApiDescription&) = delete;
  HostApiDescription& operator=(const HostApiDescription&) = delete;
  HostApiDescription(HostApiDescription&&) noexcept = default;
  HostApiDescription& operator=(HostApiDescription&&) noexcept = default;
  ~HostApiDescription() = default;

  // Pointers to the first records (null for an empty list) and the counts.
  [[nodiscard]] const ApiDescriptionHeader& Header() const { return header_; }
  [[nodiscard]] std::span<const ApiFunctionRecord> Functions() const { return functions_; }
  [[nodiscard]] std::span<const ApiTypeRecord> Types() const { return types_; }
  [[nodiscard]] std::span<const ApiEventRecord> Events() const { return events_; }
  // The function record of that name; null if none.
  [[nodiscard]] const ApiFunctionRecord* FindFunction(std::string_view name) const;

 private:
  friend HostApiDescription DescribeApi(const BindingRegistry& registry);

  ApiDescriptionHeader header_{};
  std::vector<ApiFunctionRecord> functions_;  // in name order
  std::vector<ApiArgumentRecord> arguments_;
  std::vector<ApiTypeRecord> types_;  // in name order
  std::vector<ApiFieldRecord> fields_;
  std::vector<ApiEnumeratorRecord> enumerators_;
  std::vector<ApiEventRecord> events_;  // in name order
  std::vector<const char*> tags_;       // every tag list, one after another
};

// Describes every function, type and event of `registry`, each list in name
// order. Type codes outside 1 to 19 are written as 0; a record name is given
// (else "") only for vectors, maps, enumerations and structures; an argument,
// field or return type with a help type (code not 0) is described by it.
// Absent texts are "". An asynchronous function names its result's record in
// `asyncTypeName`.
[[nodiscard]] HostApiDescription DescribeApi(const BindingRegistry& registry);

}  // namespace Tesk

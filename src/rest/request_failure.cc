#include "rest/request_failure.h"

#include <utility>
#include <vector>

#include "diagnostics/format.h"

namespace Tesk {

RequestFailure MakeRequestFailure(uint32_t errorCode, std::string_view templateText,
                                  std::span<const FormatArgument> args) {
  ConvertedTemplate converted = ConvertNamedTemplate(templateText, args);
  std::vector<FormatArg> positional;
  positional.reserve(args.size());
  for (const FormatArgument& arg : args) positional.push_back(arg.AsFormatArg());

  RequestFailure failure;
  failure.errorCode = errorCode;
  failure.message = Format(converted.positionalTemplate, positional);
  failure.fields = std::move(converted.fields);
  if (errorCode != 0) failure.fields.insert_or_assign("errorCode_int", FormatArgument(errorCode));
  return failure;
}

}  // namespace Tesk

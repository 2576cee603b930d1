// Checks of the host's OpenAPI description without an outside validator: the
// structure of an OpenAPI 3.0.3 document, and whether a JSON value is what a
// schema of the document describes.
#pragma once

#include <rapidjson/document.h>

#include <string>
#include <vector>

namespace Tesk::Testing {

// Every way `document` departs from the structure of OpenAPI 3.0.3, each as
// "<JSON pointer>: <problem>"; empty when there is none. Checked: the fields
// allowed and required in each object (extensions "x-..." allowed anywhere),
// the version, unique operation ids, parameters (location, path parameters
// required and matching the path's placeholders, one per name and location),
// request bodies and responses with their media types, schemas (the keywords
// of 3.0 and their types), security requirements naming declared schemes, and
// every "$ref" resolving inside the document.
[[nodiscard]] std::vector<std::string> OpenApiProblems(const rapidjson::Value& document);

// Every way `value` departs from `schema` ("$ref"s resolved in `document`),
// each as "<where in the value>: <mismatch>"; empty when it matches. An
// object must have exactly the members its schema's properties name, so a
// description that misses a member or names one that never comes is caught.
[[nodiscard]] std::vector<std::string> SchemaMismatches(const rapidjson::Value& document,
                                                        const rapidjson::Value& schema,
                                                        const rapidjson::Value& value);

// The problems as one text, one a line, for a test's failure message.
[[nodiscard]] std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace Tesk::Testing

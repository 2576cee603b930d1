#include "rest/http_method.h"

namespace Tesk {

std::string_view HttpMethodName(HttpMethod method) {
  switch (method) {
    case HttpMethod::Delete:
      return "DELETE";
    case HttpMethod::Get:
      return "GET";
    case HttpMethod::Head:
      return "HEAD";
    case HttpMethod::Options:
      return "OPTIONS";
    case HttpMethod::Patch:
      return "PATCH";
    case HttpMethod::Post:
      return "POST";
    case HttpMethod::Put:
      return "PUT";
    case HttpMethod::None:
    case HttpMethod::Custom:
      return "";
  }
  return "";
}

HttpMethod HttpMethodFromCode(uint32_t code) {
  return code >= 1 && code <= 8 ? static_cast<HttpMethod>(code) : HttpMethod::None;
}

}  // namespace Tesk

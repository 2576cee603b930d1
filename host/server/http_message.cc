#include "server/http_message.h"

#include <cctype>

#include "encoding/json_support.h"

namespace Tesk::DevHost {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Calls visit(name, value, whole piece) for every "&"-separated piece.
template <class Visit>
void ForEachParameter(std::string_view query, Visit visit) {
  while (!query.empty()) {
    const size_t end = query.find('&');
    const std::string_view piece = query.substr(0, end);
    const size_t equals = piece.find('=');
    visit(piece.substr(0, equals),
          equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1), piece);
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
}

}  // namespace

std::string_view LocalRequest::Path() const {
  return std::string_view(target).substr(0, target.find('?'));
}

std::string_view LocalRequest::Query() const {
  const size_t question = target.find('?');
  return question == std::string::npos ? std::string_view()
                                       : std::string_view(target).substr(question + 1);
}

const std::string* LocalRequest::Header(std::string_view name) const {
  const std::string* found = nullptr;
  for (const HttpField& field : headers) {
    if (EqualsIgnoringCase(field.name, name)) found = &field.value;
  }
  return found;
}

LocalResponse LocalResponse::Json(unsigned status, std::string body) {
  LocalResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

LocalResponse LocalResponse::Error(unsigned status, std::string_view message) {
  return Json(status, ErrorJson(message));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool FindQueryParameter(std::string_view query, std::string_view name, std::string& value) {
  bool found = false;
  ForEachParameter(query, [&](std::string_view key, std::string_view text, std::string_view) {
    if (!found && PercentDecode(key) == name) {
      value = PercentDecode(text);
      found = true;
    }
  });
  return found;
}

std::string RemoveQueryParameter(std::string_view query, std::string_view name) {
  std::string kept;
  ForEachParameter(query, [&](std::string_view key, std::string_view, std::string_view piece) {
    if (PercentDecode(key) == name) return;
    if (!kept.empty()) kept += '&';
    kept += piece;
  });
  return kept;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace Tesk::DevHost

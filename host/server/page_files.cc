#include "server/page_files.h"

#include <algorithm>
#include <optional>

#include "server/regular_file.h"

namespace Tesk::DevHost {
namespace {

constexpr std::string_view kAssetPrefix = "/web/";

struct AssetType {
  std::string_view extension;
  const char* contentType;
};
constexpr AssetType kAssetTypes[] = {
    {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".svg", "image/svg+xml"},
};

const AssetType* FindAssetType(std::string_view name) {
  for (const AssetType& type : kAssetTypes) {
    if (name.size() > type.extension.size() && name.ends_with(type.extension)) return &type;
  }
  return nullptr;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
  });
}

}  // namespace

bool PageFiles::IsAssetPath(std::string_view path) {
  if (!path.starts_with(kAssetPrefix)) return false;
  path.remove_prefix(kAssetPrefix.size());
  return IsPlainName(path) && FindAssetType(path) != nullptr;
}

LocalResponse PageFiles::Page() const {
  std::optional<std::string> html = ReadRegularFile(folder_, "index.html");
  if (!html) {
    return LocalResponse::Error(503, "The demo page is not in " + folder_ +
                                         ": build ktx-host, or name its folder with --web-dir");
  }
  LocalResponse response;
  response.contentType = "text/html; charset=utf-8";
  response.body = std::move(*html);
  // The page's address carries the token: nothing else may be loaded or
  // contacted, and no referrer leaves.
  response.headers.push_back(
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
       "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"});
  response.headers.push_back({"Referrer-Policy", "no-referrer"});
  response.headers.push_back({"X-Content-Type-Options", "nosniff"});
  return response;
}

LocalResponse PageFiles::Asset(std::string_view path) const {
  if (!IsAssetPath(path)) return LocalResponse::Error(404, "No such file: " + std::string(path));
  const std::string_view name = path.substr(kAssetPrefix.size());
  std::optional<std::string> content = ReadRegularFile(folder_, std::string(name));
  if (!content) return LocalResponse::Error(404, "No such file: " + std::string(path));
  LocalResponse response;
  response.contentType = FindAssetType(name)->contentType;
  response.body = std::move(*content);
  response.headers.push_back({"X-Content-Type-Options", "nosniff"});
  return response;
}

bool WantsHtml(const LocalRequest& request) {
  const std::string* accept = request.Header("accept");
  return accept != nullptr && accept->find("text/html") != std::string::npos;
}

}  // namespace Tesk::DevHost

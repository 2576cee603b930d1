// PageFiles: the demo page that the local API serves to browsers: its HTML at
// "/" and its style sheets, scripts and images under "/web/", read from one
// folder at every request (so an edited file shows on reload). Only plain file
// names with a known extension are served, never a path into another folder,
// and only regular files (see ReadRegularFile).
//
// The page needs the run's token like every other endpoint; its assets hold
// nothing secret and are served without it, as Swagger UI's files are, since
// a script module cannot pass the page's token on to the modules it imports.
#pragma once

#include <string>
#include <string_view>

#include "server/http_message.h"

namespace Tesk::DevHost {

class PageFiles {
 public:
  explicit PageFiles(std::string folder) : folder_(std::move(folder)) {}

  // True when `path` (not decoded) has the form of an asset:
  // "/web/<name>.<css|js|svg>", the name of letters, digits, ".", "-" and "_"
  // not starting with ".". Says nothing of whether the file exists.
  [[nodiscard]] static bool IsAssetPath(std::string_view path);

  // index.html, with headers that keep the page to this host: it loads and
  // connects to nothing else and sends no referrer.
  [[nodiscard]] LocalResponse Page() const;
  // The asset `path` names; 404 when it has not the form of one or does not
  // exist.
  [[nodiscard]] LocalResponse Asset(std::string_view path) const;

 private:
  std::string folder_;
};

// True when the request's Accept header asks for HTML, as a browser's
// navigation does (curl and scripts ask for anything: the host's JSON index).
[[nodiscard]] bool WantsHtml(const LocalRequest& request);

}  // namespace Tesk::DevHost

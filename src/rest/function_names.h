// Names derived from a method and a URL template: the registered name of a
// route's function, and (without a method) a plug-in's identifier name.
#pragma once

#include <string>
#include <string_view>

namespace Tesk {

// "GET" + "/tav-personalized-offers/v1/status" gives
// "GetTavPersonalizedOffersV1Status"; "" + "tav-personalized-offers" gives
// "TavPersonalizedOffers". Separators ("!", "+", "-", ".", "/", "_") are dropped
// and capitalise the next character, "{" becomes "By", "}" is dropped.
[[nodiscard]] std::string DeriveFunctionName(std::string_view methodName,
                                             std::string_view templateText);

}  // namespace Tesk

// The expiry of the offers service's token: its ISO 8601 UTC time stamp.
#pragma once

#include <cstdint>
#include <string_view>

namespace Tesk::Client::PersonalizedOffers {

// Seconds since the epoch of an ISO 8601 UTC time stamp in the extended
// ("2030-01-01T00:00:00") or basic ("20300101T000000") form, with an optional
// fraction (ignored) and zone "Z", "z", "+00", "+0000", "+00:00" (or "-" for
// "+"); the date-time separator may be "T", "t" or " ". -1 for any other text.
[[nodiscard]] int64_t ReadUtcTimestamp(std::string_view text);

// Whether a token expiring at `expiration` has expired at `nowSeconds`.
[[nodiscard]] bool IsTokenExpired(std::string_view expiration, int64_t nowSeconds);

}  // namespace Tesk::Client::PersonalizedOffers

// PersonalizedOffersPlugin: the plug-in object of tav-personalized-offers.
#pragma once

#include "plugin/plugin_base.h"

namespace Tesk::Client::PersonalizedOffers {

inline constexpr char kShortName[] = "tav-personalized-offers";

class PersonalizedOffersPlugin final : public PluginBase {
 public:
  PersonalizedOffersPlugin();
  ~PersonalizedOffersPlugin() override;
};

}  // namespace Tesk::Client::PersonalizedOffers

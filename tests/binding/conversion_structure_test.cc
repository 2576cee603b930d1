#include "binding/conversion_structure.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/conversion.h"
#include "binding_values.h"

namespace Tesk {
namespace {

using namespace Testing;

enum class OfferState : int32_t { InProgress = 0, Succeeded = 1, LoggingOut = 2, Error = 3 };

struct Item {
  std::string itemId;
  int32_t count = 0;
};

struct Offer {
  std::string offerId;
  int32_t spotIndex = 0;
  OfferState state = OfferState::InProgress;
  Item main;
  std::vector<Item> items;
  std::vector<std::string> labels;
  std::vector<int32_t> ranks;
  BindingProperty extra;
  std::vector<BindingProperty> extras;
  bool active = false;
  uint32_t price = 0;
  int64_t serial = 0;
  uint64_t mask = 0;
};

// Registered in dependency order, as features do.
class StructureConversion : public ::testing::Test {
 protected:
  StructureConversion() {
    auto state = registry_.BeginType<OfferState>("OfferState");
    state.Enumerator("IN_PROGRESS", OfferState::InProgress);
    state.Enumerator("SUCCEEDED", OfferState::Succeeded);
    state.Enumerator("LOGGING_OUT", OfferState::LoggingOut);
    state.Enumerator("ERROR", OfferState::Error);
    auto item = registry_.BeginType<Item>("Item");
    item.Field("itemId", &Item::itemId, {.flags = BindingFieldFlags::Required});
    item.Field("count", &Item::count);
    auto offer = registry_.BeginType<Offer>("Offer");
    offer.Field("offerId", &Offer::offerId, {.flags = BindingFieldFlags::Required});
    offer.Field("spotIndex", &Offer::spotIndex);
    offer.Field("state", &Offer::state);
    offer.Field("main", &Offer::main);
    offer.Field("items", &Offer::items);
    offer.Field("labels", &Offer::labels);
    offer.Field("ranks", &Offer::ranks);
    offer.Field("extra", &Offer::extra);
    offer.Field("extras", &Offer::extras);
    offer.Field("active", &Offer::active);
    offer.Field("price", &Offer::price);
    offer.Field("serial", &Offer::serial);
    offer.Field("mask", &Offer::mask);
  }

  // Converts `input` into `offer` under the label "offer"; returns the message ("" when ok).
  std::string Read(const BindingProperty& input, Offer& offer) const {
    BindingResult result;
    FromBinding(result, offer, input, "offer", &registry_);
    return result.ErrorText();
  }

  BindingRegistry registry_;
};

TEST_F(StructureConversion, RoundTripsEveryMemberType) {
  Offer offer;
  offer.offerId = "o-1";
  offer.spotIndex = -2;
  offer.state = OfferState::LoggingOut;
  offer.main = {"m", 1};
  offer.items = {{"a", 2}, {"b", 3}};
  offer.labels = {"x", ""};
  offer.ranks = {5, 6};
  offer.extra = Structure({{"any", Collection({Bool(true)})}});
  offer.extras = {Signed(1), Text("two")};
  offer.active = true;
  offer.price = 4000000000u;
  offer.serial = INT64_MIN;
  offer.mask = UINT64_MAX;

  BindingResult written;
  ToBinding(written, offer, &registry_);
  ASSERT_TRUE(written.ok) << written.ErrorText();
  const BindingProperty& value = written.value;
  EXPECT_EQ(value.Size(), 13u);
  EXPECT_EQ(value.Member("state"), Enum(2, &TypeKeyOf<OfferState>()));
  EXPECT_EQ(value.Member("items"),
            Collection({Structure({{"itemId", Text("a")}, {"count", Signed(2)}}),
                        Structure({{"itemId", Text("b")}, {"count", Signed(3)}})}));
  EXPECT_EQ(value.Member("price"), Unsigned(4000000000u));
  EXPECT_EQ(value.Member("extra"), offer.extra);

  Offer read;
  ASSERT_EQ(Read(value, read), "");
  EXPECT_EQ(read.offerId, "o-1");
  EXPECT_EQ(read.spotIndex, -2);
  EXPECT_EQ(read.state, OfferState::LoggingOut);
  EXPECT_EQ(read.main.itemId, "m");
  ASSERT_EQ(read.items.size(), 2u);
  EXPECT_EQ(read.items[1].itemId, "b");
  EXPECT_EQ(read.items[1].count, 3);
  EXPECT_EQ(read.labels, offer.labels);
  EXPECT_EQ(read.ranks, offer.ranks);
  EXPECT_EQ(read.extra, offer.extra);
  EXPECT_EQ(read.extras, offer.extras);
  EXPECT_TRUE(read.active);
  EXPECT_EQ(read.price, offer.price);
  EXPECT_EQ(read.serial, INT64_MIN);
  EXPECT_EQ(read.mask, UINT64_MAX);
}

TEST_F(StructureConversion, FailuresNameTheInnermostValue) {
  struct Case {
    const char* what;
    BindingProperty input;
    const char* error;
  };
  const Case cases[] = {
      {"not a structure", Text("offer"),
       "Couldn't assign value to 'offer' of type Offer because the input not a structure."},
      {"empty input", Empty(),
       "Couldn't assign value to 'offer' of type Offer because the input not a structure."},
      {"required member missing", Structure({{"spotIndex", Signed(1)}}),
       "Couldn't assign value to 'offer' of type Offer because the input structure doesn't have "
       "required field 'offerId'."},
      {"required member empty", Structure({{"offerId", Empty()}}),
       "Couldn't assign value to 'offer' of type Offer because the input structure doesn't have "
       "required field 'offerId'."},
      {"member of a member",
       Structure({{"offerId", Text("o")},
                  {"main", Structure({{"itemId", Text("i")}, {"count", Text("x1")}})}}),
       "Value x1 for 'count' of type int32 is in an incorrect format"},
      {"required member of a member", Structure({{"offerId", Text("o")}, {"main", Structure({})}}),
       "Couldn't assign value to 'main' of type Item because the input structure doesn't have "
       "required field 'itemId'."},
      {"member structure of another kind", Structure({{"offerId", Text("o")}, {"main", Signed(1)}}),
       "Couldn't assign value to 'main' of type Item because the input not a structure."},
      {"element of a vector of structures",
       Structure(
           {{"offerId", Text("o")},
            {"items", Collection({Structure({{"itemId", Text("i")}, {"count", Bool(true)}})})}}),
       "Couldn't assign value to 'count' of type int32 because the input is of an invalid type "
       "bool."},
      {"element of a vector of numbers",
       Structure({{"offerId", Text("o")}, {"ranks", Collection({Signed(1), Text("two")})}}),
       "Value two for 'ranks' of type int32 is in an incorrect format"},
      {"vector from a non-collection", Structure({{"offerId", Text("o")}, {"labels", Text("a")}}),
       "Couldn't assign value to 'labels' of type vector because the input not a collection."},
      {"enumeration text not registered", Structure({{"offerId", Text("o")}, {"state", Text("7")}}),
       "7 is not a valid OfferState enumeration value for 'state'."},
      {"first failing field in registration order wins",
       Structure({{"offerId", Text("o")}, {"spotIndex", Text("a")}, {"price", Signed(-1)}}),
       "Value a for 'spotIndex' of type int32 is in an incorrect format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Offer offer;
    EXPECT_EQ(Read(c.input, offer), c.error);
  }
}

TEST_F(StructureConversion, AbsentMembersKeepTheirValuesAndUnknownOnesAreIgnored) {
  Offer offer;
  offer.spotIndex = 9;
  offer.labels = {"kept"};
  offer.state = OfferState::Error;
  ASSERT_EQ(Read(Structure({{"offerId", Text("o")},
                            {"labels", Empty()},
                            {"state", Text("2")},
                            {"unknown", Signed(1)}}),
                 offer),
            "");
  EXPECT_EQ(offer.offerId, "o");
  EXPECT_EQ(offer.spotIndex, 9);
  EXPECT_EQ(offer.labels, std::vector<std::string>{"kept"});
  EXPECT_EQ(offer.state, OfferState::LoggingOut);
}

TEST_F(StructureConversion, FailureStopsAtTheFailingFieldAndKeepsWhatWasFilled) {
  Offer offer;
  offer.price = 5;
  EXPECT_NE(Read(Structure({{"offerId", Text("o")},
                            {"spotIndex", Signed(3)},
                            {"state", Signed(8)},
                            {"price", Signed(6)}}),
                 offer),
            "");
  EXPECT_EQ(offer.offerId, "o");
  EXPECT_EQ(offer.spotIndex, 3);
  EXPECT_EQ(offer.price, 5u);
}

TEST_F(StructureConversion, EmptyVectorElementsStayDefault) {
  std::vector<int32_t> ranks = {7, 7, 7, 7};
  BindingResult result;
  FromBinding(result, ranks, Collection({Signed(1), Empty(), Signed(3)}), "ranks", &registry_);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(ranks, (std::vector<int32_t>{1, 0, 3}));

  std::vector<Item> items = {{"old", 1}};
  FromBinding(result, items, Collection({Empty(), Structure({{"itemId", Text("b")}})}), "items",
              &registry_);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].itemId, "");
  EXPECT_EQ(items[1].itemId, "b");
}

TEST_F(StructureConversion, VectorFromNonCollectionIsCleared) {
  std::vector<std::string> labels = {"a"};
  BindingResult result;
  FromBinding(result, labels, Structure({}), "labels", &registry_);
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to 'labels' of type vector because the input not a collection.");
  EXPECT_TRUE(labels.empty());
}

TEST_F(StructureConversion, RequiredTopLevelValues) {
  Offer offer;
  BindingResult result;
  FromBindingRequired(result, offer, Empty(), "body", &registry_);
  EXPECT_EQ(result.ErrorText(), "A value for 'body' is required.");

  BindingResult present;
  FromBindingRequired(present, offer, Structure({{"offerId", Text("o")}}), "body", &registry_);
  EXPECT_TRUE(present.ok) << present.ErrorText();
  EXPECT_EQ(offer.offerId, "o");

  std::vector<int32_t> ranks;
  BindingResult vector;
  FromBindingRequired(vector, ranks, Empty(), "ranks", &registry_);
  EXPECT_EQ(vector.ErrorText(), "A value for 'ranks' is required.");
}

struct Unregistered {
  int32_t value = 0;
};

TEST_F(StructureConversion, UnregisteredStructureFailsBothWays) {
  Unregistered native;
  BindingResult read;
  FromBinding(read, native, Structure({}), "thing", &registry_);
  EXPECT_EQ(read.ErrorText(),
            "Couldn't assign value to 'thing' because the input is an unregistered structure or "
            "not a structure at all.");
  BindingResult written;
  ToBinding(written, native, &registry_);
  EXPECT_EQ(written.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
  BindingResult withoutRegistry;
  ToBinding(withoutRegistry, std::vector<Item>{{"a", 1}}, nullptr);
  EXPECT_EQ(withoutRegistry.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
}

// Members whose types are registered only after the structure that holds them.
enum class LateState : int32_t { Off = 0, On = 1 };
struct LateItem {
  int32_t value = 0;
};
struct Early {
  LateState state = LateState::Off;
  LateItem item;
};

TEST(StructureRegistrationOrder, MembersRegisteredBeforeTheirTypes) {
  BindingRegistry registry;
  auto early = registry.BeginType<Early>("Early");
  early.Field("state", &Early::state);
  early.Field("item", &Early::item);
  auto late = registry.BeginType<LateState>("LateState");
  late.Enumerator("Off", LateState::Off);
  registry.BeginType<LateItem>("LateItem").Field("value", &LateItem::value);

  const BindingTypeInfo* record = registry.FindTypeByName("Early");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->fields[0].type.typeRecord, nullptr);
  EXPECT_EQ(record->fields[1].type.typeRecord, nullptr);

  // The enumeration member converts as a plain signed 32-bit integer, unchecked;
  // the structure member as an unregistered structure.
  Early native;
  BindingResult read;
  FromBinding(read, native, Structure({{"state", Signed(5)}, {"item", Structure({})}}), "early",
              &registry);
  EXPECT_EQ(static_cast<int32_t>(native.state), 5);
  EXPECT_EQ(read.ErrorText(),
            "Couldn't assign value to 'item' because the input is an unregistered structure or "
            "not a structure at all.");
  BindingResult written;
  ToBinding(written, native, &registry);
  EXPECT_EQ(written.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
}

struct Flagged {
  std::string text;
  bool flag = false;
  int32_t number = 0;
  uint64_t count = 0;
  double ratio = 0;
  OfferState state = OfferState::InProgress;
  std::vector<std::string> list;
  BindingProperty object;
};

void RegisterFlagged(BindingRegistry& registry, uint32_t flags) {
  auto state = registry.BeginType<OfferState>("OfferState");
  state.Enumerator("IN_PROGRESS", OfferState::InProgress);
  state.Enumerator("ERROR", OfferState::Error);
  auto flagged = registry.BeginType<Flagged>("Flagged");
  flagged.Field("text", &Flagged::text, {.flags = flags});
  flagged.Field("flag", &Flagged::flag, {.flags = flags});
  flagged.Field("number", &Flagged::number, {.flags = flags});
  flagged.Field("count", &Flagged::count, {.flags = flags});
  flagged.Field("ratio", &Flagged::ratio, {.flags = flags});
  flagged.Field("state", &Flagged::state, {.flags = flags});
  flagged.Field("list", &Flagged::list, {.flags = flags});
  flagged.Field("object", &Flagged::object, {.flags = flags});
}

TEST(OmitEmpty, LeavesOutEmptyValuesOnlyWhenFlagged) {
  BindingRegistry omitting;
  RegisterFlagged(omitting, BindingFieldFlags::OmitEmpty);
  BindingRegistry plain;
  RegisterFlagged(plain, 0);

  const Flagged empty;
  BindingResult omitted;
  ToBinding(omitted, empty, &omitting);
  ASSERT_TRUE(omitted.ok) << omitted.ErrorText();
  EXPECT_EQ(omitted.value, Structure({}));

  BindingResult written;
  ToBinding(written, empty, &plain);
  ASSERT_TRUE(written.ok) << written.ErrorText();
  EXPECT_EQ(written.value, Structure({{"text", Text("")},
                                      {"flag", Bool(false)},
                                      {"number", Signed(0)},
                                      {"count", Unsigned(0)},
                                      {"ratio", Float(0)},
                                      {"state", Enum(0, &TypeKeyOf<OfferState>())},
                                      {"list", Collection({})},
                                      {"object", Empty()}}));

  Flagged full;
  full.text = "t";
  full.flag = true;
  full.number = -1;
  full.count = 1;
  full.ratio = 0.5;
  full.state = OfferState::Error;
  full.list = {""};
  full.object = Structure({{"a", Empty()}});
  BindingResult kept;
  ToBinding(kept, full, &omitting);
  ASSERT_TRUE(kept.ok) << kept.ErrorText();
  EXPECT_EQ(kept.value.Size(), 8u);
}

TEST_F(StructureConversion, ToBindingStopsAtAFailingElement) {
  BindingRegistry other;  // where Offer is not registered
  std::vector<Offer> offers(2);
  BindingResult result;
  ToBinding(result, offers, &registry_);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(result.value.Size(), 2u);
  ToBinding(result, offers, &other);
  EXPECT_EQ(result.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
}

}  // namespace
}  // namespace Tesk

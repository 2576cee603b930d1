#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "binding/binding_property.h"
#include "binding/binding_storage.h"

namespace Tesk {
namespace {

using Kind = BindingPropertyKind;

std::vector<std::string> MemberNames(const BindingProperty& value) {
  std::vector<std::string> names;
  for (const auto member : value.Members()) names.emplace_back(member.name);
  return names;
}

TEST(BindingProperty, SettersGiveKindSizeAndPayload) {
  BindingProperty value;
  EXPECT_EQ(value.Kind(), Kind::Empty);
  EXPECT_EQ(value.Size(), 0u);
  EXPECT_EQ(value.Storage(), nullptr);

  value.SetBool(true);
  EXPECT_EQ(value.Kind(), Kind::Bool);
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_TRUE(value.GetBool());

  value.SetSigned(int32_t{-5});
  EXPECT_EQ(value.GetSigned(), -5);
  EXPECT_EQ(value.GetUnsigned(77), 77u) << "no conversion between kinds";

  value.SetUnsigned(std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(value.GetUnsigned(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(value.GetSigned(-1), -1);

  value.SetFloat(1.5);
  EXPECT_EQ(value.GetFloat(), 1.5);

  value.SetString("abc");
  EXPECT_EQ(value.Kind(), Kind::String);
  EXPECT_EQ(value.Size(), 3u);
  EXPECT_EQ(value.GetString(), "abc");
  EXPECT_STREQ(value.CString(), "abc");

  value.SetString(std::string_view("ab\0cd", 5));
  EXPECT_EQ(value.GetString(), "ab") << "a text ends at its first NUL";

  const std::vector<uint8_t> bytes = {0, 1, 2, 255};
  value.SetBlob(bytes);
  EXPECT_EQ(value.Kind(), Kind::Blob);
  EXPECT_EQ(value.Size(), 4u);
  EXPECT_EQ(std::vector<uint8_t>(value.GetBlob().begin(), value.GetBlob().end()), bytes);

  value.SetEnum({3, nullptr});
  EXPECT_EQ(value.Kind(), Kind::Enum);
  EXPECT_EQ(value.GetEnum().value, 3);
  EXPECT_EQ(value.Size(), 1u);

  value.MakeCollection();
  EXPECT_EQ(value.Kind(), Kind::Collection);
  EXPECT_EQ(value.Size(), 0u);
  value.MakeStructure();
  EXPECT_EQ(value.Kind(), Kind::Structure);
  EXPECT_EQ(value.Size(), 0u);
}

TEST(BindingProperty, KindNames) {
  const char* names[] = {"empty",  "bool", "signed", "unsigned",   "float",
                         "string", "blob", "enum",   "collection", "structure"};
  for (int code = 0; code < 10; ++code) {
    EXPECT_STREQ(BindingProperty::KindName(static_cast<Kind>(code)), names[code]);
  }
  EXPECT_STREQ(BindingProperty::KindName(static_cast<Kind>(10)), "");
}

struct TruthCase {
  const char* what;
  BindingProperty value;
  bool truth;
  std::string text;
};

std::vector<TruthCase> TruthCases() {
  std::vector<TruthCase> cases;
  auto add = [&](const char* what, auto set, bool truth, std::string text) {
    BindingProperty value;
    set(value);
    cases.push_back({what, std::move(value), truth, std::move(text)});
  };
  add(
      "empty", [](BindingProperty&) {}, false, "");
  add(
      "bool false", [](BindingProperty& v) { v.SetBool(false); }, false, "false");
  add(
      "signed -7", [](BindingProperty& v) { v.SetSigned(-7); }, true, "-7");
  add(
      "unsigned 0", [](BindingProperty& v) { v.SetUnsigned(0); }, false, "0");
  add(
      "float 1.5", [](BindingProperty& v) { v.SetFloat(1.5); }, true, "1.500000");
  add(
      "float NaN", [](BindingProperty& v) { v.SetFloat(std::nan("")); }, true, "nan");
  add(
      "float NaN with the sign bit", [](BindingProperty& v) { v.SetFloat(-std::nan("")); }, true,
      "nan");
  add(
      "string TRUE", [](BindingProperty& v) { v.SetString("TRUE"); }, false, "TRUE");
  add(
      "string true", [](BindingProperty& v) { v.SetString("true"); }, true, "true");
  add(
      "string 1", [](BindingProperty& v) { v.SetString("1"); }, true, "1");
  add(
      "string 01", [](BindingProperty& v) { v.SetString("01"); }, false, "01");
  add(
      "empty blob", [](BindingProperty& v) { v.SetBlob(std::vector<uint8_t>{}); }, false, "");
  add(
      "blob",
      [](BindingProperty& v) {
        v.SetBlob(std::vector<uint8_t>{'h', 'i'});
      },
      true, "hi");
  add(
      "enum 0",
      [](BindingProperty& v) {
        v.SetEnum({0, nullptr});
      },
      false, "0");
  add(
      "enum -2",
      [](BindingProperty& v) {
        v.SetEnum({-2, nullptr});
      },
      true, "-2");
  add(
      "empty collection", [](BindingProperty& v) { v.MakeCollection(); }, false, "");
  add(
      "structure", [](BindingProperty& v) { v.MemberRef("a").SetBool(false); }, true, "");
  return cases;
}

TEST(BindingProperty, TruthAndText) {
  for (const TruthCase& c : TruthCases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.value.Truth(), c.truth);
    EXPECT_EQ(c.value.ToText(), c.text);
  }
}

TEST(BindingProperty, MembersAreInByteWiseNameOrder) {
  BindingProperty value;
  for (const char* name : {"b", "ab", "a", "B", "", "\xC3\xA9"}) value.MemberRef(name);
  EXPECT_EQ(MemberNames(value), (std::vector<std::string>{"", "B", "a", "ab", "b", "\xC3\xA9"}));
  value.MemberRef("a").SetSigned(1);
  EXPECT_EQ(value.Size(), 6u) << "each name occurs once";
  EXPECT_EQ(value.Member("a").GetSigned(), 1);
  EXPECT_TRUE(value.RemoveMember("ab"));
  EXPECT_FALSE(value.RemoveMember("ab"));
  EXPECT_FALSE(value.HasMember("ab"));

  // Names given from one buffer whose text changes: the storage recognises a
  // name by its address, but the bytes decide.
  BindingProperty fromBuffer;
  char name[4] = "b";
  fromBuffer.MemberRef(name).SetSigned(1);
  std::memcpy(name, "a", 2);
  fromBuffer.MemberRef(name).SetSigned(2);
  std::memcpy(name, "b\0x", 4);
  fromBuffer.MemberRef(std::string_view(name, 3)).SetSigned(3);
  EXPECT_EQ(MemberNames(fromBuffer), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(fromBuffer.Member("a").GetSigned(), 2);
  EXPECT_EQ(fromBuffer.Member("b").GetSigned(), 3);

  // Records built from the same literals in changing orders: where a name
  // went in the last record is only a guess for the next.
  const std::vector<std::vector<const char*>> orders = {
      {"a", "b", "c"}, {"c", "b"}, {"a", "b"}, {"c", "a", "b", "a"}, {"b", "a"}, {"b", "c", "a"}};
  BindingProperty records;
  for (const auto& order : orders) {
    BindingProperty& record = records.Append();
    int64_t n = 0;
    for (const char* name : order) record.MemberRef(name).SetSigned(++n);
  }
  std::string text;
  for (const BindingProperty& record : records.Elements()) {
    for (const auto member : record.Members()) {
      text += std::string(member.name) + std::to_string(member.value.GetSigned());
    }
    text += ' ';
  }
  EXPECT_EQ(text, "a1b2c3 b2c1 a1b2 a4b3c1 a2b1 a3b1c2 ");
}

TEST(BindingProperty, ReadOnlyLookupsNeverChangeTheValue) {
  BindingProperty value;
  value.SetUnsigned(9);
  EXPECT_EQ(&value.Member("x"), &EmptyBindingProperty());
  EXPECT_FALSE(value.HasMember("x"));
  EXPECT_EQ(&value.At(0), &EmptyBindingProperty());
  EXPECT_EQ(value.GetUnsigned(), 9u);

  value.MemberRef("x");
  EXPECT_EQ(value.Kind(), Kind::Structure);
  EXPECT_EQ(MemberNames(value), std::vector<std::string>{"x"});
  EXPECT_TRUE(value.Member("x").IsEmpty());
}

TEST(BindingProperty, ElementGrowsACollectionWithEmptyElements) {
  BindingProperty value;
  value.SetString("discarded");
  value.Element(3).SetSigned(4);
  EXPECT_EQ(value.Kind(), Kind::Collection);
  ASSERT_EQ(value.Size(), 4u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(value.At(i).IsEmpty());
  EXPECT_EQ(value.At(3).GetSigned(), 4);
  EXPECT_EQ(&value.At(4), &EmptyBindingProperty());
  for (int i = 0; i < 1000; ++i) value.Append().SetSigned(i);
  EXPECT_EQ(value.Size(), 1004u);
  EXPECT_EQ(value.At(1003).GetSigned(), 999);
}

TEST(BindingProperty, CollectionsStopAtTheLengthLimit) {
  BindingProperty value;
  value.MakeCollection();
  try {
    value.Reserve(kMaxCollectionSize + 1);
    FAIL() << "no length error";
  } catch (const std::length_error& error) {
    EXPECT_STREQ(error.what(), "vector<T> too long");
  }
  EXPECT_THROW(value.Element(kMaxCollectionSize), std::length_error);
  EXPECT_EQ(value.Size(), 0u);
}

TEST(BindingResult, FailCarriesTheMessage) {
  BindingResult result;
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.ErrorText(), "");
  result.value.SetSigned(3);
  result.Fail("boom");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.ErrorText(), "boom");
  EXPECT_EQ(result.value.Size(), 1u);
  EXPECT_EQ(result.value.Member("error").GetString(), "boom");

  BindingProperty source;
  source.SetString("copied");
  const BindingResult copy(source);
  EXPECT_TRUE(copy.ok);
  EXPECT_EQ(copy.value, source);
}

TEST(BindingProperty, MovingBetweenRootsExchangesTrees) {
  BindingProperty source;
  source.MemberRef("k").SetString("v");
  BindingStorage* sourceStorage = source.Storage();
  BindingProperty target;
  target.SetSigned(1);
  target = std::move(source);
  EXPECT_EQ(target.Storage(), sourceStorage) << "no block copied";
  EXPECT_EQ(target.Member("k").GetString(), "v");
  EXPECT_TRUE(source.IsEmpty());

  BindingProperty constructed(std::move(target));
  EXPECT_EQ(constructed.Member("k").GetString(), "v");
  EXPECT_TRUE(target.IsEmpty());
}

TEST(BindingProperty, MovingARootIntoAnElementCopiesIt) {
  BindingProperty list;
  list.MakeCollection();
  BindingProperty source;
  source.MemberRef("name").SetString("x");
  list.Append() = std::move(source);
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(list.At(0).Member("name").GetString(), "x");
  EXPECT_EQ(list.At(0).Storage(), list.Storage());
  EXPECT_EQ(list.At(0).Member("name").Storage(), list.Storage());
}

TEST(BindingProperty, MovingAChildCopiesItAndMayThrow) {
  // A child's blocks belong to its tree, so moving it out copies them: such a
  // move can run out of memory and must be allowed to say so.
  static_assert(!std::is_nothrow_move_constructible_v<BindingProperty>);
  static_assert(!std::is_nothrow_move_assignable_v<BindingProperty>);
  const std::string text = "a text too long to be held inline";

  BindingProperty tree;
  tree.MemberRef("child").MemberRef("name").SetString(text);
  BindingProperty root(std::move(tree.MemberRef("child")));
  EXPECT_NE(root.Storage(), tree.Storage());
  EXPECT_EQ(root.Member("name").GetString(), text);
  EXPECT_TRUE(tree.Member("child").IsEmpty());

  // Sibling to sibling, and a descendant into its ancestor, within one tree.
  tree.MemberRef("a").Element(2).SetString(text);
  tree.MemberRef("b") = std::move(tree.MemberRef("a"));
  EXPECT_TRUE(tree.Member("a").IsEmpty());
  EXPECT_EQ(tree.Member("b").At(2).GetString(), text);
  tree.MemberRef("b") = std::move(tree.MemberRef("b").Element(2));
  EXPECT_EQ(tree.Member("b").GetString(), text);

  // Into a root that has no tree yet, from a child holding no block.
  tree.MemberRef("n").SetSigned(-3);
  BindingProperty plain;
  plain = std::move(tree.MemberRef("n"));
  EXPECT_EQ(plain.GetSigned(), -3);
  EXPECT_EQ(plain.Storage(), nullptr);
}

TEST(BindingProperty, CopyIntoAnotherTreeUsesThatTreesStorage) {
  BindingProperty target;
  {
    BindingProperty source;
    source.MemberRef("a").Element(1).SetString("deep");
    source.MemberRef("b").SetBlob(std::vector<uint8_t>{1, 2});
    source.MemberRef("c").SetEnum({7, nullptr});
    target.MemberRef("copy") = source;
    EXPECT_EQ(target.Member("copy"), source);
    EXPECT_EQ(target.Member("copy").Member("a").At(1).Storage(), target.Storage());
  }
  EXPECT_EQ(target.Member("copy").Member("a").At(1).GetString(), "deep");
  EXPECT_EQ(target.Member("copy").Member("c").GetEnum().value, 7);
}

TEST(BindingProperty, AssigningAPartOfItselfDetachesItFirst) {
  BindingProperty value;
  value.MemberRef("data").MemberRef("inner").SetString("kept");
  value.MemberRef("other").SetSigned(1);
  value = value.Member("data");
  EXPECT_EQ(MemberNames(value), std::vector<std::string>{"inner"});
  EXPECT_EQ(value.Member("inner").GetString(), "kept");

  value = std::move(value.MemberRef("inner"));
  EXPECT_EQ(value.GetString(), "kept");

  BindingProperty list;
  list.Element(0).SetString("first");
  list.Element(1) = list.At(0);
  EXPECT_EQ(list.At(1).GetString(), "first");
}

// A setter given text or bytes of the value it replaces (or of the tree that
// replacement frees) stores them whole: the input is read before anything is
// released or moved.
TEST(BindingProperty, SettersTakeInputFromWhatTheyReplace) {
  for (const std::string text : {"abcdefgh", "a text longer than any inline one"}) {
    SCOPED_TRACE(text);
    BindingProperty root;
    root.SetString(text);
    root.SetString(root.GetString());
    EXPECT_EQ(root.GetString(), text);
    root.SetString(root.GetString().substr(2));
    EXPECT_EQ(root.GetString(), text.substr(2));

    BindingProperty tree;
    tree.MemberRef("a").SetString(text);
    tree.MemberRef("a").SetString(tree.Member("a").GetString());
    EXPECT_EQ(tree.Member("a").GetString(), text);
    tree.SetString(tree.Member("a").GetString());
    EXPECT_EQ(tree.GetString(), text);

    BindingProperty blob;
    blob.SetBlob(std::vector<uint8_t>(text.begin(), text.end()));
    blob.SetBlob(blob.GetBlob());
    EXPECT_EQ(blob.ToText(), text);
    blob.MakeCollection();
    blob.Append().SetBlob(std::vector<uint8_t>(text.begin(), text.end()));
    blob.SetBlob(blob.At(0).GetBlob());
    EXPECT_EQ(blob.ToText(), text);

    BindingResult result;
    result.Fail(text);
    result.Fail(result.value.Member("error").GetString());
    EXPECT_EQ(result.ErrorText(), text);
  }
}

// A new member's name taken from a member's inline text: adding the member
// grows (moves) the array that holds the text.
TEST(BindingProperty, MemberRefNamedByTextOfTheSameStructure) {
  BindingProperty value;
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g"}) value.MemberRef(name).SetSigned(1);
  value.MemberRef("h").SetString("zname");
  value.MemberRef(value.Member("h").GetString()).SetSigned(2);
  EXPECT_EQ(MemberNames(value),
            (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h", "zname"}));
  EXPECT_EQ(value.Member("zname").GetSigned(), 2);
  EXPECT_EQ(value.Member("h").GetString(), "zname");
}

TEST(BindingStorage, InternsTextsOncePerTree) {
  BindingProperty value;
  for (int i = 0; i < 3; ++i) {
    value.Append().SetString("same");
    value.Append().MemberRef("same");
  }
  value.Append().SetString("");
  BindingStorage* storage = value.Storage();
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(storage->InternedCount(), 1u) << "one entry; the empty text is never stored";

  for (BindingProperty& element : value.MutableElements()) element.Reset();
  EXPECT_EQ(storage->InternedCount(), 0u) << "the last reference erased the entry";

  BindingProperty copy(value);
  EXPECT_NE(copy.Storage(), value.Storage());
}

}  // namespace
}  // namespace Tesk

#include "codecs/msgpack_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "codecs/small_stack_thread.h"
#include "codecs/value_text.h"
#include "diagnostics/sdk_allocator.h"

namespace Tesk {
namespace {

using Bytes = std::vector<uint8_t>;
using Testing::ValueText;

MessagePackReadResult Read(const Bytes& bytes) {
  return ReadMessagePack(bytes.data(), bytes.size());
}

Bytes Repeat(const Bytes& part, size_t times) {
  Bytes out;
  out.reserve(part.size() * times);
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

struct ReadCase {
  const char* what;
  Bytes input;
  const char* text;  // ValueText of the root
  size_t position;
};

void ExpectReads(const ReadCase& c) {
  SCOPED_TRACE(c.what);
  const MessagePackReadResult read = Read(c.input);
  ASSERT_TRUE(read.result.ok) << read.result.ErrorText();
  EXPECT_EQ(ValueText(read.result.value), c.text);
  EXPECT_EQ(read.position, c.position);
}

const ReadCase kFormats[] = {
    {"positive fixint 0", {0x00}, "0", 1},
    {"positive fixint is signed", {0x05}, "5", 1},
    {"positive fixint 127", {0x7F}, "127", 1},
    {"negative fixint -32", {0xE0}, "-32", 1},
    {"negative fixint -1", {0xFF}, "-1", 1},
    {"nil", {0xC0}, "null", 1},
    {"false", {0xC2}, "false", 1},
    {"true", {0xC3}, "true", 1},
    {"uint 8", {0xCC, 0xFF}, "255u", 2},
    {"uint 16", {0xCD, 0x12, 0x34}, "4660u", 3},
    {"uint 32", {0xCE, 0xFF, 0xFF, 0xFF, 0xFE}, "4294967294u", 5},
    {"uint 64", {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, "18446744073709551614u", 9},
    {"uint 64 byte order",
     {0xCF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
     "72623859790382856u",
     9},
    {"int 8", {0xD0, 0xFF}, "-1", 2},
    {"int 8 positive", {0xD0, 0x7F}, "127", 2},
    {"int 16", {0xD1, 0x80, 0x00}, "-32768", 3},
    {"int 16 byte order", {0xD1, 0x01, 0x02}, "258", 3},
    {"int 32", {0xD2, 0x80, 0x00, 0x00, 0x00}, "-2147483648", 5},
    {"int 32 byte order", {0xD2, 0xFF, 0xFF, 0xFE, 0xFD}, "-259", 5},
    {"int 64", {0xD3, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "-9223372036854775808", 9},
    {"int 64 byte order", {0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFD}, "-259", 9},
    {"float 32", {0xCA, 0x3F, 0xC0, 0x00, 0x00}, "1.5", 5},
    {"float 32 widened", {0xCA, 0x3D, 0xCC, 0xCC, 0xCD}, "0.10000000149011612", 5},
    {"float 32 whole", {0xCA, 0x40, 0x40, 0x00, 0x00}, "3.0", 5},
    {"float 64", {0xCB, 0xBF, 0xD0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "-0.25", 9},
    {"float 64 whole", {0xCB, 0x40, 0x59, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "100.0", 9},
    {"empty fixstr", {0xA0}, "\"\"", 1},
    {"fixstr", {0xA3, 'a', 'b', 'c'}, "\"abc\"", 4},
    {"fixstr bytes as they are", {0xA2, 0xFF, 0xFE}, "\"\\xff\\xfe\"", 3},
    {"str 8", {0xD9, 0x03, 'a', 'b', 'c'}, "\"abc\"", 5},
    {"str 16", {0xDA, 0x00, 0x03, 'a', 'b', 'c'}, "\"abc\"", 6},
    {"str 32", {0xDB, 0x00, 0x00, 0x00, 0x03, 'a', 'b', 'c'}, "\"abc\"", 8},
    {"empty bin 8", {0xC4, 0x00}, "<>", 2},
    {"bin 8", {0xC4, 0x03, 0x00, 0x01, 0xFF}, "<0001ff>", 5},
    {"bin 16", {0xC5, 0x00, 0x02, 0xAB, 0xCD}, "<abcd>", 5},
    {"bin 32", {0xC6, 0x00, 0x00, 0x00, 0x01, 0x00}, "<00>", 6},
    {"empty fixarray", {0x90}, "[]", 1},
    {"fixarray", {0x93, 0x01, 0xC3, 0xA1, 'x'}, "[1,true,\"x\"]", 5},
    {"nil element", {0x92, 0xC0, 0x01}, "[null,1]", 3},
    {"array 16", {0xDC, 0x00, 0x02, 0x01, 0x02}, "[1,2]", 5},
    {"array 32", {0xDD, 0x00, 0x00, 0x00, 0x02, 0x01, 0x02}, "[1,2]", 7},
    {"empty fixmap", {0x80}, "{}", 1},
    {"fixmap", {0x81, 0xA1, 'a', 0x01}, "{\"a\":1}", 4},
    {"members in name order", {0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02}, "{\"a\":2,\"b\":1}", 7},
    {"nil member", {0x81, 0xA1, 'a', 0xC0}, "{\"a\":null}", 4},
    {"empty key", {0x81, 0xA0, 0x01}, "{\"\":1}", 3},
    {"str 8 key", {0x81, 0xD9, 0x01, 'k', 0x01}, "{\"k\":1}", 5},
    {"str 16 key", {0x81, 0xDA, 0x00, 0x01, 'k', 0x01}, "{\"k\":1}", 6},
    {"str 32 key", {0x81, 0xDB, 0x00, 0x00, 0x00, 0x01, 'k', 0x01}, "{\"k\":1}", 8},
    {"map 16", {0xDE, 0x00, 0x01, 0xA1, 'a', 0x01}, "{\"a\":1}", 6},
    {"map 32", {0xDF, 0x00, 0x00, 0x00, 0x01, 0xA1, 'a', 0x01}, "{\"a\":1}", 8},
    {"nested",
     {0x82, 0xA1, 'a', 0x92, 0xC3, 0xA1, 'x', 0xA1, 'b', 0x81, 0xA1, 'c', 0x90},
     "{\"a\":[true,\"x\"],\"b\":{\"c\":[]}}",
     13},
};

TEST(ReadMessagePack, ReadsEveryFormat) {
  for (const ReadCase& c : kFormats) ExpectReads(c);
}

TEST(ReadMessagePack, ReadsLongestFixstrAndLongerStrings) {
  const std::string text31(31, 'x');
  const std::string text300(300, 'y');
  ExpectReads({"fixstr of 31", Join({{0xBF}, Bytes(text31.begin(), text31.end())}),
               ("\"" + text31 + "\"").c_str(), 32});
  ExpectReads({"str 16 of 300", Join({{0xDA, 0x01, 0x2C}, Bytes(text300.begin(), text300.end())}),
               ("\"" + text300 + "\"").c_str(), 303});
}

const ReadCase kPartialReads[] = {
    {"empty input", {}, "null", 0},
    {"bytes after a scalar root", {0x01, 0x02}, "1", 1},
    {"bytes after an array root", {0x91, 0x01, 0x02}, "[1]", 2},
    {"bytes after an empty map root", {0x80, 0xC1}, "{}", 1},
    {"bytes after a nil root", {0xC0, 0x01}, "null", 1},
    {"array missing an element", {0x92, 0x01}, "[1]", 2},
    {"header only", {0x93}, "[]", 1},
    {"inner array cut short", {0x92, 0x92, 0x01}, "[[1]]", 3},
    {"map missing a pair", {0x82, 0xA1, 'a', 0x01}, "{\"a\":1}", 4},
    {"key without value", {0x81, 0xA1, 'a'}, "{}", 3},
    {"inner map cut after a key", {0x91, 0x81, 0xA1, 'a'}, "[{}]", 4},
    {"array 32 announcing 2^32-1", {0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, "[1,2]", 7},
    {"map 32 announcing 2^32-1", {0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'a', 0x01}, "{\"a\":1}", 8},
    // The outer arrays claim all the room the input allows ahead: the inner
    // containers then hold more than was reserved for them and grow.
    {"array beyond the room reserved",
     {0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x93, 0x01, 0x02, 0x03},
     "[[[1,2,3]]]",
     14},
    {"map beyond the room reserved",
     {0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF,
      0x83, 0xA1, 'c',  0x01, 0xA1, 'a',  0x02, 0xA1, 'b',  0x03},
     "[[{\"a\":2,\"b\":3,\"c\":1}]]",
     20},
    // Doubled in 32 bits, 2^31 pairs would announce no items at all.
    {"map 32 announcing 2^31 pairs",
     {0xDF, 0x80, 0x00, 0x00, 0x00, 0xA1, 'a', 0x01},
     "{\"a\":1}",
     8},
};

// Records of one shape are put in order by what the reader remembers of the
// last one in the same place: records that differ from it must not take its order.
const ReadCase kShapes[] = {
    {"records of one shape, then another, then the first",
     {0x93, 0x82, 0xA1, 'b',  0x01, 0xA1, 'a', 0x02, 0x82, 0xA1, 'b',
      0x03, 0xA1, 'c',  0x04, 0x82, 0xA1, 'b', 0x05, 0xA1, 'a',  0x06},
     "[{\"a\":2,\"b\":1},{\"b\":3,\"c\":4},{\"a\":6,\"b\":5}]",
     22},
    {"a record with fewer and with more names",
     {0x93, 0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02, 0x81, 0xA1, 'b',
      0x03, 0x83, 0xA1, 'b', 0x05, 0xA1, 'a', 0x06, 0xA1, '0',  0x07},
     "[{\"a\":2,\"b\":1},{\"b\":3},{\"0\":7,\"a\":6,\"b\":5}]",
     22},
    // The inner "x" closes in the place of the outer "x" while the outer one
    // is read, and leaves its names there: the outer one, although every one
    // of its names came where the first record had them, must not take the
    // inner one's order.
    {"a structure inside one of the same place",
     {0x92, 0x81, 0xA1, 'x',  0x82, 0xA1, 'b',  0x01, 0xA1, 'x',  0x02, 0x81, 0xA1, 'x',
      0x82, 0xA1, 'b',  0x01, 0xA1, 'x',  0x82, 0xA1, 'z',  0x02, 0xA1, 'y',  0x03},
     "[{\"x\":{\"b\":1,\"x\":2}},{\"x\":{\"b\":1,\"x\":{\"y\":3,\"z\":2}}}]",
     27},
    {"a repeated name in a record of a known shape",
     {0x92, 0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02, 0x82, 0xA1, 'b', 0x03, 0xA1, 'b', 0x04},
     "[{\"a\":2,\"b\":1},{\"b\":4}]",
     15},
};

TEST(ReadMessagePack, StructuresOfOneShapeAndTheirVariants) {
  for (const ReadCase& c : kShapes) ExpectReads(c);
}

TEST(ReadMessagePack, StopsAtTheEndOfTheRootOrKeepsWhatWasRead) {
  for (const ReadCase& c : kPartialReads) ExpectReads(c);
  EXPECT_EQ(ReadMessagePack(nullptr, 0).position, 0u);
  const MessagePackReadResult view = ReadMessagePack(std::string_view("\x91\x01\x02", 3));
  EXPECT_EQ(ValueText(view.result.value), "[1]");
  EXPECT_EQ(view.position, 2u);
}

const ReadCase kRepeatedKeys[] = {
    {"scalar then nil", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0}, "{\"a\":1}", 7},
    {"string then nil", {0x82, 0xA1, 'a', 0xA1, 's', 0xA1, 'a', 0xC0}, "{\"a\":\"s\"}", 8},
    {"scalar then scalar", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, "{\"a\":2}", 7},
    {"scalar of another kind", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC3}, "{\"a\":true}", 7},
    {"maps merge",
     {0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02},
     "{\"a\":{\"x\":1,\"y\":2}}",
     13},
    {"maps merge member by member",
     {0x82, 0xA1, 'a', 0x82, 0xA1, 'x', 0x01, 0xA1, 'z', 0x92, 0x01,
      0x02, 0xA1, 'a', 0x82, 0xA1, 'x', 0xC0, 0xA1, 'z', 0x91, 0x03},
     "{\"a\":{\"x\":1,\"z\":[3,2]}}",
     22},
    {"array overwrites by index, longer tail stays",
     {0x82, 0xA1, 'a', 0x93, 0x01, 0x02, 0x03, 0xA1, 'a', 0x91, 0x09},
     "{\"a\":[9,2,3]}",
     11},
    {"array grows a shorter one",
     {0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0x92, 0xC0, 0x02},
     "{\"a\":[1,2]}",
     10},
    {"inner arrays merge by index",
     {0x82, 0xA1, 'a', 0x92, 0x92, 0x01, 0x02, 0x03, 0xA1, 'a', 0x91, 0x91, 0x09},
     "{\"a\":[[9,2],3]}",
     13},
    {"scalar replaces a map",
     {0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x05},
     "{\"a\":5}",
     10},
    {"map replaces a scalar",
     {0x82, 0xA1, 'a', 0x05, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02},
     "{\"a\":{\"y\":2}}",
     10},
    {"map replaces an array", {0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0x80}, "{\"a\":{}}", 8},
    {"array replaces a map",
     {0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x90},
     "{\"a\":[]}",
     10},
    {"empty map keeps the members",
     {0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x80},
     "{\"a\":{\"x\":1}}",
     10},
};

TEST(ReadMessagePack, RepeatedKeysAddressTheSameMember) {
  for (const ReadCase& c : kRepeatedKeys) ExpectReads(c);
  ExpectReads({"cut short after a repeat: members in name order",
               {0x84, 0xA1, 'c', 0x01, 0xA1, 'b', 0x02, 0xA1, 'c', 0x03, 0xA1, 'a'},
               "{\"b\":2,\"c\":3}",
               12});
}

// Many keys in descending order and one of them again, through the merging
// reader: the same members, in name order, as MemberRef makes them.
TEST(ReadMessagePack, ManyKeysInDescendingOrderWithARepeat) {
  constexpr int kKeys = 20000;
  Bytes input = {0xDE, static_cast<uint8_t>((kKeys + 1) >> 8), static_cast<uint8_t>(kKeys + 1)};
  BindingProperty expected;
  char key[8];
  const auto add = [&](int i, uint16_t value) {
    std::snprintf(key, sizeof key, "k%05d", i);
    input.push_back(0xA6);
    input.insert(input.end(), key, key + 6);
    input.insert(input.end(),
                 {0xCD, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
  };
  for (int i = kKeys; i > 0; --i) add(i, static_cast<uint16_t>(i));
  add(kKeys / 2, 7);
  for (int i = 1; i <= kKeys; ++i) {
    std::snprintf(key, sizeof key, "k%05d", i);
    expected.MemberRef(key).SetUnsigned(i == kKeys / 2 ? 7 : static_cast<uint64_t>(i));
  }
  const MessagePackReadResult read = Read(input);
  ASSERT_TRUE(read.result.ok) << read.result.ErrorText();
  EXPECT_EQ(read.position, input.size());
  EXPECT_TRUE(read.result.value == expected);
}

struct ErrorCase {
  const char* what;
  Bytes input;
  const char* message;
};

const ErrorCase kMalformed[] = {
    {"reserved byte", {0xC1}, "Invalid MessagePack data at position 1."},
    {"reserved byte in an array", {0x92, 0x01, 0xC1}, "Invalid MessagePack data at position 3."},
    {"map value of a reserved byte",
     {0x81, 0xA1, 'a', 0xC1},
     "Invalid MessagePack data at position 4."},
    {"integer key",
     {0x81, 0x01, 0x01},
     "Invalid MessagePack data at position 2. Map keys must be strings."},
    {"nil key",
     {0x81, 0xC0, 0x01},
     "Invalid MessagePack data at position 2. Map keys must be strings."},
    {"map key",
     {0x81, 0x80, 0x01},
     "Invalid MessagePack data at position 2. Map keys must be strings."},
    {"bin key",
     {0x81, 0xC4, 0x00, 0x01},
     "Invalid MessagePack data at position 2. Map keys must be strings."},
    {"reserved byte as key",
     {0x81, 0xC1},
     "Invalid MessagePack data at position 2. Map keys must be strings."},
    {"second key",
     {0x82, 0xA1, 'a', 0x01, 0x02, 0x03},
     "Invalid MessagePack data at position 5. Map keys must be strings."},
    {"uint 8", {0xCC}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
    {"int 8", {0xD0}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
    {"uint 16",
     {0xCD, 0x01},
     "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
    {"int 16",
     {0xD1},
     "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
    {"uint 32",
     {0xCE, 0x01, 0x02, 0x03},
     "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
    {"int 32",
     {0xD2, 0x01},
     "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
    {"float 32",
     {0xCA, 0x3F, 0xC0, 0x00},
     "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
    {"uint 64",
     {0xCF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07},
     "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
    {"int 64",
     {0xD3},
     "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
    {"float 64",
     {0xCB, 0x3F, 0xF8, 0x00, 0x00},
     "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
    {"str 8 length",
     {0xD9},
     "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
    {"str 16 length",
     {0xDA, 0x00},
     "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
    {"str 32 length",
     {0xDB, 0x00, 0x00, 0x00},
     "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
    {"bin 8 length",
     {0xC4},
     "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
    {"bin 16 length",
     {0xC5, 0x00},
     "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
    {"bin 32 length",
     {0xC6},
     "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
    {"array 16 count",
     {0xDC, 0x00},
     "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
    {"array 32 count",
     {0xDD, 0x00, 0x00},
     "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
    {"map 16 count",
     {0xDE},
     "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
    {"map 32 count",
     {0xDF, 0x00, 0x00, 0x00},
     "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
    {"key length",
     {0x81, 0xD9},
     "Invalid MessagePack data. 8-bit integer value at position 2 is truncated."},
    {"nested number",
     {0x92, 0x01, 0xCD, 0x01},
     "Invalid MessagePack data. 16-bit integer value at position 3 is truncated."},
    {"fixstr",
     {0xA3, 'a'},
     "Invalid MessagePack data. String of size 3 at position 1 is truncated."},
    {"str 8",
     {0xD9, 0x05, 'a', 'b', 'c'},
     "Invalid MessagePack data. String of size 5 at position 2 is truncated."},
    {"str 16",
     {0xDA, 0x01, 0x00, 'a'},
     "Invalid MessagePack data. String of size 256 at position 3 is truncated."},
    {"str 32",
     {0xDB, 0x00, 0x01, 0x00, 0x00, 'a'},
     "Invalid MessagePack data. String of size 65536 at position 5 is truncated."},
    {"key",
     {0x81, 0xA2, 'a'},
     "Invalid MessagePack data. String of size 2 at position 2 is truncated."},
    {"bin 8",
     {0xC4, 0x02, 0x00},
     "Invalid MessagePack data. Raw bytes of size 2 at position 2 are truncated."},
    {"bin 16",
     {0xC5, 0x00, 0x03},
     "Invalid MessagePack data. Raw bytes of size 3 at position 3 are truncated."},
    {"bin 32",
     {0xC6, 0x00, 0x00, 0x01, 0x00, 0x01},
     "Invalid MessagePack data. Raw bytes of size 256 at position 5 are truncated."},
    {"str 32 of 2^32-1",
     {0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
     "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated."},
    {"bin 32 of 2^32-1",
     {0xC6, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},
     "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are truncated."},
    {"key of 2^32-1",
     {0x81, 0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
     "Invalid MessagePack data. String of size 4294967295 at position 6 is truncated."},
};

TEST(ReadMessagePack, ReportsMalformedInputWithPositions) {
  for (const ErrorCase& c : kMalformed) {
    SCOPED_TRACE(c.what);
    const MessagePackReadResult read = Read(c.input);
    EXPECT_FALSE(read.result.ok);
    EXPECT_EQ(read.result.ErrorText(), c.message);
    EXPECT_EQ(ValueText(read.result.value).rfind("{\"error\":", 0), 0u)
        << "only the error member remains: " << ValueText(read.result.value);
    EXPECT_LE(read.position, c.input.size());
  }
}

TEST(ReadMessagePack, RefusesExtensionTypes) {
  // ext 8/16/32 and fixext 1/2/4/8/16, with enough bytes after them to look whole.
  for (const uint8_t format : {0xC7, 0xC8, 0xC9, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8}) {
    SCOPED_TRACE(int{format});
    EXPECT_EQ(Read(Join({{format}, Bytes(20, 0x01)})).result.ErrorText(),
              "Invalid MessagePack data at position 1.");
    EXPECT_EQ(Read({0x91, format, 0x01, 0x01}).result.ErrorText(),
              "Invalid MessagePack data at position 2.");
  }
}

TEST(LooksLikeMessagePack, OnlyContainerHeaders) {
  const struct {
    uint8_t first;
    bool container;
  } kFirstBytes[] = {
      {0x7B, false}, {0x00, false}, {0x7F, false}, {0x80, true},  {0x8F, true},
      {0x90, true},  {0x9F, true},  {0xA0, false}, {0xC0, false}, {0xDB, false},
      {0xDC, true},  {0xDD, true},  {0xDE, true},  {0xDF, true},  {0xE0, false},
  };
  for (const auto& c : kFirstBytes) {
    SCOPED_TRACE(int{c.first});
    EXPECT_EQ(LooksLikeMessagePack(&c.first, 1), c.container);
  }
  const uint8_t map = 0x80;
  EXPECT_FALSE(LooksLikeMessagePack(&map, 0));
  EXPECT_FALSE(LooksLikeMessagePack(nullptr, 0));
}

// The depth of a chain of single-element arrays or single-member maps, and
// its innermost value.
std::pair<int, std::string> Depth(const BindingProperty& root) {
  const BindingProperty* at = &root;
  int depth = 0;
  while (at->Kind() == BindingPropertyKind::Collection ||
         at->Kind() == BindingPropertyKind::Structure) {
    ++depth;
    at = at->Kind() == BindingPropertyKind::Collection ? &at->At(0) : &at->Member("a");
  }
  return {depth, ValueText(*at)};
}

// Hostile input on a host-sized stack: the reader and the trees it may build
// must not need a stack that grows with the input.
TEST(ReadMessagePack, BoundsHostileInputOnAHostSizedStack) {
  const bool ran = Testing::RunOnSmallStack(Testing::kHostThreadStack, [] {
    const std::string tooDeep = "Invalid MessagePack data at position 513. Nesting is too deep.";
    EXPECT_EQ(Read(Repeat({0x91}, 100000)).result.ErrorText(), tooDeep);
    EXPECT_EQ(Read(Repeat({0x91}, 513)).result.ErrorText(), tooDeep);
    EXPECT_EQ(Read(Join({Repeat({0x91}, 512), {0x90}})).result.ErrorText(), tooDeep)
        << "an empty container is a level too";
    EXPECT_EQ(Read(Repeat({0xDD, 0xFF, 0xFF, 0xFF, 0xFF}, 100000)).result.ErrorText(),
              "Invalid MessagePack data at position 2561. Nesting is too deep.");
    EXPECT_EQ(Read(Repeat({0x81, 0xA1, 'a'}, 100000)).result.ErrorText(),
              "Invalid MessagePack data at position 1537. Nesting is too deep.");

    const MessagePackReadResult arrays = Read(Join({Repeat({0x91}, 512), {0x07}}));
    ASSERT_TRUE(arrays.result.ok) << arrays.result.ErrorText();
    EXPECT_EQ(Depth(arrays.result.value), std::make_pair(512, std::string("7")));
    const MessagePackReadResult maps = Read(Join({Repeat({0x81, 0xA1, 'a'}, 512), {0xC3}}));
    ASSERT_TRUE(maps.result.ok) << maps.result.ErrorText();
    EXPECT_EQ(Depth(maps.result.value), std::make_pair(512, std::string("true")));
    // Copying and comparing recurse once per level.
    const BindingProperty copy = maps.result.value;
    EXPECT_TRUE(copy == maps.result.value);
  });
  EXPECT_TRUE(ran);
}

TEST(ReadMessagePack, AllocatesOnlyForItemsPresent) {
  const Bytes announcedArray = {0xDD, 0x0F, 0xFF, 0xFF, 0xFE, 0x01, 0x02};
  const Bytes announcedMap = {0xDF, 0x7F, 0xFF, 0xFF, 0xFF, 0xA1, 'a', 0x90};
  // Nested containers each announcing the most: room reserved ahead for all of
  // them together stays within what the input's bytes could fill.
  Bytes nestedAnnounced;
  for (int level = 0; level < 500; ++level) {
    nestedAnnounced.insert(nestedAnnounced.end(), {0xDD, 0xFF, 0xFF, 0xFF, 0xFF});
  }
  for (const Bytes& input : {announcedArray, announcedMap, nestedAnnounced}) {
    const uint64_t before = Memory::ReadAllocationCounters().bytesAllocated;
    const MessagePackReadResult read = Read(input);
    const uint64_t allocated = Memory::ReadAllocationCounters().bytesAllocated - before;
    EXPECT_TRUE(read.result.ok) << read.result.ErrorText();
    EXPECT_LT(allocated, 256u * 1024u);
  }
}

}  // namespace
}  // namespace Tesk

#include "codecs/msgpack_reader.h"

#include <bit>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "binding/binding_merging_builder.h"
#include "binding/binding_sized_tree_builder.h"
#include "binding/binding_storage.h"
#include "diagnostics/format.h"

namespace Tesk {
namespace {

// The reader's messages. In the first three, %1 is the position after the
// offending format byte; in the others, the position where the missing bytes
// begin (%2 when %1 is the announced size).
constexpr std::string_view kInvalidData = "Invalid MessagePack data at position %1.";
constexpr std::string_view kKeyNotString =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
constexpr std::string_view kNestingTooDeep =
    "Invalid MessagePack data at position %1. Nesting is too deep.";
constexpr std::string_view kTruncated8 =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
constexpr std::string_view kTruncated16 =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
constexpr std::string_view kTruncated32 =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
constexpr std::string_view kTruncated64 =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
constexpr std::string_view kStringTruncated =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr std::string_view kBlobTruncated =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";

// The message for a number (or a length or count) of sizeof(T) bytes that is cut short.
template <class T>
constexpr std::string_view TruncatedNumberMessage() {
  if constexpr (sizeof(T) == 1) {
    return kTruncated8;
  } else if constexpr (sizeof(T) == 2) {
    return kTruncated16;
  } else if constexpr (sizeof(T) == 4) {
    return kTruncated32;
  } else {
    static_assert(sizeof(T) == 8);
    return kTruncated64;
  }
}

inline uint8_t ByteSwap(uint8_t value) { return value; }
inline uint16_t ByteSwap(uint16_t value) { return __builtin_bswap16(value); }
inline uint32_t ByteSwap(uint32_t value) { return __builtin_bswap32(value); }
inline uint64_t ByteSwap(uint64_t value) { return __builtin_bswap64(value); }

// The unsigned big-endian number at `at`, which has at least sizeof(T) bytes.
template <class T>
T LoadBigEndian(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  if constexpr (std::endian::native == std::endian::little) value = ByteSwap(value);
  return value;
}

// The bytes of one read and what both ways of building share: the value
// formats, lengths and numbers, and the messages. `Builder` supplies
// Open(target, isMap, count) for a container header and Nil(target).
template <class Builder>
class MessagePackInput {
 public:
  MessagePackInput(const uint8_t* bytes, size_t count, BindingResult& result)
      : bytes_(bytes), count_(count), result_(result) {}

 protected:
  // Reads one value (its format byte is present) into `target`. Inline in
  // the readers' loops, so that a scalar item costs no call.
  template <class Target>
  [[gnu::always_inline]] bool ReadValue(Target& target) {
    const uint8_t format = bytes_[position_++];
    if (format <= 0x7F) {
      target.SetSigned(format);
      return true;
    }
    if (format >= 0xE0) {
      target.SetSigned(static_cast<int8_t>(format));
      return true;
    }
    if (format <= 0x8F) return CheckDepth() && Self().Open(target, true, format & 0x0F);
    if (format <= 0x9F) return CheckDepth() && Self().Open(target, false, format & 0x0F);
    if (format <= 0xBF) return ReadString(target, format & 0x1F);
    switch (format) {
      case 0xC0:
        Self().Nil(target);
        return true;
      case 0xC2:
      case 0xC3:
        target.SetBool(format == 0xC3);
        return true;
      case 0xC4:
        return ReadBlob<uint8_t>(target);
      case 0xC5:
        return ReadBlob<uint16_t>(target);
      case 0xC6:
        return ReadBlob<uint32_t>(target);
      case 0xCA: {
        uint32_t bits;
        if (!ReadNumber(bits)) return false;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        target.SetFloat(value);
        return true;
      }
      case 0xCB: {
        uint64_t bits;
        if (!ReadNumber(bits)) return false;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        target.SetFloat(value);
        return true;
      }
      case 0xCC:
        return ReadUnsigned<uint8_t>(target);
      case 0xCD:
        return ReadUnsigned<uint16_t>(target);
      case 0xCE:
        return ReadUnsigned<uint32_t>(target);
      case 0xCF:
        return ReadUnsigned<uint64_t>(target);
      case 0xD0:
        return ReadSigned<uint8_t>(target);
      case 0xD1:
        return ReadSigned<uint16_t>(target);
      case 0xD2:
        return ReadSigned<uint32_t>(target);
      case 0xD3:
        return ReadSigned<uint64_t>(target);
      case 0xD9:
        return ReadString<uint8_t>(target);
      case 0xDA:
        return ReadString<uint16_t>(target);
      case 0xDB:
        return ReadString<uint32_t>(target);
      case 0xDC:
        return ReadContainer<uint16_t>(target, false);
      case 0xDD:
        return ReadContainer<uint32_t>(target, false);
      case 0xDE:
        return ReadContainer<uint16_t>(target, true);
      case 0xDF:
        return ReadContainer<uint32_t>(target, true);
      default:  // 0xC1, ext 8/16/32 and fixext 1/2/4/8/16
        return Fail(kInvalidData, position_);
    }
  }

  // Reads a map key (its format byte is present).
  bool ReadKey(std::string_view& key) {
    const uint8_t format = bytes_[position_++];
    uint32_t length = 0;
    if (format >= 0xA0 && format <= 0xBF) {
      length = format & 0x1F;
    } else if (format == 0xD9) {
      if (!ReadLength<uint8_t>(length)) return false;
    } else if (format == 0xDA) {
      if (!ReadLength<uint16_t>(length)) return false;
    } else if (format == 0xDB) {
      if (!ReadLength<uint32_t>(length)) return false;
    } else {
      return Fail(kKeyNotString, position_);
    }
    return TakeText(length, key);
  }

  // Refuses a container header (just read) that would open one level too many.
  bool CheckDepth() {
    return Self().OpenLevels() < kMaxMessagePackDepth || Fail(kNestingTooDeep, position_);
  }

  // Room to reserve for a container announcing `count` items: never more
  // than the rest of the input could hold (each element takes a byte at
  // least, each pair of a map two), and never more items in all than the
  // input has bytes, so that nested hostile counts cost no more than the
  // items they would really hold. A container that turns out larger grows.
  uint32_t Room(uint32_t count, bool isMap) {
    uint64_t room = isMap ? (count_ - position_) / 2 : count_ - position_;
    if (room > count) room = count;
    if (room > reserveBudget_) room = reserveBudget_;
    if (room > kMaxCollectionSize) room = kMaxCollectionSize;
    reserveBudget_ -= room;
    return static_cast<uint32_t>(room);
  }

  const uint8_t* const bytes_;
  const size_t count_;
  size_t position_ = 0;
  BindingResult& result_;

 private:
  Builder& Self() { return static_cast<Builder&>(*this); }

  template <class T, class Target>
  bool ReadContainer(Target& target, bool isMap) {
    T count;
    return CheckDepth() && ReadNumber(count) && Self().Open(target, isMap, count);
  }

  template <class T, class Target>
  bool ReadUnsigned(Target& target) {
    T value;
    if (!ReadNumber(value)) return false;
    target.SetUnsigned(value);
    return true;
  }

  template <class T, class Target>
  bool ReadSigned(Target& target) {
    T value;
    if (!ReadNumber(value)) return false;
    target.SetSigned(static_cast<std::make_signed_t<T>>(value));
    return true;
  }

  template <class T, class Target>
  bool ReadString(Target& target) {
    uint32_t length;
    return ReadLength<T>(length) && ReadString(target, length);
  }

  template <class Target>
  bool ReadString(Target& target, uint32_t length) {
    std::string_view text;
    if (!TakeText(length, text)) return false;
    target.SetString(text);
    return true;
  }

  template <class T, class Target>
  bool ReadBlob(Target& target) {
    uint32_t length;
    if (!ReadLength<T>(length)) return false;
    if (!HasBytes(length)) return Fail(kBlobTruncated, length, position_);
    target.SetBlob(std::span<const uint8_t>(bytes_ + position_, length));
    position_ += length;
    return true;
  }

  bool TakeText(uint32_t length, std::string_view& text) {
    if (!HasBytes(length)) return Fail(kStringTruncated, length, position_);
    text = std::string_view(reinterpret_cast<const char*>(bytes_ + position_), length);
    position_ += length;
    return true;
  }

  template <class T>
  bool ReadLength(uint32_t& length) {
    T value;
    if (!ReadNumber(value)) return false;
    length = value;
    return true;
  }

  // On failure `value` is zero, so that no caller's variable is left unset on
  // a path the compiler cannot prove unreachable.
  template <class T>
  bool ReadNumber(T& value) {
    if (!HasBytes(sizeof(T))) {
      value = 0;
      return Fail(TruncatedNumberMessage<T>(), position_);
    }
    value = LoadBigEndian<T>(bytes_ + position_);
    position_ += sizeof(T);
    return true;
  }

  // Whether `length` more bytes are present; in 64 bits, so that no announced
  // length wraps the check on a 32-bit target.
  [[nodiscard]] bool HasBytes(uint64_t length) const {
    return length <= uint64_t{count_ - position_};
  }

  template <class... A>
  bool Fail(std::string_view message, const A&... args) {
    result_.Fail(Format(message, args...));
    return false;
  }

  uint64_t reserveBudget_ = count_;  // items that may still be reserved ahead
};

// Builds the tree in place (BindingSizedTreeBuilder): the usual way. A
// container's items are read in a call of their own, one level of recursion
// per level of nesting (at most kMaxMessagePackDepth). Reports `repeatedName`
// when a map names a key twice, which it cannot build.
class InPlaceReader : public MessagePackInput<InPlaceReader> {
 public:
  InPlaceReader(const uint8_t* bytes, size_t count, BindingResult& result)
      : MessagePackInput(bytes, count, result), builder_(result.value) {}

  // Reads the root value into the result; returns the position reached.
  size_t Run(bool& repeatedName) {
    if (count_ == 0) return 0;
    Target root{&result_.value, nullptr};
    ReadValue(root);
    repeatedName = repeatedName_;
    return position_;
  }

 private:
  friend class MessagePackInput<InPlaceReader>;
  using Builder = BindingSizedTreeBuilder;

  // A value to write, and where the structures in it stand.
  struct Target {
    BindingProperty* value;
    Builder::Name place;
    void SetBool(bool v) { Builder::WriteBool(*value, v); }
    void SetSigned(int64_t v) { Builder::WriteSigned(*value, v); }
    void SetUnsigned(uint64_t v) { Builder::WriteUnsigned(*value, v); }
    void SetFloat(double v) { Builder::WriteFloat(*value, v); }
    void SetString(std::string_view text) { value->SetString(text); }
    void SetBlob(std::span<const uint8_t> bytes) { value->SetBlob(bytes); }
  };

  [[nodiscard]] size_t OpenLevels() const { return depth_; }
  static void Nil(Target&) {}  // the value is empty already

  [[gnu::noinline]] bool Open(Target& target, bool isMap, uint32_t count) {
    ++depth_;
    const bool read = isMap ? ReadMap(target, count) : ReadArray(target, count);
    --depth_;
    return read;
  }

  // Input that ends inside a container is not an error: it keeps what it has.
  bool ReadArray(Target& target, uint32_t count) {
    Builder::Container collection = builder_.OpenCollection(Room(count, false));
    for (uint32_t i = 0; i != count && position_ != count_; ++i) {
      Target element{&builder_.AddElement(collection), target.place};
      if (!ReadValue(element)) return false;
    }
    Builder::CloseCollection(collection, *target.value);
    return true;
  }

  bool ReadMap(Target& target, uint32_t count) {
    Builder::Container structure = builder_.OpenStructure(Room(count, true), target.place);
    for (uint32_t i = 0; i != count && position_ != count_; ++i) {
      std::string_view key;
      if (!ReadKey(key)) return false;
      if (position_ == count_) break;  // a key without its value
      const Builder::Name name = builder_.MemberName(structure, key);
      Target member{&builder_.AddMember(structure, name), name};
      if (!ReadValue(member)) return false;
    }
    if (!builder_.CloseStructure(structure, *target.value)) {
      repeatedName_ = true;
      return false;
    }
    return true;
  }

  Builder builder_;
  unsigned depth_ = 0;
  bool repeatedName_ = false;
};

// Builds the tree top-down through Element and by name, for a document whose
// map names a key twice: a repeated key addresses the same member, a later
// scalar replaces it, nil leaves it, and a later container of the same kind
// keeps its content and is filled again from its first item.
class MergingReader : public MessagePackInput<MergingReader> {
 public:
  using MessagePackInput::MessagePackInput;

  // Reads the root value into the result; returns the position reached.
  // `expectedNames`: the member names an earlier read of the input interned.
  size_t Run(uint32_t expectedNames) {
    if (count_ == 0) return 0;
    open_.reserve(16);
    structures_.ExpectNames(expectedNames);
    if (!ReadValue(result_.value)) return position_;
    while (!open_.empty() && position_ < count_) {
      OpenContainer& top = open_.back();
      if (top.next == top.count) {
        if (top.isMap) structures_.End();
        open_.pop_back();
        continue;
      }
      const uint64_t item = top.next++;
      if (!top.isMap) {
        // Arrays announce at most 2^32-1 elements, so the index fits.
        if (!ReadValue(top.value->Element(static_cast<uint32_t>(item)))) break;
      } else if ((item & 1) == 0) {
        if (!ReadKey(top.key)) break;
      } else {
        if (!ReadValue(structures_.Member(top.key))) break;
      }
    }
    // Input that ends inside a map still leaves its members in name order (a
    // failed read holds only its message).
    if (result_.ok) structures_.EndAll();
    return position_;
  }

 private:
  friend class MessagePackInput<MergingReader>;

  // An array or map being filled. References into the tree stay valid while
  // the entry is open: a collection grows only when its own next element is
  // made, and every entry above it on the stack has been closed by then.
  struct OpenContainer {
    BindingProperty* value;
    uint64_t count;        // items announced: elements, or two per pair of a map
    uint64_t next;         // the index of the next item
    std::string_view key;  // the last key read, a view into the input
    bool isMap;
  };

  [[nodiscard]] size_t OpenLevels() const { return open_.size(); }
  static void Nil(BindingProperty&) {}
  bool Open(BindingProperty& target, bool isMap, uint32_t count) {
    if (isMap) {
      target.MakeStructure();
    } else {
      target.MakeCollection();
    }
    const uint32_t room = Room(count, isMap);
    if (isMap) {
      target.ReserveMembers(room);
      structures_.Begin(target);
    } else {
      target.Reserve(room);
    }
    open_.push_back({&target, isMap ? uint64_t{count} * 2 : uint64_t{count}, 0, {}, isMap});
    return true;
  }

  std::vector<OpenContainer> open_;
  BindingMergingBuilder structures_;
};

}  // namespace

MessagePackReadResult ReadMessagePack(const uint8_t* bytes, size_t count) {
  MessagePackReadResult read;
  bool repeatedName = false;
  read.position = InPlaceReader(bytes, count, read.result).Run(repeatedName);
  if (!repeatedName) return read;
  // Rare: a key given twice in one map. Read again, merging as it goes.
  const BindingStorage* first = read.result.value.Storage();
  const uint32_t names = first != nullptr ? first->InternedCount() : 0;
  read = MessagePackReadResult();
  MessagePackReadResult merged;
  merged.position = MergingReader(bytes, count, merged.result).Run(names);
  return merged;
}

bool LooksLikeMessagePack(const uint8_t* bytes, size_t count) {
  if (count == 0) return false;
  const uint8_t first = bytes[0];
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace Tesk

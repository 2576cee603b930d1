// BindingRegistry: the types, functions and events a plug-in describes at run
// time. Types are entered by name and by id and live as long as the registry;
// functions and events live until unregistered or until Shutdown. Records
// keep their addresses: lookups return views valid as long as the record.
//
// Threads: every lookup and insertion takes the registry's one lock, held for
// that single operation only. Records are filled by their builders outside the
// lock during start-up, before other threads read them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_function_info.h"
#include "binding/binding_type_builder.h"
#include "binding/binding_type_info.h"
#include "binding/internal/type_id_map.h"
#include "binding/native_type_builder.h"
#include "binding/type_key.h"
#include "platform/platform.h"

namespace Tesk {

// The type an invoker reports as its context type when its handler takes no
// request context. A type registered under its key is entered by name only.
struct BindingNoRequestContext {};

class BindingRegistry;

// Registers the builtin types of a registry (help, asynchronous operations)
// during Initialize; the SDK's is RegisterBindingBuiltins (binding/builtin_types.h).
using BindingBuiltinRegistration = void (*)(BindingRegistry& registry);

class BindingRegistry {
 public:
  BindingRegistry();
  ~BindingRegistry();
  BindingRegistry(const BindingRegistry&) = delete;
  BindingRegistry& operator=(const BindingRegistry&) = delete;

  // --- Lifecycle ---

  // Shuts down first, then calls `registerBuiltins` (may be null), then
  // registers the event "OnCallback" once its payload type
  // "BindingCallbackEvent" is registered, and marks the registry initialised.
  // Initialising twice leaves exactly the builtin events and no functions.
  void Initialize(BindingBuiltinRegistration registerBuiltins);
  // When initialised: unregisters every event and every function and clears
  // the flag. Types stay.
  void Shutdown();
  [[nodiscard]] bool IsInitialized() const;

  // --- Types ---

  // Creates the record of a type, or refers to the existing record of that name
  // (the builder is then inert). The same key under another name is entered
  // by name only; the first name keeps the id. A key of another native type
  // whose id a registered type holds throws std::logic_error, naming both.
  [[nodiscard]] TypeBuilder BeginType(uint32_t size, std::string_view name, const TypeKey& key,
                                      bool isEnum);
  template <class T>
  requires BindingStructureType<T> || BindingEnumType<T>
  [[nodiscard]] NativeTypeBuilder<T> BeginType(std::string_view name) {
    return NativeTypeBuilder<T>(
        BeginType(static_cast<uint32_t>(sizeof(T)), name, TypeKeyOf<T>(), std::is_enum_v<T>));
  }

  // The type registered under this key; null when not registered.
  [[nodiscard]] const BindingTypeInfo* FindTypeById(const TypeKey& key) const;
  [[nodiscard]] const BindingTypeInfo* FindTypeByName(std::string_view name) const;
  // The name of the first enumerator, in name order, whose value is `value` in
  // the enumeration of `key`; none when the type or the value is not registered.
  [[nodiscard]] std::optional<std::string_view> EnumeratorName(const TypeKey& key,
                                                               int32_t value) const;
  // Whether `type` (may be null) has an enumerator of that value.
  [[nodiscard]] static bool IsEnumerator(const BindingTypeInfo* type, int32_t value);
  // Every type, in name order.
  [[nodiscard]] std::vector<const BindingTypeInfo*> AllTypes() const;

  // --- Functions ---

  // Enters a new function record under `name`, replacing (and destroying) a
  // record of the same name. Counts as a change. Never null.
  BindingFunctionInfo& RegisterFunction(std::string_view name,
                                        std::vector<BindingArgumentInfo> arguments);
  // Removes and destroys `function` with its invoker; counts as a change. A
  // record that is not registered here is ignored.
  void UnregisterFunction(const BindingFunctionInfo* function);
  [[nodiscard]] const BindingFunctionInfo* FindFunction(std::string_view name) const;
  [[nodiscard]] BindingFunctionInfo* FindFunction(std::string_view name);
  // Every function, in name order.
  [[nodiscard]] std::vector<const BindingFunctionInfo*> AllFunctions() const;
  // Incremented by every function registration and removal.
  [[nodiscard]] uint32_t ChangeCount() const;

  // --- Events ---

  // Creates the record of an event, or refers to the existing record of that
  // name (the builder is then inert). `payloadType` may be null.
  [[nodiscard]] EventBuilder BeginEvent(std::string_view name, const BindingTypeInfo* payloadType);
  // Removes and destroys the event of that name, if any.
  void UnregisterEvent(std::string_view name);
  [[nodiscard]] const BindingEventInfo* FindEvent(std::string_view name) const;
  // Every event, in name order.
  [[nodiscard]] std::vector<const BindingEventInfo*> AllEvents() const;

 private:
  template <class Record>
  using NameMap = std::map<std::string, std::unique_ptr<Record>, std::less<>>;

  mutable Platform::Lock lock_;
  NameMap<BindingTypeInfo> typesByName_;
  BindingInternal::TypeIdMap typesById_;
  NameMap<BindingFunctionInfo> functions_;
  NameMap<BindingEventInfo> events_;
  uint32_t changeCount_ = 0;
  bool initialized_ = false;
};

}  // namespace Tesk

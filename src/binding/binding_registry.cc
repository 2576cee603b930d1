#include "binding/binding_registry.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

namespace Tesk {

namespace {

using Guard = std::lock_guard<Platform::Lock>;

constexpr std::string_view kCallbackEventName = "OnCallback";
constexpr std::string_view kCallbackPayloadName = "BindingCallbackEvent";
constexpr std::string_view kCallbackDescription = "Fired when a callback is invoked.";
constexpr std::string_view kBuiltinTag = "$builtin";

template <class Record, class Map>
std::vector<const Record*> Snapshot(const Map& map) {
  std::vector<const Record*> records;
  records.reserve(map.size());
  for (const auto& [name, record] : map) records.push_back(record.get());
  return records;
}

}  // namespace

BindingRegistry::BindingRegistry() = default;
BindingRegistry::~BindingRegistry() = default;

// --- Lifecycle ---

void BindingRegistry::Initialize(BindingBuiltinRegistration registerBuiltins) {
  Shutdown();
  if (registerBuiltins != nullptr) registerBuiltins(*this);
  if (const BindingTypeInfo* payload = FindTypeByName(kCallbackPayloadName)) {
    EventBuilder event = BeginEvent(kCallbackEventName, payload);
    event.SetDescription(kCallbackDescription);
    event.AddTag(kBuiltinTag);
  }
  const Guard guard(lock_);
  initialized_ = true;
}

void BindingRegistry::Shutdown() {
  // Records are destroyed after the lock is released: an invoker's destructor
  // may call back into the registry.
  NameMap<BindingFunctionInfo> functions;
  NameMap<BindingEventInfo> events;
  {
    const Guard guard(lock_);
    if (!initialized_) return;
    changeCount_ += static_cast<uint32_t>(functions_.size());
    functions.swap(functions_);
    events.swap(events_);
    initialized_ = false;
  }
}

bool BindingRegistry::IsInitialized() const {
  const Guard guard(lock_);
  return initialized_;
}

// --- Types ---

TypeBuilder BindingRegistry::BeginType(uint32_t size, std::string_view name, const TypeKey& key,
                                       bool isEnum) {
  const Guard guard(lock_);
  if (const auto found = typesByName_.find(name); found != typesByName_.end()) {
    return TypeBuilder(found->second.get(), true);
  }
  // Another native type of the same id would be converted through this one's
  // record, its fields written at the other's offsets.
  const bool enteredById = key.id != TypeKeyOf<BindingNoRequestContext>().id;
  if (const BindingTypeInfo* holder = enteredById ? typesById_.Find(key.id) : nullptr;
      holder != nullptr && holder->typeKey != &key) {
    throw std::logic_error(std::string("Type '") + std::string(name) + "' (" + key.readableName +
                           ") has the id " + key.keyText + " of type '" + holder->name + "' (" +
                           holder->typeKey->readableName +
                           "); give one of them a distinct name or a fixed id");
  }
  auto record = std::make_unique<BindingTypeInfo>();
  record->size = size;
  record->isEnum = isEnum;
  record->name = name;
  record->id = key.id;
  record->typeKey = &key;
  record->owner = this;
  BindingTypeInfo* created = record.get();
  typesByName_.emplace(created->name, std::move(record));
  // The no-context key is never entered by id; one native type registered
  // under several names is found by id as the first of them.
  if (enteredById) typesById_.Insert(key.id, created);
  return TypeBuilder(created, false);
}

const BindingTypeInfo* BindingRegistry::FindTypeById(const TypeKey& key) const {
  const Guard guard(lock_);
  // Only the type of this very key: another type of the same id is not it.
  BindingTypeInfo* type = typesById_.Find(key.id);
  return type != nullptr && type->typeKey == &key ? type : nullptr;
}

const BindingTypeInfo* BindingRegistry::FindTypeByName(std::string_view name) const {
  const Guard guard(lock_);
  const auto found = typesByName_.find(name);
  return found != typesByName_.end() ? found->second.get() : nullptr;
}

std::optional<std::string_view> BindingRegistry::EnumeratorName(const TypeKey& key,
                                                                int32_t value) const {
  const BindingTypeInfo* type = FindTypeById(key);
  if (type == nullptr) return std::nullopt;
  const BindingEnumerator* enumerator = type->FindEnumeratorByValue(value);
  if (enumerator == nullptr) return std::nullopt;
  return std::string_view(enumerator->name);
}

bool BindingRegistry::IsEnumerator(const BindingTypeInfo* type, int32_t value) {
  return type != nullptr && type->FindEnumeratorByValue(value) != nullptr;
}

std::vector<const BindingTypeInfo*> BindingRegistry::AllTypes() const {
  const Guard guard(lock_);
  return Snapshot<BindingTypeInfo>(typesByName_);
}

// --- Functions ---

BindingFunctionInfo& BindingRegistry::RegisterFunction(std::string_view name,
                                                       std::vector<BindingArgumentInfo> arguments) {
  auto record = std::make_unique<BindingFunctionInfo>();
  record->name = name;
  record->arguments = std::move(arguments);
  BindingFunctionInfo& created = *record;
  std::unique_ptr<BindingFunctionInfo> replaced;
  {
    const Guard guard(lock_);
    std::unique_ptr<BindingFunctionInfo>& slot = functions_[created.name];
    replaced = std::move(slot);
    slot = std::move(record);
    ++changeCount_;
  }
  return created;
}

void BindingRegistry::UnregisterFunction(const BindingFunctionInfo* function) {
  if (function == nullptr) return;
  std::unique_ptr<BindingFunctionInfo> removed;
  {
    const Guard guard(lock_);
    const auto found = functions_.find(function->name);
    if (found == functions_.end() || found->second.get() != function) return;
    removed = std::move(found->second);
    functions_.erase(found);
    ++changeCount_;
  }
}

const BindingFunctionInfo* BindingRegistry::FindFunction(std::string_view name) const {
  const Guard guard(lock_);
  const auto found = functions_.find(name);
  return found != functions_.end() ? found->second.get() : nullptr;
}

BindingFunctionInfo* BindingRegistry::FindFunction(std::string_view name) {
  const Guard guard(lock_);
  const auto found = functions_.find(name);
  return found != functions_.end() ? found->second.get() : nullptr;
}

std::vector<const BindingFunctionInfo*> BindingRegistry::AllFunctions() const {
  const Guard guard(lock_);
  return Snapshot<BindingFunctionInfo>(functions_);
}

uint32_t BindingRegistry::ChangeCount() const {
  const Guard guard(lock_);
  return changeCount_;
}

// --- Events ---

EventBuilder BindingRegistry::BeginEvent(std::string_view name,
                                         const BindingTypeInfo* payloadType) {
  const Guard guard(lock_);
  if (const auto found = events_.find(name); found != events_.end()) {
    return EventBuilder(found->second.get(), true);
  }
  auto record = std::make_unique<BindingEventInfo>();
  record->name = name;
  record->payloadType = payloadType;
  BindingEventInfo* created = record.get();
  events_.emplace(created->name, std::move(record));
  return EventBuilder(created, false);
}

void BindingRegistry::UnregisterEvent(std::string_view name) {
  std::unique_ptr<BindingEventInfo> removed;
  const Guard guard(lock_);
  const auto found = events_.find(name);
  if (found == events_.end()) return;
  removed = std::move(found->second);
  events_.erase(found);
}

const BindingEventInfo* BindingRegistry::FindEvent(std::string_view name) const {
  const Guard guard(lock_);
  const auto found = events_.find(name);
  return found != events_.end() ? found->second.get() : nullptr;
}

std::vector<const BindingEventInfo*> BindingRegistry::AllEvents() const {
  const Guard guard(lock_);
  return Snapshot<BindingEventInfo>(events_);
}

}  // namespace Tesk

// The registry's maps from several threads at once: registrations and lookups
// of types, functions and events, and conversions that consult the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/conversion.h"

namespace Tesk {
namespace {

constexpr int kThreads = 4;
constexpr int kTypesPerThread = 8;
constexpr int kRounds = 50;

template <int N>
struct Probe {
  int32_t value = N;
};

struct Shared {
  uint32_t id = 0;
  std::vector<std::string> names;
};

template <int Thread, int... I>
void RegisterProbes(BindingRegistry& registry, std::integer_sequence<int, I...>) {
  (registry
       .BeginType<Probe<Thread * kTypesPerThread + I>>("Probe" +
                                                       std::to_string(Thread * kTypesPerThread + I))
       .Field("value", &Probe<Thread * kTypesPerThread + I>::value),
   ...);
}

template <int Thread>
void RegisterThreadTypes(BindingRegistry& registry) {
  RegisterProbes<Thread>(registry, std::make_integer_sequence<int, kTypesPerThread>());
}

using Registration = void (*)(BindingRegistry&);
constexpr Registration kRegistrations[kThreads] = {&RegisterThreadTypes<0>, &RegisterThreadTypes<1>,
                                                   &RegisterThreadTypes<2>,
                                                   &RegisterThreadTypes<3>};

TEST(BindingRegistryConcurrency, TypesFunctionsAndEventsFromManyThreads) {
  BindingRegistry registry;
  std::atomic<int> sharedCreated{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&registry, &sharedCreated, t] {
      // Everyone registers the same type: exactly one creates it.
      auto shared = registry.BeginType<Shared>("Shared");
      if (!shared.IsExisting()) {
        ++sharedCreated;
        shared.Field("id", &Shared::id);
        shared.Field("names", &Shared::names);
      }
      kRegistrations[t](registry);
      for (int round = 0; round < kRounds; ++round) {
        const std::string function = "F" + std::to_string(t) + "_" + std::to_string(round);
        BindingFunctionInfo& record = registry.RegisterFunction(function, {});
        record.description = function;
        (void)registry.BeginEvent("E" + std::to_string(t), nullptr);
        // Look up what other threads may be adding or removing right now.
        const int other = (t + 1) % kThreads;
        (void)registry.FindFunction("F" + std::to_string(other) + "_" + std::to_string(round));
        (void)registry.FindTypeByName("Probe" + std::to_string(other * kTypesPerThread));
        (void)registry.AllFunctions();
        (void)registry.AllTypes();
        (void)registry.AllEvents();
        (void)registry.ChangeCount();
        registry.UnregisterFunction(&record);
        registry.UnregisterEvent("E" + std::to_string(t));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(sharedCreated.load(), 1);
  EXPECT_EQ(registry.AllTypes().size(), 1u + kThreads * kTypesPerThread);
  EXPECT_EQ(registry.FindTypeById(TypeKeyOf<Probe<kThreads * kTypesPerThread - 1>>())->name,
            "Probe" + std::to_string(kThreads * kTypesPerThread - 1));
  EXPECT_TRUE(registry.AllFunctions().empty());
  EXPECT_TRUE(registry.AllEvents().empty());
  EXPECT_EQ(registry.ChangeCount(), 2u * kThreads * kRounds);
}

TEST(BindingRegistryConcurrency, ConversionsShareTheRegistry) {
  BindingRegistry registry;
  auto shared = registry.BeginType<Shared>("Shared");
  shared.Field("id", &Shared::id);
  shared.Field("names", &Shared::names);

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&registry, &failures, t] {
      for (int round = 0; round < kRounds; ++round) {
        Shared native;
        native.id = static_cast<uint32_t>(t * 1000 + round);
        native.names = {"a", std::to_string(round)};
        BindingResult written;
        ToBinding(written, native, &registry);
        Shared read;
        BindingResult result;
        FromBinding(result, read, written.value, "shared", &registry);
        if (!written.ok || !result.ok || read.id != native.id || read.names != native.names) {
          ++failures;
        }
        // Registrations of other types go on meanwhile.
        (void)registry.BeginType(4, "Other" + std::to_string(t) + "_" + std::to_string(round),
                                 TypeKeyOf<Probe<-1>>(), false);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace Tesk

// Windows event tracing: the system's provider functions, resolved at run time so
// that the plug-in loads even where they are missing.
#include "platform/event_trace.h"

#include <windows.h>

namespace Tesk::Platform {
namespace {

// Through void(*)(), which converts to any function pointer type without a warning.
template <typename Function>
Function Resolve(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

EventTraceFunctions ResolveEventTraceFunctions() {
  EventTraceFunctions functions{};
  // Kept loaded for the life of the process: providers may be called until unload.
  HMODULE library = LoadLibraryW(L"Advapi32.dll");
  if (library == nullptr) return functions;
  functions.registerProvider = Resolve<TraceRegisterFunction>(library, "EventRegister");
  functions.writeEvent = Resolve<TraceWriteFunction>(library, "EventWrite");
  functions.unregisterProvider = Resolve<TraceUnregisterFunction>(library, "EventUnregister");
  return functions;
}

}  // namespace

const EventTraceFunctions& LoadEventTraceFunctions() {
  static const EventTraceFunctions functions = ResolveEventTraceFunctions();
  return functions;
}

}  // namespace Tesk::Platform

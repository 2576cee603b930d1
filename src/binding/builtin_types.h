// The builtin types every registry carries: the help structures and formats,
// and the asynchronous and callback vocabulary. A registry gets them, and the
// event "OnCallback" with them, by being initialised with this registration:
//   registry.Initialize(&RegisterBindingBuiltins);
#pragma once

#include "binding/binding_async_types.h"
#include "binding/binding_help_types.h"

namespace Tesk {

class BindingRegistry;

// Registers, in this order: BindingHelpFormat and the eight help structures,
// each tagged "$builtin" and "help"; then BindingAsyncState and the five event
// payload structures, tagged "$builtin" (and "async" for the asynchronous
// ones). Member types are registered before the structures that hold them.
// Registering again changes nothing (existing names leave their builders
// inert). A BindingBuiltinRegistration.
void RegisterBindingBuiltins(BindingRegistry& registry);

}  // namespace Tesk

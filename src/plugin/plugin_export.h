// KTX_PLUGIN_EXPORT: marks a plug-in library's one export, the load function
// the host calls by name (see ktx_add_plugin in cmake/KtxPluginLibrary.cmake):
//
//   KTX_PLUGIN_EXPORT void KTX_HOST_CALL load_hello(Tesk::PluginLoadInfo* info) {
//     Tesk::LoadPlugin<HelloPlugin>(info, "hello");
//   }
//
// extern "C" and undecorated; every other symbol of the library stays hidden.
#pragma once

#include "host-abi/host_call.h"
#include "host-abi/plugin_records.h"

#if defined(_WIN32)
#define KTX_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define KTX_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

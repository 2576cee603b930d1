// The records of the load handshake and the entry points: PluginLoadInfo,
// PluginEntryPoints, HostServices and MemoryStatistics.
#pragma once

#include "host-abi/api_description.h"
#include "host-abi/core_interface.h"

namespace Tesk {

// The host's function table: the header of the API description, whose
// function records are FunctionTableRecords. Null pointers with zero counts
// describe a plug-in without functions, types or events.
using FunctionTable = ApiDescriptionHeader;

struct MemoryStatistics;
struct HostServices;

#pragma pack(push, 1)
// The table of entry points the host calls; it lives inside the plug-in object.
struct PluginEntryPoints {
  uint8_t(KTX_HOST_CALL* initialize)(void* plugin, HostServices* services);       // +0
  void(KTX_HOST_CALL* shutdown)(void* plugin);                                    // +4
  void(KTX_HOST_CALL* getMemoryStatistics)(void* plugin, MemoryStatistics* out);  // +8
};

// Passed to Initialize; the host keeps it alive until Shutdown returns.
struct HostServices {
  CoreInterface* core;    // +0
  uint32_t pluginHandle;  // +4, opaque, passed back to the host
};

struct MemoryStatistics {
  uint64_t peakLiveBytes;     // +0
  uint64_t liveBlocksAtPeak;  // +8
  uint64_t bytesAllocated;    // +16
  uint64_t allocations;       // +24
  uint64_t bytesFreed;        // +32
  uint64_t frees;             // +40
  uint64_t reserved;          // +48, always zero
};

// The load record: the host writes words 0 to 2, the plug-in all seven.
struct PluginLoadInfo {
  uint32_t apiMajor;               // +0
  uint32_t apiMinor;               // +4
  uint32_t apiPatch;               // +8
  PluginEntryPoints* entryPoints;  // +12
  void* plugin;                    // +16
  const char* shortName;           // +20
  FunctionTable* functionTable;    // +24
};

#pragma pack(pop)

KTX_RECORD_OFFSET(PluginEntryPoints, getMemoryStatistics, 8);
KTX_RECORD_SIZE(PluginEntryPoints, 12);
KTX_RECORD_OFFSET(HostServices, pluginHandle, 4);
KTX_RECORD_SIZE(HostServices, 8);
KTX_RECORD_OFFSET(MemoryStatistics, bytesAllocated, 16);
KTX_RECORD_OFFSET(MemoryStatistics, frees, 40);
KTX_RECORD_SIZE(MemoryStatistics, 56);
KTX_RECORD_OFFSET(PluginLoadInfo, entryPoints, 12);
KTX_RECORD_OFFSET(PluginLoadInfo, plugin, 16);
KTX_RECORD_OFFSET(PluginLoadInfo, shortName, 20);
KTX_RECORD_OFFSET(PluginLoadInfo, functionTable, 24);
KTX_RECORD_SIZE(PluginLoadInfo, 28);

// The one export: load_<short name with "-" as "_">.
using PluginLoadFunction = void(KTX_HOST_CALL*)(PluginLoadInfo* info);

}  // namespace Tesk

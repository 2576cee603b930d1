// The plug-in's global allocation operators: every C++ allocation of the
// plug-in goes through the SDK allocator, so the host sees it in the plug-in's
// memory statistics. Over-aligned forms are left to the runtime library.
// Part of every plug-in shared library (ktx_plugin_runtime), never of the
// static libraries that tests link.
#include <cstddef>
#include <new>

#include "diagnostics/sdk_allocator.h"

namespace {

void* AllocateOrThrow(std::size_t size) {
  if (size == 0) size = 1;
  void* block = Tesk::Memory::Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateOrNull(std::size_t size) noexcept {
  return Tesk::Memory::Allocate(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size);
}
void operator delete(void* block) noexcept { Tesk::Memory::Free(block); }
void operator delete[](void* block) noexcept { Tesk::Memory::Free(block); }
void operator delete(void* block, std::size_t) noexcept { Tesk::Memory::Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Tesk::Memory::Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Tesk::Memory::Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Tesk::Memory::Free(block); }

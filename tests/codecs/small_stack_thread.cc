#include "codecs/small_stack_thread.h"

// std::thread cannot choose a stack size; POSIX threads can, on Linux and in
// the posix thread model of mingw-w64 alike.
#include <pthread.h>

namespace Tesk::Testing {
namespace {

void* RunWork(void* work) {
  (*static_cast<const std::function<void()>*>(work))();
  return nullptr;
}

}  // namespace

bool RunOnSmallStack(size_t stackBytes, const std::function<void()>& work) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_t thread;
  const bool started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                       pthread_create(&thread, &attributes, RunWork,
                                      const_cast<void*>(static_cast<const void*>(&work))) == 0;
  pthread_attr_destroy(&attributes);
  if (started) pthread_join(thread, nullptr);
  return started;
}

}  // namespace Tesk::Testing

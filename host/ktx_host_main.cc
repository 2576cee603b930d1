// ktx-host: runs a plug-in outside the platform's host. Loads the plug-in by
// path, initialises it, runs its scheduled callbacks, and shuts it down on
// SIGINT or SIGTERM (or at once with --once).
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "plugin_session.h"

namespace {

std::string DefaultPluginPath(const char* argv0) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : argv0;
  path.resize(path.find_last_of('/') + 1);
  return path + "ktx-be-tav-personalized-offers.so";
}

void PrintMemory(const Tesk::MemoryStatistics& s) {
  std::printf("Plug-in memory: %llu allocations, %llu bytes live, peak %llu bytes\n",
              static_cast<unsigned long long>(s.allocations),
              static_cast<unsigned long long>(s.bytesAllocated - s.bytesFreed),
              static_cast<unsigned long long>(s.peakLiveBytes));
}

}  // namespace

int main(int argc, char** argv) {
  bool once = false;
  std::string pluginPath;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--once") == 0) {
      once = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: %s [--once] [plugin.so]\n", argv[0]);
      return 0;
    } else {
      pluginPath = argv[i];
    }
  }
  if (pluginPath.empty()) pluginPath = DefaultPluginPath(argv[0]);

  // Signals are taken synchronously by the main loop, never by a handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  Tesk::DevHost::PluginSession session;
  if (!session.Start(pluginPath)) {
    std::fprintf(stderr, "ktx-host: %s: %s\n", pluginPath.c_str(), session.Error().c_str());
    return 1;
  }
  PrintMemory(session.ReadMemoryStatistics());
  if (!once) std::printf("Running; press Ctrl+C to stop\n");
  std::fflush(stdout);
  while (!once) {
    const auto wait = session.RunDueCallbacks().value_or(std::chrono::milliseconds(1000));
    timespec timeout{static_cast<time_t>(wait.count() / 1000),
                     static_cast<long>(wait.count() % 1000) * 1000000};
    const int signal = sigtimedwait(&stopSignals, nullptr, &timeout);
    if (signal == SIGINT || signal == SIGTERM) break;
  }
  session.Stop();
  return 0;
}

// ktx-host: runs a plug-in outside the platform's host (see --help).
#include <signal.h>

#include <cstdio>
#include <string>

#include "app/dev_host.h"
#include "app/host_options.h"
#include "platform/trace_session.h"
#include "session/http_client.h"

int main(int argc, char** argv) {
  Tesk::DevHost::HostOptions options;
  std::string message;
  switch (Tesk::DevHost::ParseOptions(argc, argv, options, message)) {
    case Tesk::DevHost::OptionsOutcome::Help:
      std::fputs(Tesk::DevHost::HelpText(argv[0]).c_str(), stdout);
      return 0;
    case Tesk::DevHost::OptionsOutcome::Error:
      std::fprintf(stderr, "ktx-host: %s\n", message.c_str());
      return 2;
    case Tesk::DevHost::OptionsOutcome::Run:
      break;
  }

  // Blocked before any thread starts, so every thread inherits the mask and
  // the stop signals are taken here alone, synchronously.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A client that goes away mid-answer must not end the process.
  signal(SIGPIPE, SIG_IGN);

  // Exported for the plug-in's tracing providers (see CMakeLists.txt).
  (void)ktx_trace_service();
  const bool once = options.once;
  const Tesk::DevHost::CurlGlobal curl;
  Tesk::DevHost::DevHost host(std::move(options));
  std::string error;
  if (!host.Start(error)) {
    std::fprintf(stderr, "ktx-host: %s\n", error.c_str());
    host.Stop();
    return 1;
  }
  std::fputs(host.Banner().c_str(), stdout);
  if (!once) std::fputs("Running; press Ctrl+C to stop.\n", stdout);
  std::fflush(stdout);
  int signal = 0;
  if (!once) sigwait(&stopSignals, &signal);
  host.Stop();
  std::fputs("ktx-host: stopped\n", stdout);
  return 0;
}

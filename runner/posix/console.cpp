// Console control handling on Linux: SIGINT, SIGHUP and SIGTERM trigger the interrupt pin
// instead of ending the runner. A signal handler may do almost nothing, so it only writes the
// signal's number into a pipe; a thread of its own reads the pipe and handles the event.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "runner/console.h"

namespace {

int g_signal_pipe[2] = {-1, -1};

uint32_t EventFor(int signal_number) {
  switch (signal_number) {
    case SIGINT: return kConsoleCtrlC;
    case SIGHUP: return kConsoleClose;
    default: return kConsoleShutdown;
  }
}

void OnSignal(int signal_number) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signal_number);
  // A full pipe holds enough pending signals already.
  ssize_t written = write(g_signal_pipe[1], &byte, 1);
  (void)written;
  errno = saved;
}

void* SignalReader(void*) {
  for (;;) {
    unsigned char byte;
    ssize_t n = read(g_signal_pipe[0], &byte, 1);
    if (n == 1) {
      console_control_event(EventFor(byte));
    } else if (n == 0 || errno != EINTR) {
      return nullptr;
    }
  }
}

}  // namespace

void os_console_install() {
  if (pipe2(g_signal_pipe, O_CLOEXEC) != 0) return;
  fcntl(g_signal_pipe[1], F_SETFL, O_NONBLOCK);
  // The reader is no runtime thread: it blocks on the pipe for the life of the process.
  pthread_t reader;
  if (pthread_create(&reader, nullptr, SignalReader, nullptr) != 0) {
    close(g_signal_pipe[0]);
    close(g_signal_pipe[1]);
    return;  // the signals keep their default actions
  }
  pthread_detach(reader);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

void os_console_interrupted() {}

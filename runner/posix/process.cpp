// The child process over posix_spawn. The child gets the argument vector as given, the three
// standard handles as its descriptors 0, 1 and 2 (the null device for unset ones) and nothing
// else; a pidfd (called directly: the C library's declarations of it are not usable from C++
// everywhere), where the kernel has them, lets a wait include a wake-up and a time-out.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "base/file_internal.h"
#include "base/text.h"
#include "runner/process_os.h"

extern char** environ;

namespace {

int AsDescriptor(file_handle_t handle) { return static_cast<int>(handle); }

// A close-on-exec copy at descriptor 3 or above, so it never lands on a standard one.
int DuplicateHigh(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 3); }

err_t SpawnError(int error_number, const char* path) {
  if (error_number == ENOEXEC) return kErrBadExeFormat;
  return path_errno_to_error(error_number, path);
}

// The program gets the execute bits that match its read bits, as a file extracted from an
// image carries none. A failure is left for the spawn to report.
void GiveExecuteBit(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return;
  mode_t wanted = st.st_mode | S_IXUSR | ((st.st_mode & (S_IRGRP | S_IROTH)) >> 2);
  if (wanted != st.st_mode) chmod(path, wanted & 07777);
}

char* NativeUtf8(malloc_i* pool, const char16_t* path) {
  char16_t* native;
  if (native_path(pool, path, &native) != kOk) return nullptr;
  return Utf16ToUtf8Pool(pool, native, -1);
}

// A null-terminated UTF-8 copy of a null-terminated list, or null when the pool fails.
char** Utf8List(malloc_i* pool, const char16_t* const* list) {
  size_t count = 0;
  while (list[count]) ++count;
  auto* out = static_cast<char**>(pool->Allocate((count + 1) * sizeof(char*)));
  if (!out) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (!(out[i] = Utf16ToUtf8Pool(pool, list[i], -1))) return nullptr;
  }
  return out;
}

// Unset standard handles become the null device; the child finds the three at 0, 1 and 2 and
// every other descriptor closed.
err_t PlanDescriptors(child_process_t* child, posix_spawn_file_actions_t* actions) {
  for (int stream = 0; stream < 3; ++stream) {
    file_handle_t& handle = child->std_handles[stream];
    if (handle == kNoHandle) {
      int fd = open("/dev/null", O_RDWR | O_CLOEXEC | O_NOCTTY);
      int high = fd < 0 ? -1 : DuplicateHigh(fd);
      if (fd >= 0) close(fd);
      if (high < 0) return errno_to_error(errno);
      handle = high;
    }
    int error = posix_spawn_file_actions_adddup2(actions, AsDescriptor(handle), stream);
    if (error != 0) return errno_to_error(error);
  }
  int error = posix_spawn_file_actions_addclosefrom_np(actions, 3);
  return error == 0 ? kOk : errno_to_error(error);
}

// The child starts with no signal blocked and the default action for the signals the runner
// handles or ignores.
void PlanSignals(posix_spawnattr_t* attributes) {
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD}) {
    sigaddset(&defaults, signal_number);
  }
  posix_spawnattr_setsigmask(attributes, &none);
  posix_spawnattr_setsigdefault(attributes, &defaults);
  posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

// An ignored SIGCHLD, inherited from whoever started this process, has the system reap
// children unasked, and waitpid then has no exit code to give: take the default back first.
void ReapOwnChildren() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);
}

err_t Spawn(child_process_t* child, malloc_i* pool, const char* path, char** argv) {
  char** environment = environ;
  if (child->environment.entries) {
    environment = Utf8List(pool, child->environment.entries);
    if (!environment) return kErrOutOfMemory;
  }
  const char* directory = nullptr;
  if (child->directory && !(directory = NativeUtf8(pool, child->directory))) {
    return kErrInvalidParameter;
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  PlanSignals(&attributes);
  err_t e = PlanDescriptors(child, &actions);
  if (e == kOk && directory) {
    int error = posix_spawn_file_actions_addchdir_np(&actions, directory);
    if (error != 0) e = errno_to_error(error);
  }
  pid_t pid = 0;
  if (e == kOk) {
    int error = posix_spawn(&pid, path, &actions, &attributes, argv, environment);
    if (error != 0) e = SpawnError(error, path);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (e != kOk) return e;
  child->process_id = static_cast<uint32_t>(pid);
  // The pid stays ours until it is reaped, so opening its pidfd now cannot race.
  int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
  child->process_handle = pidfd >= 0 ? pidfd : kNoHandle;
  return kOk;
}

// Collects the child's end without blocking; true when it has ended.
bool Reap(child_process_t* child) {
  light_guard_c guard(child->reap_lock);
  if (child->ended.load(std::memory_order_acquire)) return true;
  int status = 0;
  pid_t result = waitpid(static_cast<pid_t>(child->process_id), &status, WNOHANG);
  if (result == 0 || (result < 0 && errno == EINTR)) return false;
  if (result > 0 && WIFEXITED(status)) {
    child->exit_code = static_cast<uint32_t>(WEXITSTATUS(status));
  } else if (result > 0 && WIFSIGNALED(status)) {
    int signal_number = WTERMSIG(status);
    bool by_kill = child->killed && signal_number == SIGKILL;
    child->exit_code = by_kill ? kKilledExitCode : static_cast<uint32_t>(128 + signal_number);
  }
  // Otherwise the child is gone without a status to read (somebody else collected it).
  child->ended.store(true, std::memory_order_release);
  return true;
}

int WakeDescriptor(os_wake_t* wake) {
  return static_cast<int>(reinterpret_cast<intptr_t>(wake)) - 1;
}

// Polls the descriptors (the unused ones are -1) for up to timeout_ms; a signal ends it early.
void PollFor(int first, int second, uint32_t timeout_ms) {
  pollfd fds[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
  poll(fds, 2, timeout_ms == kWaitForever ? -1 : static_cast<int>(timeout_ms));
}

bool WakeIsSet(os_wake_t* wake) {
  if (!wake) return false;
  pollfd fd = {WakeDescriptor(wake), POLLIN, 0};
  return poll(&fd, 1, 0) == 1;
}

constexpr uint32_t kPollStepMs = 50;

// Without a pidfd: look, then sleep on the wake-up in short steps.
bool WaitByPolling(child_process_t* child, os_wake_t* wake, uint32_t timeout_ms) {
  uint64_t deadline = monotonic_ms() + timeout_ms;
  for (;;) {
    if (Reap(child)) return true;
    uint64_t now = monotonic_ms();
    if (WakeIsSet(wake) || (timeout_ms != kWaitForever && now >= deadline)) return false;
    uint32_t step = kPollStepMs;
    if (timeout_ms != kWaitForever && deadline - now < step) step = uint32_t(deadline - now);
    PollFor(wake ? WakeDescriptor(wake) : -1, -1, step);
  }
}

}  // namespace

file_handle_t current_standard_handle(int stream) { return stream; }

err_t os_duplicate_standard_handle(file_handle_t handle, int stream, file_handle_t* copy) {
  *copy = kNoHandle;
  if (handle < 0) return kOk;
  int fd = DuplicateHigh(AsDescriptor(handle));
  if (fd >= 0) {
    *copy = fd;
    return kOk;
  }
  return handle == stream ? kOk : errno_to_error(errno);
}

char16_t os_search_path_separator() { return u':'; }

err_t os_launch_child(child_process_t* child, const char16_t* program, const char16_t* const* argv,
                      char16_t* command_line) {
  // Another user's credentials take a log-on service this flavour does not have.
  if (child->user) return kErrNotSupported;
  kd_mp_c pool;
  const char* path = NativeUtf8(&pool, program);
  char** arguments = Utf8List(&pool, argv);
  if (!path || !arguments) return kErrOutOfMemory;
  GiveExecuteBit(path);
  ReapOwnChildren();
  return Spawn(child, &pool, path, arguments);
}

os_wake_t* os_wake_create() {
  int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Stored off by one, so descriptor 0 is not mistaken for none.
  return fd < 0 ? nullptr : reinterpret_cast<os_wake_t*>(intptr_t(fd) + 1);
}

void os_wake_set(os_wake_t* wake) {
  uint64_t one = 1;
  ssize_t written = write(WakeDescriptor(wake), &one, sizeof one);
  (void)written;  // a full counter is set already
}

void os_wake_destroy(os_wake_t* wake) { close(WakeDescriptor(wake)); }

bool os_wait_child(child_process_t* child, os_wake_t* wake, uint32_t timeout_ms) {
  if (Reap(child)) return true;
  if (child->process_handle == kNoHandle) return WaitByPolling(child, wake, timeout_ms);
  if (timeout_ms > 0) {
    PollFor(AsDescriptor(child->process_handle), wake ? WakeDescriptor(wake) : -1, timeout_ms);
  }
  return Reap(child);
}

void os_kill_child(child_process_t* child) {
  light_guard_c guard(child->reap_lock);
  if (child->ended.load(std::memory_order_acquire)) return;
  child->killed = true;
  if (child->process_handle != kNoHandle) {
    syscall(SYS_pidfd_send_signal, AsDescriptor(child->process_handle), SIGKILL, nullptr, 0);
  } else {
    kill(static_cast<pid_t>(child->process_id), SIGKILL);
  }
}

void os_close_child(child_process_t* child) {
  // A child that has ended by now leaves no zombie behind.
  if (child->process_id != 0) Reap(child);
  if (child->process_handle != kNoHandle) close(AsDescriptor(child->process_handle));
  child->process_handle = kNoHandle;
}

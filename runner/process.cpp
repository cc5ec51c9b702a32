#include "runner/process.h"

#include "base/folders.h"
#include "base/text.h"
#include "runner/process_os.h"

namespace {

// ---- Text helpers ----

char16_t* CopyText(malloc_i* pool, const char16_t* text, size_t length) {
  auto* copy = static_cast<char16_t*>(pool->Allocate((length + 1) * sizeof(char16_t)));
  if (!copy) return nullptr;
  for (size_t i = 0; i < length; ++i) copy[i] = text[i];
  return copy;
}

char16_t* CopyText(malloc_i* pool, const char16_t* text) {
  return CopyText(pool, text, Utf16Length(text));
}

bool IsEmpty(const char16_t* text) { return !text || !*text; }

// Where a character is, or null.
const char16_t* FindChar(const char16_t* text, char16_t c) {
  for (; *text; ++text) {
    if (*text == c) return text;
  }
  return nullptr;
}

// ---- Command line ----

// Writes at out (when not null) and counts: a line is measured with out null, then written.
struct LineWriter {
  char16_t* out;
  size_t length = 0;

  void Put(char16_t c, size_t times = 1) {
    for (size_t i = 0; i < times; ++i) {
      if (out) out[length] = c;
      ++length;
    }
  }
  void Put(const char16_t* text) {
    for (; *text; ++text) Put(*text);
  }
};

// The line `write` makes, in memory from the pool (zero-filled: terminated); null when the
// pool fails.
template <typename Write>
char16_t* MakeLine(malloc_i* pool, Write write) {
  LineWriter measure{nullptr};
  write(measure);
  auto* line = static_cast<char16_t*>(pool->Allocate((measure.length + 1) * sizeof(char16_t)));
  if (!line) return nullptr;
  LineWriter writer{line};
  write(writer);
  return line;
}

bool NeedsQuotes(const char16_t* argument) {
  if (!*argument) return true;
  // The Windows parser splits at tabs as it does at spaces.
  return FindChar(argument, u' ') || FindChar(argument, u'\t');
}

// One argument for the standard parser. Backslashes are literal unless a quote follows them:
// n of them before a quote become 2n + 1, and n at the end of a quoted argument become 2n, so
// the closing quote stays a quote.
void QuoteArgument(LineWriter& line, const char16_t* argument) {
  bool quoted = NeedsQuotes(argument);
  if (quoted) line.Put(u'"');
  size_t backslashes = 0;
  for (const char16_t* c = argument; *c; ++c) {
    if (*c == u'"') line.Put(u'\\', backslashes + 1);
    line.Put(*c);
    backslashes = *c == u'\\' ? backslashes + 1 : 0;
  }
  if (quoted) {
    line.Put(u'\\', backslashes);
    line.Put(u'"');
  }
}

// Argument 0 is parsed by the program-name rule: quotes group it and nothing is escaped, so its
// backslashes stay as they are, a trailing one included.
void WriteCommandLine(LineWriter& line, const char16_t* const* argv, const char16_t* program) {
  const char16_t* first = program ? program : argv[0];
  if (!first) return;
  line.Put(u'"');
  line.Put(first);
  line.Put(u'"');
  for (size_t i = 1; argv[0] && argv[i]; ++i) {
    line.Put(u' ');
    QuoteArgument(line, argv[i]);
  }
}

// What cmd.exe acts on even inside double quotes: a quote ends them, % and ! expand
// variables, and control characters (line breaks among them) end or split the command.
bool HasBatchSpecial(const char16_t* text) {
  for (; *text; ++text) {
    if (*text == u'"' || *text == u'%' || *text == u'!' || *text < 0x20 || *text == 0x7F) {
      return true;
    }
  }
  return false;
}

// With /s cmd.exe drops the first and the last quote after /c and runs what is between.
void WriteBatchLine(LineWriter& line, const char16_t* interpreter, const char16_t* program,
                    const char16_t* const* argv) {
  line.Put(u'"');
  line.Put(interpreter);
  line.Put(u"\" /d /s /c \"\"");
  line.Put(program);
  line.Put(u'"');
  for (size_t i = 1; argv[0] && argv[i]; ++i) {
    line.Put(u" \"");
    line.Put(argv[i]);
    line.Put(u'"');
  }
  line.Put(u'"');
}

const char16_t* const kNoArguments[] = {nullptr};

// ---- Environment ----

// Names run to the first '=' after their first character.
size_t NameLength(const char16_t* entry) {
  if (!*entry) return 0;
  size_t i = 1;
  while (entry[i] && entry[i] != u'=') ++i;
  return i;
}

int CompareNames(const char16_t* a, const char16_t* b) {
  return AsciiCompareNoCase(a, ptrdiff_t(NameLength(a)), b, ptrdiff_t(NameLength(b)));
}

// The first position whose name is not below entry's; *found tells whether it is equal.
size_t FindName(const environment_t* environment, const char16_t* entry, bool* found) {
  size_t low = 0, high = environment->count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    if (CompareNames(environment->entries[middle], entry) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  *found = low < environment->count && CompareNames(environment->entries[low], entry) == 0;
  return low;
}

err_t Grow(malloc_i* pool, environment_t* environment) {
  size_t count = environment->count;
  size_t capacity = count + count / 2 + 5;
  auto* entries = static_cast<char16_t**>(pool->Allocate((capacity + 1) * sizeof(char16_t*)));
  if (!entries) return kErrOutOfMemory;
  for (size_t i = 0; i < count; ++i) entries[i] = environment->entries[i];
  environment->entries = entries;
  environment->capacity = capacity;
  return kOk;
}

char16_t* MakeEntry(malloc_i* pool, const char16_t* name, const char16_t* value) {
  size_t name_length = Utf16Length(name), value_length = Utf16Length(value);
  bool has_equals = NameLength(name) < name_length;
  size_t length = name_length + (has_equals ? 0 : 1) + value_length;
  auto* entry = static_cast<char16_t*>(pool->Allocate((length + 1) * sizeof(char16_t)));
  if (!entry) return nullptr;
  char16_t* at = entry;
  for (size_t i = 0; i < name_length; ++i) *at++ = name[i];
  if (!has_equals) *at++ = u'=';
  for (size_t i = 0; i < value_length; ++i) *at++ = value[i];
  return entry;  // zero-filled: terminated
}

// ---- Credentials ----

// Where the logon name splits: the first backslash, else the first slash, else the first at.
const char16_t* LogonSeparator(const char16_t* logon) {
  if (const char16_t* c = FindChar(logon, u'\\')) return c;
  if (const char16_t* c = FindChar(logon, u'/')) return c;
  return FindChar(logon, u'@');
}

// ---- The object ----

child_process_t* Child(process_t* process) { return static_cast<child_process_t*>(process); }

bool HasError(child_process_t* child) { return child->error != kOk; }

void Record(child_process_t* child, err_t error) {
  if (child->error == kOk) child->error = error;
}

void CloseStandardHandles(child_process_t* child) {
  for (file_handle_t& handle : child->std_handles) {
    close_handle(handle);
    handle = kNoHandle;
  }
}

void AddRef(process_t* process) {
  Child(process)->references.fetch_add(1, std::memory_order_relaxed);
}

void Release(process_t* process) {
  child_process_t* child = Child(process);
  if (child->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (child->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  CloseStandardHandles(child);
  os_close_child(child);
  child->~child_process_t();
  HeapFree(child);
}

void SetNoWindow(process_t* process, bool no_window) { Child(process)->no_window = no_window; }

void PutVariable(child_process_t* child, const char16_t* name, const char16_t* value) {
  err_t e = environment_put(&child->pool, &child->environment, name, value);
  // A pool failure is reported by launch, which checks the pool.
  if (e == kErrInvalidParameter) Record(child, e);
}

void SetEnvironment(process_t* process, const char16_t* const* strings) {
  child_process_t* child = Child(process);
  if (HasError(child)) return;
  if (environment_clear(&child->pool, &child->environment) != kOk) return;
  for (size_t i = 0; strings && strings[i]; ++i) PutVariable(child, strings[i], nullptr);
}

void SetEnvironmentVariable(process_t* process, const char16_t* name, const char16_t* value) {
  child_process_t* child = Child(process);
  if (HasError(child)) return;
  if (!child->environment.entries) {
    SetEnvironment(process, environment_snapshot().utf16);
  }
  PutVariable(child, name, value);
}

void SetDirectory(process_t* process, const char16_t* path) {
  child_process_t* child = Child(process);
  if (HasError(child)) return;
  child->directory = nullptr;
  if (IsEmpty(path)) return;
  child->directory = full_path(&child->pool, nullptr, path);
  if (!child->directory) Record(child, kErrInvalidParameter);
}

void SetStandardHandle(child_process_t* child, int stream, file_handle_t handle) {
  file_handle_t copy = kNoHandle;
  if (!HasError(child)) {
    err_t e = os_duplicate_standard_handle(handle, stream, &copy);
    if (e != kOk) Record(child, e);
  }
  close_handle(child->std_handles[stream]);
  child->std_handles[stream] = copy;
}

void SetStdin(process_t* process, file_handle_t handle) {
  SetStandardHandle(Child(process), kStdInput, handle);
}
void SetStdout(process_t* process, file_handle_t handle) {
  SetStandardHandle(Child(process), kStdOutput, handle);
}
void SetStderr(process_t* process, file_handle_t handle) {
  SetStandardHandle(Child(process), kStdError, handle);
}

void SetLogon(process_t* process, const char16_t* user, const char16_t* password) {
  child_process_t* child = Child(process);
  child->user = child->domain = child->password = nullptr;
  if (IsEmpty(user)) {
    if (!HasError(child) && !IsEmpty(password)) Record(child, kErrInvalidParameter);
    return;
  }
  // A pool failure is reported by launch.
  if (split_logon(&child->pool, user, &child->user, &child->domain) != kOk) return;
  child->password = CopyText(&child->pool, password ? password : u"");
}

// The search path: the object's own "PATH" when it has an environment, else this process's.
const char16_t* SearchPath(child_process_t* child) {
  if (child->environment.entries) return environment_get(&child->environment, u"PATH");
  const environment_snapshot_t& snapshot = environment_snapshot();
  environment_t own{const_cast<char16_t**>(snapshot.utf16), snapshot.count, snapshot.count};
  return environment_get(&own, u"PATH");
}

err_t Launch(process_t* process, const char16_t* const* argv) {
  child_process_t* child = Child(process);
  if (child->process_id != 0) return kErrInvalidParameter;  // one launch per object
  kd_mp_c temporary;
  char16_t* program = nullptr;
  char16_t* command_line = nullptr;
  const char16_t* name = argv ? argv[0] : nullptr;
  err_t e = resolve_program(&temporary, name, SearchPath(child), &program);
  if (e != kOk) Record(child, temporary.FailureCount() > 0 ? kErrOutOfMemory : e);
  if (program) {
    command_line = build_command_line(&temporary, argv, program);
    if (!command_line) Record(child, kErrOutOfMemory);
  }
  if (child->pool.FailureCount() > 0) Record(child, kErrOutOfMemory);
  if (!HasError(child)) {
    e = os_launch_child(child, program, argv, command_line);
    if (e != kOk) Record(child, e);
  }
  // The child holds its own copies of the standard handles now.
  CloseStandardHandles(child);
  return child->error;
}

uint32_t ChildId(process_t* process) { return Child(process)->process_id; }

void Kill(process_t* process) {
  child_process_t* child = Child(process);
  if (child->process_id != 0) os_kill_child(child);
}

// An abort pin watched during a wait: its trigger sets a wake-up the wait includes. Without a
// wake-up from the system, the pin's state is polled instead.
class AbortWatch : private pin_link_t {
 public:
  explicit AbortWatch(pin_i* pin) : pin_link_t{}, pin_(pin) {
    if (!pin_) return;
    wake_ = os_wake_create();
    if (!wake_) return;
    attached_ = pin_->attach(&AbortWatch::OnTrigger, this);
    if (!attached_) raised_.store(true);  // triggered already
  }
  ~AbortWatch() {
    // A callback taken to run still uses the record: let it finish first.
    if (attached_ && !pin_->detach(this)) {
      while (!done_.load(std::memory_order_acquire)) sleep_ms(10);
    }
    if (wake_) os_wake_destroy(wake_);
  }
  AbortWatch(const AbortWatch&) = delete;
  AbortWatch& operator=(const AbortWatch&) = delete;

  os_wake_t* wake() const { return wake_; }
  bool polling() const { return pin_ && !wake_; }
  bool raised() const {
    if (polling()) return pin_->triggered() != 0;
    return raised_.load(std::memory_order_acquire);
  }

 private:
  static void OnTrigger(pin_link_t* link) {
    auto* watch = static_cast<AbortWatch*>(link);
    watch->raised_.store(true, std::memory_order_release);
    os_wake_set(watch->wake_);
    watch->done_.store(true, std::memory_order_release);
  }

  pin_i* pin_;
  os_wake_t* wake_ = nullptr;
  bool attached_ = false;
  std::atomic<bool> raised_{false};
  std::atomic<bool> done_{false};
};

// Milliseconds left before the deadline (kWaitForever when there is none).
uint32_t Remaining(bool limited, uint64_t deadline) {
  if (!limited) return kWaitForever;
  uint64_t now = monotonic_ms();
  return now >= deadline ? 0 : uint32_t(deadline - now);
}

constexpr uint32_t kLongestTimeout = 0x7FFFFFFE;
constexpr uint32_t kPollStepMs = 50;

bool WaitFor(process_t* process, pin_i* abort, uint32_t timeout_ms) {
  child_process_t* child = Child(process);
  if (child->process_id == 0 || child->ended.load(std::memory_order_acquire)) return true;
  bool limited = timeout_ms <= kLongestTimeout;
  uint64_t deadline = limited ? monotonic_ms() + timeout_ms : 0;
  AbortWatch watch(abort);
  for (;;) {
    // Once the pin is raised or the time is up, one last look with a zero wait decides.
    uint32_t wait_ms = watch.raised() ? 0 : Remaining(limited, deadline);
    if (watch.polling() && wait_ms > kPollStepMs) wait_ms = kPollStepMs;
    if (os_wait_child(child, watch.wake(), wait_ms)) return true;
    if (wait_ms == 0) return false;
  }
}

uint32_t WaitExit(process_t* process) {
  WaitFor(process, nullptr, kWaitForever);
  return Child(process)->exit_code;
}

constexpr process_i kChildProcessTable = {
    AddRef,       Release,  SetNoWindow, SetEnvironment, SetEnvironmentVariable,
    SetDirectory, SetStdin, SetStdout,   SetStderr,      SetLogon,
    Launch,       ChildId,  Kill,        WaitFor,        WaitExit,
};

}  // namespace

// ---- Public pieces ----

char16_t* build_command_line(malloc_i* pool, const char16_t* const* argv, const char16_t* program) {
  if (!argv) argv = kNoArguments;
  return MakeLine(pool, [&](LineWriter& line) { WriteCommandLine(line, argv, program); });
}

bool is_batch_file(const char16_t* program) {
  const char16_t* name = path_last_name(program);
  const char16_t* end = name;
  while (*end && *end != u':') ++end;
  while (end > name && (end[-1] == u'.' || end[-1] == u' ')) --end;
  const char16_t* dot = nullptr;
  for (const char16_t* c = name; c < end; ++c) {
    if (*c == u'.') dot = c;
  }
  if (!dot || end - dot < 4) return false;
  return AsciiCompareNoCase(dot + 1, 3, u"bat", 3) == 0 ||
         AsciiCompareNoCase(dot + 1, 3, u"cmd", 3) == 0;
}

err_t build_batch_command_line(malloc_i* pool, const char16_t* interpreter, const char16_t* program,
                               const char16_t* const* argv, char16_t** line) {
  *line = nullptr;
  if (!argv) argv = kNoArguments;
  if (HasBatchSpecial(program)) return kErrInvalidParameter;
  for (size_t i = 1; argv[0] && argv[i]; ++i) {
    if (HasBatchSpecial(argv[i])) return kErrInvalidParameter;
  }
  *line = MakeLine(pool,
                   [&](LineWriter& writer) { WriteBatchLine(writer, interpreter, program, argv); });
  return *line ? kOk : kErrOutOfMemory;
}

err_t environment_clear(malloc_i* pool, environment_t* environment) {
  *environment = environment_t{};
  return Grow(pool, environment);
}

err_t environment_put(malloc_i* pool, environment_t* environment, const char16_t* name,
                      const char16_t* value) {
  if (IsEmpty(name)) return kErrInvalidParameter;
  if (!environment->entries && environment_clear(pool, environment) != kOk) {
    return kErrOutOfMemory;
  }
  char16_t* entry = MakeEntry(pool, name, value);
  if (!entry) return kErrOutOfMemory;
  bool found;
  size_t at = FindName(environment, entry, &found);
  char16_t** entries = environment->entries;
  // The entry always holds the '=' that ends its name; nothing after it removes the name.
  bool removes = entry[NameLength(entry) + 1] == 0;
  if (found) {
    if (!removes) {
      entries[at] = entry;
      return kOk;
    }
    for (size_t i = at; i < environment->count; ++i) entries[i] = entries[i + 1];
    --environment->count;
    return kOk;
  }
  if (removes) return kOk;
  if (environment->count == environment->capacity && Grow(pool, environment) != kOk) {
    return kErrOutOfMemory;
  }
  entries = environment->entries;
  for (size_t i = environment->count; i > at; --i) entries[i] = entries[i - 1];
  entries[at] = entry;
  entries[++environment->count] = nullptr;
  return kOk;
}

const char16_t* environment_get(const environment_t* environment, const char16_t* name) {
  if (!environment->entries || !name) return nullptr;
  size_t length = Utf16Length(name);
  for (size_t i = 0; i < environment->count; ++i) {
    const char16_t* entry = environment->entries[i];
    size_t entry_name = NameLength(entry);
    if (AsciiCompareNoCase(entry, ptrdiff_t(entry_name), name, ptrdiff_t(length)) == 0) {
      return entry[entry_name] ? entry + entry_name + 1 : entry + entry_name;
    }
  }
  return nullptr;
}

err_t split_logon(malloc_i* pool, const char16_t* logon, char16_t** user, char16_t** domain) {
  *user = *domain = nullptr;
  const char16_t* separator = LogonSeparator(logon);
  char16_t *first, *second;
  if (separator) {
    first = CopyText(pool, logon, size_t(separator - logon));
    second = CopyText(pool, separator + 1);
  } else {
    first = CopyText(pool, logon);
    second = CopyText(pool, computer_name());
  }
  if (!first || !second) return kErrOutOfMemory;
  bool domain_first = separator && *separator != u'@';
  *user = domain_first ? second : first;
  *domain = domain_first ? first : second;
  return kOk;
}

namespace {

// The full path of name under base when it is an existing file.
bool FoundUnder(malloc_i* pool, const char16_t* base, const char16_t* name, char16_t** found) {
  char16_t* full = full_path(pool, base, name);
  bool is_directory;
  if (!full || query_exists(full, &is_directory) != kOk || is_directory) return false;
  *found = full;
  return true;
}

}  // namespace

err_t resolve_program(malloc_i* pool, const char16_t* name, const char16_t* search_path,
                      char16_t** program) {
  *program = nullptr;
  if (IsEmpty(name)) return kErrFileNotFound;
  if (FoundUnder(pool, module_directory(), name, program)) return kOk;
  if (FoundUnder(pool, cached_current_directory(), name, program)) return kOk;
  char16_t separator = os_search_path_separator();
  for (const char16_t* element = search_path; element && *element;) {
    const char16_t* end = element;
    while (*end && *end != separator) ++end;
    if (end > element) {
      char16_t* base = CopyText(pool, element, size_t(end - element));
      if (base && FoundUnder(pool, base, name, program)) return kOk;
    }
    element = *end ? end + 1 : end;
  }
  return kErrFileNotFound;
}

err_t create_process(process_t** process) {
  *process = nullptr;
  auto* child = HeapNew<child_process_t>();
  if (!child) return kErrOutOfMemory;
  child->table = &kChildProcessTable;
  child->references.store(1);
  child->holders.store(1);
  for (file_handle_t& handle : child->std_handles) handle = kNoHandle;
  child->process_handle = kNoHandle;
  *process = child;
  return kOk;
}

// The child process over CreateProcessW and CreateProcessWithLogonW. Standard handles reach the
// child as inheritable duplicates, named in a handle-list attribute where the system has one,
// so the child inherits exactly those three and nothing else. A batch file is run by the
// system's own cmd.exe, with a command line made for cmd.exe's parser.
#include <windows.h>

#include <initializer_list>

#include "base/file.h"
#include "base/text.h"
#include "runner/process_os.h"

namespace {

HANDLE AsHandle(file_handle_t handle) { return reinterpret_cast<HANDLE>(handle); }
file_handle_t AsFileHandle(HANDLE handle) { return reinterpret_cast<file_handle_t>(handle); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr DWORD_PTR kHandleListAttribute = 0x20002;  // PROC_THREAD_ATTRIBUTE_HANDLE_LIST
constexpr DWORD kCreateUnicodeEnvironment = 0x400;
constexpr DWORD kCreateNoWindow = 0x8000000;
constexpr DWORD kExtendedStartupInfoPresent = 0x80000;
constexpr DWORD kStartfUseStdHandles = 0x100;
constexpr DWORD kLogonWithProfile = 1;

// The attribute-list functions, looked up once: older systems lack them.
struct AttributeListApi {
  BOOL(WINAPI* initialize)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
  BOOL(WINAPI* update)
  (LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID, PSIZE_T);
  VOID(WINAPI* remove)(LPPROC_THREAD_ATTRIBUTE_LIST);
  bool present() const { return initialize && update && remove; }
};

template <typename Function>
void LookUp(HMODULE module, const char* name, Function* function) {
  FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(proc));
}

const AttributeListApi& AttributeList() {
  static const AttributeListApi api = [] {
    AttributeListApi found{};
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    LookUp(kernel32, "InitializeProcThreadAttributeList", &found.initialize);
    LookUp(kernel32, "UpdateProcThreadAttribute", &found.update);
    LookUp(kernel32, "DeleteProcThreadAttributeList", &found.remove);
    return found;
  }();
  return api;
}

// The environment block: the strings one after the other, each ending with a NUL, then a
// final NUL (two for an empty environment, which the system reads as the end either way).
char16_t* EnvironmentBlock(malloc_i* pool, const environment_t& environment) {
  size_t length = 1;
  for (size_t i = 0; i < environment.count; ++i) {
    length += Utf16Length(environment.entries[i]) + 1;
  }
  auto* block = static_cast<char16_t*>(pool->Allocate((length + 1) * sizeof(char16_t)));
  if (!block) return nullptr;
  char16_t* at = block;
  for (size_t i = 0; i < environment.count; ++i) {
    for (const char16_t* c = environment.entries[i]; *c; ++c) *at++ = *c;
    *at++ = 0;
  }
  return block;  // zero-filled: the final NULs are there
}

// What every way of starting shares. The program is named to the system by its resolved path,
// never left for it to find again from the command line.
struct Launch {
  child_process_t* child;
  const char16_t* application;
  char16_t* command_line;
  DWORD flags;
  char16_t* environment;
  PROCESS_INFORMATION info;
};

err_t StartWithLogon(Launch* launch) {
  child_process_t* child = launch->child;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessWithLogonW(Wide(child->user), Wide(child->domain), Wide(child->password),
                               kLogonWithProfile, Wide(launch->application),
                               Wide(launch->command_line), launch->flags, launch->environment,
                               Wide(child->directory), &startup, &launch->info)) {
    return GetLastError();
  }
  return kOk;
}

err_t Create(Launch* launch, bool inherit, STARTUPINFOW* startup, DWORD extra_flags) {
  if (!CreateProcessW(Wide(launch->application), Wide(launch->command_line), nullptr, nullptr,
                      inherit, launch->flags | extra_flags, launch->environment,
                      Wide(launch->child->directory), startup, &launch->info)) {
    return GetLastError();
  }
  return kOk;
}

// Each unset handle becomes the null device; then each is made an inheritable duplicate.
err_t MakeInheritable(child_process_t* child) {
  HANDLE self = GetCurrentProcess();
  for (file_handle_t& handle : child->std_handles) {
    if (IsNoHandle(handle)) {
      err_t e = open_null_device(&handle);
      if (e != kOk) return e;
    }
    HANDLE inheritable;
    BOOL duplicated = DuplicateHandle(self, AsHandle(handle), self, &inheritable, 0, TRUE,
                                      DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE);
    // The source is closed even when the duplicate fails.
    handle = duplicated ? AsFileHandle(inheritable) : kNoHandle;
    if (!duplicated) return GetLastError();
  }
  return kOk;
}

// An attribute list naming the three handles, as `Value`s (32- or 64-bit each).
template <typename Value>
err_t StartWithHandleList(Launch* launch, STARTUPINFOEXW* startup) {
  const AttributeListApi& api = AttributeList();
  Value handles[3];
  for (int i = 0; i < 3; ++i) {
    handles[i] = static_cast<Value>(static_cast<uintptr_t>(launch->child->std_handles[i]));
  }
  SIZE_T size = 0;
  api.initialize(nullptr, 1, 0, &size);
  kd_mp_c pool;
  auto list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(pool.Allocate(size));
  if (!list) return kErrOutOfMemory;
  if (!api.initialize(list, 1, 0, &size)) return GetLastError();
  err_t e = kOk;
  if (!api.update(list, 0, kHandleListAttribute, handles, sizeof handles, nullptr, nullptr)) {
    e = GetLastError();
  }
  startup->lpAttributeList = list;
  if (e == kOk) e = Create(launch, true, &startup->StartupInfo, kExtendedStartupInfoPresent);
  startup->lpAttributeList = nullptr;
  api.remove(list);
  return e;
}

err_t StartWithHandles(Launch* launch) {
  child_process_t* child = launch->child;
  err_t e = MakeInheritable(child);
  if (e != kOk) return e;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.dwFlags = kStartfUseStdHandles;
  startup.StartupInfo.hStdInput = AsHandle(child->std_handles[kStdInput]);
  startup.StartupInfo.hStdOutput = AsHandle(child->std_handles[kStdOutput]);
  startup.StartupInfo.hStdError = AsHandle(child->std_handles[kStdError]);
  if (AttributeList().present()) {
    startup.StartupInfo.cb = sizeof startup;
    e = StartWithHandleList<uint32_t>(launch, &startup);
    // A system that wants the handles as 64-bit values says so with one of these.
    if (e == ERROR_NO_SYSTEM_RESOURCES || e == ERROR_INVALID_PARAMETER) {
      e = StartWithHandleList<uint64_t>(launch, &startup);
    }
    return e;
  }
  // Without a handle list every inheritable handle goes along: keep at least our own
  // standard handles back.
  for (DWORD id : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    SetHandleInformation(GetStdHandle(id), HANDLE_FLAG_INHERIT, 0);
  }
  startup.StartupInfo.cb = sizeof(STARTUPINFOW);
  return Create(launch, true, &startup.StartupInfo, 0);
}

bool AnyHandleSet(const child_process_t* child) {
  for (file_handle_t handle : child->std_handles) {
    if (!IsNoHandle(handle)) return true;
  }
  return false;
}

// The system's own cmd.exe, never one found through the environment or the current directory.
err_t CommandInterpreter(malloc_i* pool, char16_t** path) {
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return kErrPathNotFound;
  *path = path_join(pool, reinterpret_cast<const char16_t*>(system), u"cmd.exe");
  return *path ? kOk : kErrOutOfMemory;
}

// A batch file runs in cmd.exe, whose parser is not the standard one: it gets a line of its
// own, or 87 when an argument cannot reach the batch file literally.
err_t RouteBatchFile(malloc_i* pool, Launch* launch, const char16_t* const* argv) {
  if (!is_batch_file(launch->application)) return kOk;
  char16_t* interpreter = nullptr;
  err_t e = CommandInterpreter(pool, &interpreter);
  if (e == kOk) {
    e = build_batch_command_line(pool, interpreter, launch->application, argv,
                                 &launch->command_line);
  }
  launch->application = interpreter;
  return e;
}

}  // namespace

file_handle_t current_standard_handle(int stream) {
  static constexpr DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE handle = GetStdHandle(kIds[stream]);
  return handle ? AsFileHandle(handle) : kNoHandle;
}

err_t os_duplicate_standard_handle(file_handle_t handle, int stream, file_handle_t* copy) {
  *copy = kNoHandle;
  if (IsNoHandle(handle)) return kOk;
  HANDLE self = GetCurrentProcess(), duplicate;
  if (DuplicateHandle(self, AsHandle(handle), self, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    *copy = AsFileHandle(duplicate);
    return kOk;
  }
  err_t e = GetLastError();
  return handle == current_standard_handle(stream) ? kOk : e;
}

char16_t os_search_path_separator() { return u';'; }

err_t os_launch_child(child_process_t* child, const char16_t* program, const char16_t* const* argv,
                      char16_t* command_line) {
  AttributeList();  // looked up on first use
  kd_mp_c pool;
  Launch launch{child, program, command_line, 0, nullptr, {}};
  err_t e = RouteBatchFile(&pool, &launch, argv);
  if (e != kOk) return e;
  if (child->environment.entries) {
    launch.environment = EnvironmentBlock(&pool, child->environment);
    if (!launch.environment) return kErrOutOfMemory;
    launch.flags |= kCreateUnicodeEnvironment;
  }
  if (child->no_window) launch.flags |= kCreateNoWindow;
  if (child->user) {
    e = StartWithLogon(&launch);
  } else if (AnyHandleSet(child)) {
    e = StartWithHandles(&launch);
  } else {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    e = Create(&launch, false, &startup, 0);
  }
  if (e != kOk) return e;
  CloseHandle(launch.info.hThread);
  child->process_handle = AsFileHandle(launch.info.hProcess);
  child->process_id = launch.info.dwProcessId;
  return kOk;
}

os_wake_t* os_wake_create() {
  return reinterpret_cast<os_wake_t*>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

void os_wake_set(os_wake_t* wake) { SetEvent(reinterpret_cast<HANDLE>(wake)); }

void os_wake_destroy(os_wake_t* wake) { CloseHandle(reinterpret_cast<HANDLE>(wake)); }

bool os_wait_child(child_process_t* child, os_wake_t* wake, uint32_t timeout_ms) {
  HANDLE objects[2] = {AsHandle(child->process_handle), reinterpret_cast<HANDLE>(wake)};
  DWORD result = WaitForMultipleObjects(wake ? 2 : 1, objects, FALSE, timeout_ms);
  if (result != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(objects[0], &code);
  child->exit_code = code;
  child->ended.store(true, std::memory_order_release);
  return true;
}

void os_kill_child(child_process_t* child) {
  TerminateProcess(AsHandle(child->process_handle), kKilledExitCode);
}

void os_close_child(child_process_t* child) {
  if (!IsNoHandle(child->process_handle)) CloseHandle(AsHandle(child->process_handle));
  child->process_handle = kNoHandle;
}

// Process facts on Linux: /proc/self/exe (or the started path), the host name, environ, the current
// directory and the environment variables behind the folder table. System paths come back in the
// program's own backslash form.
#include <sys/auxv.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "base/folders_impl.h"
#include "base/text.h"

extern char** environ;

namespace {

// UTF-8 system text into buf as UTF-16, '/' turned into '\'; 0 when it is empty or too long.
size_t ToProgramPath(const char* text, size_t length, char16_t* buf, size_t cap) {
  size_t units = Utf8ToUtf16(buf, cap, text, ptrdiff_t(length));
  if (units == 0 || units >= cap) return 0;
  for (size_t i = 0; i < units; ++i) {
    if (buf[i] == u'/') buf[i] = u'\\';
  }
  return units;
}

// Bytes of a system text that may be longer than the character buffer it ends up in.
constexpr size_t kSystemTextBytes = kFactChars * 4;

// Only environment variables have twins here: no Windows directory, shell or registry.
class posix_folder_reader_c final : public folder_source_reader_i {
 public:
  size_t WindowsDirectory(char16_t*, size_t) override { return 0; }
  size_t ShellFolder(int, char16_t*, size_t) override { return 0; }
  size_t RegistryValue(registry_hive, const char16_t*, const char16_t*, char16_t*,
                       size_t) override {
    return 0;
  }
  size_t Environment(const char16_t* name, char16_t* buf, size_t cap) override {
    char narrow_name[64];
    size_t length = Utf16ToUtf8(narrow_name, sizeof narrow_name, name, -1);
    if (length >= sizeof narrow_name) return 0;
    const char* value = std::getenv(narrow_name);
    return value ? ToProgramPath(value, Utf8Length(value), buf, cap) : 0;
  }
};

posix_folder_reader_c g_reader;

// Without /proc (a bare chroot or container), the path the program was started by, which the
// kernel hands over at start: made absolute against the current directory, which is still that
// of the start.
size_t StartedPath(char16_t* buf, size_t cap) {
  const char* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (!started || !*started) return 0;
  char target[kSystemTextBytes] = "";
  if (started[0] != '/' && !getcwd(target, sizeof target)) return 0;
  size_t used = Utf8Length(target);
  const char* separator = used && target[used - 1] != '/' ? "/" : "";
  int length = std::snprintf(target + used, sizeof target - used, "%s%s", separator, started);
  if (length < 0 || used + size_t(length) >= sizeof target) return 0;
  return ToProgramPath(target, used + size_t(length), buf, cap);
}

}  // namespace

folder_source_reader_i* platform_folder_reader() { return &g_reader; }
const folder_row_t* platform_folder_rows() { return kPosixFolderRows; }

size_t platform_module_file_name(char16_t* buf, size_t cap) {
  char target[kSystemTextBytes];
  ssize_t length = readlink("/proc/self/exe", target, sizeof target);
  if (length <= 0 || size_t(length) >= sizeof target) return StartedPath(buf, cap);
  return ToProgramPath(target, size_t(length), buf, cap);
}

size_t platform_computer_name(char16_t* buf, size_t cap) {
  char name[kSystemTextBytes] = {};
  if (gethostname(name, sizeof name - 1) != 0) return 0;
  size_t units = Utf8ToUtf16(buf, cap, name, -1);
  return units < cap ? units : 0;
}

size_t platform_current_directory(char16_t* buf, size_t cap) {
  char directory[kSystemTextBytes];
  if (!getcwd(directory, sizeof directory)) return 0;
  return ToProgramPath(directory, Utf8Length(directory), buf, cap);
}

void platform_environment(environment_entry_fn entry, void* context) {
  for (char** variable = environ; variable && *variable; ++variable) {
    entry(context, nullptr, *variable);
  }
}

/* The demo's embedded program: shows where it runs and exactly what it was given, then exits
   with the code it was asked for. Builds with any C compiler, for Windows (autorun.exe, which
   reads its arguments the way Windows programs do, through CommandLineToArgvW) and for Linux
   (autorun).

   Every argument is printed as "argument N: [TEXT]" in UTF-8, with control characters written
   as \xNN so that tabs and line breaks stay visible. Arguments it acts on (they are printed too):
     --exit=N     exit with code N (default 0)
     --stderr=T   write T and a line break to standard error
     --stdin      copy standard input to standard output, between "stdin: [" and "]" */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_NAMES 64
#define NAME_BYTES 1024

/* ---- What the platform provides: arguments as UTF-8, the working directory, the files in
   the program's own folder. ---- */
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

static char* to_utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  char* out = (char*)malloc(n > 0 ? n : 1);
  if (out) WideCharToMultiByte(CP_UTF8, 0, text, -1, out, n > 0 ? n : 1, NULL, NULL);
  return out;
}

static char** utf8_arguments(int argc, char** argv, int* count) {
  int i, n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  char** out = (char**)calloc((size_t)n + 1, sizeof(char*));
  (void)argc, (void)argv;
  for (i = 0; out && i < n; ++i) out[i] = to_utf8(wide[i]);
  *count = n;
  return out;
}

static void binary_output(void) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
}

static char* working_directory(void) {
  wchar_t buffer[MAX_PATH * 4];
  return GetCurrentDirectoryW(MAX_PATH * 4, buffer) ? to_utf8(buffer) : NULL;
}

static int files_beside_me(char names[][NAME_BYTES], int max) {
  wchar_t pattern[MAX_PATH * 4];
  WIN32_FIND_DATAW found;
  HANDLE find;
  wchar_t* slash;
  int n = 0;
  DWORD length = GetModuleFileNameW(NULL, pattern, MAX_PATH * 4 - 2);
  if (length == 0 || !(slash = wcsrchr(pattern, L'\\'))) return 0;
  wcscpy(slash + 1, L"*");
  find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    if (found.cFileName[0] == L'.' || n >= max) continue;
    WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, names[n++], NAME_BYTES, NULL, NULL);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return n;
}
#else
#include <dirent.h>
#include <limits.h>
#include <unistd.h>

static char** utf8_arguments(int argc, char** argv, int* count) {
  *count = argc;
  return argv;
}

static void binary_output(void) {}

static char* working_directory(void) {
  static char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer);
}

static int files_beside_me(char names[][NAME_BYTES], int max) {
  char self[PATH_MAX];
  char* slash;
  DIR* dir;
  struct dirent* entry;
  int n = 0;
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return 0;
  self[length] = 0;
  if (!(slash = strrchr(self, '/'))) return 0;
  slash[slash == self ? 1 : 0] = 0;
  if (!(dir = opendir(self))) return 0;
  while ((entry = readdir(dir)) && n < max) {
    if (entry->d_name[0] == '.') continue;
    snprintf(names[n++], NAME_BYTES, "%s", entry->d_name);
  }
  closedir(dir);
  return n;
}
#endif

/* ---- The same everywhere ---- */

static void print_escaped(const char* text) {
  const unsigned char* p;
  for (p = (const unsigned char*)text; *p; ++p) {
    if (*p < 0x20 || *p == 0x7F) printf("\\x%02X", *p);
    else putchar(*p);
  }
}

static int compare_names(const void* a, const void* b) { return strcmp((const char*)a, (const char*)b); }

static void copy_stdin(void) {
  char buffer[4096];
  size_t n;
  printf("stdin: [");
  fflush(stdout);
  while ((n = fread(buffer, 1, sizeof buffer, stdin)) > 0) fwrite(buffer, 1, n, stdout);
  printf("]\n");
}

int main(int argc, char** argv) {
  static char names[MAX_NAMES][NAME_BYTES];
  int i, count, code = 0, echo_stdin = 0, files;
  char** args;
  const char* cwd;
  binary_output();
  args = utf8_arguments(argc, argv, &count);
  if (!args) return 98;
  cwd = working_directory();
  printf("Hello from inside the disc image.\n");
  printf("program: %s\n", count > 0 && args[0] ? args[0] : "?");
  printf("working directory: %s\n", cwd ? cwd : "?");
  files = files_beside_me(names, MAX_NAMES);
  qsort(names, (size_t)files, NAME_BYTES, compare_names);
  printf("files beside it:");
  for (i = 0; i < files; ++i) printf(" %s", names[i]);
  printf("\narguments: %d\n", count > 0 ? count - 1 : 0);
  for (i = 1; i < count; ++i) {
    const char* arg = args[i] ? args[i] : "";
    printf("argument %d: [", i);
    print_escaped(arg);
    printf("]\n");
    if (strncmp(arg, "--exit=", 7) == 0) code = atoi(arg + 7);
    else if (strncmp(arg, "--stderr=", 9) == 0) fprintf(stderr, "%s\n", arg + 9);
    else if (strcmp(arg, "--stdin") == 0) echo_stdin = 1;
  }
  if (echo_stdin) copy_stdin();
  printf("exit code: %d\n", code);
  fflush(stdout);
  return code;
}

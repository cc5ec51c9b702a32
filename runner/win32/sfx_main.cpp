// The Windows runner's entry point (wide-character main).
#include <windows.h>

#include <cstdlib>

#include "runner/runner.h"

// The runner throws nothing and so never reports an exception's demangled type on its way out;
// replacing the default terminate handler keeps the demangler (about 46 KiB) out of the program.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int wmain(int argc, wchar_t** argv) {
  auto arguments = reinterpret_cast<const char16_t* const*>(argv);
  // Setups start from download folders where anyone can drop a DLL: load only system DLLs,
  // or do nothing at all.
  if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return runner_refuse_start(argc > 0 ? arguments[0] : nullptr, GetLastError());
  }
  return runner_main(argc, arguments);
}

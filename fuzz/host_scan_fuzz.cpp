// Fuzzes the host scan, the rules that find container data inside a program file (PE with
// its certificate table, cabinet stub, ELF in both widths and byte orders): once through the
// file handle, once from a probe buffer of the file's first bytes alone, as the registry asks.
#include <cstdint>
#include <cstdlib>

#include "image/iso_reader.h"
#include "image/memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr uint32_t kProbe = 2048;
  MemoryFiles files;
  files.Add(u"\\fuzz\\setup.exe", data, size);
  file_handle_t handle;
  if (files.Open(u"\\fuzz\\setup.exe", kOpenForReading, &handle) != kOk) std::abort();
  HostRegion region;
  HostScan(&files, handle, nullptr, 0, &region);
  files.Close(handle);
  HostScan(&files, kNoHandle, data, size < kProbe ? uint32_t(size) : kProbe, &region);
  return 0;
}

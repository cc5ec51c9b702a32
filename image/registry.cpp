// The reader registry: factories in probe order, and opening a file through them.

#include "base/own.h"
#include "image/ciso_reader.h"
#include "image/iso_dd.h"
#include "image/iso_reader.h"
#include "image/source.h"

namespace {

ReaderFactory* g_first = nullptr;
uint32_t g_probe_size = 0;

void Insert(ReaderFactory* factory) {
  // Before the first factory whose priority is not below the new one's: among equals, the
  // one registered last is tried first.
  ReaderFactory** link = &g_first;
  while (*link && (*link)->priority < factory->priority) link = &(*link)->next;
  factory->next = *link;
  *link = factory;
  if (factory->probe_size > g_probe_size) g_probe_size = factory->probe_size;
}

// The built-in readers join the registry before anyone looks at it, container reader first.
void RegisterBuiltinReaders() {
  static const bool done = [] {
    static ReaderFactory ciso_factory = {nullptr, 0, ciso::kCisoProbeSize, ciso::CreateCisoReader,
                                         "CisoReader"};
    static ReaderFactory dd_factory = {nullptr, 0, ciso::kIsoDdProbeSize, ciso::CreateIsoDd,
                                       "IsoDd"};
    Insert(&ciso_factory);
    Insert(&dd_factory);
    return true;
  }();
  (void)done;
}

}  // namespace

void RegisterReaderFactory(ReaderFactory* factory) {
  RegisterBuiltinReaders();
  Insert(factory);
}

const ReaderFactory* FirstReaderFactory() {
  RegisterBuiltinReaders();
  return g_first;
}

uint32_t ReaderProbeSize() {
  RegisterBuiltinReaders();
  return g_probe_size;
}

err_t OpenImage(ImageSource* source, IsoReader** out, const char16_t* path, file_handle_t handle,
                const uint8_t* buffer, uint32_t buffered, const char** reader_name) {
  *out = nullptr;
  if (reader_name) *reader_name = nullptr;
  RegisterBuiltinReaders();
  bool opened_here = false;
  if (handle == kNoHandle) {
    if (err_t e = source->Open(path, kOpenForReading, &handle)) return e;
    opened_here = true;
  }
  Owned<uint8_t> probe_block;
  uint8_t* probe = nullptr;
  err_t result = kOk;
  if (buffered < g_probe_size || !buffer) {
    probe_block = Owned<uint8_t>::Array(g_probe_size);
    probe = probe_block.get();
    uint32_t count = 0;
    if (!probe) {
      result = kErrOutOfMemory;
    } else {
      // Short files give a short probe; a read error ends the open.
      uint8_t* at = probe;
      while (count < g_probe_size) {
        uint32_t got = 0;
        if ((result = source->ReadAt(handle, count, at, g_probe_size - count, &got)) || got == 0)
          break;
        count += got, at += got;
      }
    }
    buffer = probe, buffered = count;
  }
  if (result == kOk) {
    result = kErrBadFormat;
    for (const ReaderFactory* f = g_first; f; f = f->next) {
      IsoReader* reader = nullptr;
      if (f->create(source, &reader, path, handle, buffer, buffered) == kOk) {
        *out = reader;
        if (reader_name) *reader_name = f->name;
        result = kOk;
        break;
      }
    }
  }
  if (opened_here) source->Close(handle);
  return result;
}

// The reader interface over a disc image, and the registry that picks a reader for a file.
//
// A reader presents an image as bytes in 2048-byte sectors, one session starting at byte 0.
// The registry probes a file's leading bytes with every registered factory, lowest priority
// first (among equals, the one registered last), and hands back the first reader that accepts
// it. Two are built in: IsoDd (a plain image) and CisoReader (the compressed container).
#pragma once
#include <cstdint>

#include "base/errors.h"
#include "base/file.h"

class ImageSource;
class IsoPasswordIterator;  // the file-system side's password source

class IsoReader {
 public:
  virtual void Destroy() = 0;
  // Finishes opening after the factory accepted the file (locates parts, reads tables).
  virtual err_t Open(IsoPasswordIterator* passwords) = 0;
  virtual uint32_t SectorSize() = 0;
  virtual uint64_t ImageSize() = 0;
  // 0 means a single session starting at byte 0.
  virtual uint32_t SessionCount() = 0;
  virtual uint64_t SessionStart(uint32_t session) = 0;
  // Reads count bytes at an image offset; a null destination makes it a verify read, which
  // checks the bytes without delivering them. Bytes past the image's end read as zeros.
  virtual err_t Read(uint64_t offset, void* destination, uint32_t count) = 0;
  // Closes every file the reader holds; the next read opens them again.
  virtual void CloseFiles() = 0;

 protected:
  ~IsoReader() = default;
};

// A factory's create function: on success *out is a new reader, not yet opened.
using ReaderCreate = err_t (*)(ImageSource* source, IsoReader** out, const char16_t* path,
                               file_handle_t handle, const uint8_t* probe, uint32_t probe_length);

struct ReaderFactory {
  ReaderFactory* next;
  int32_t priority;
  uint32_t probe_size;
  ReaderCreate create;
  const char* name;
};

// Links a factory (owned by the caller, living as long as the process) into the registry.
void RegisterReaderFactory(ReaderFactory* factory);
// The registry's factories in probe order, and the largest probe size registered.
const ReaderFactory* FirstReaderFactory();
uint32_t ReaderProbeSize();

// Picks a reader for a file: `handle` may be -1 (the path is opened kOpenForReading and closed
// again), and `buffer` may already hold the file's first `buffered` bytes. On success *out is
// the reader (not yet opened) and *reader_name, when asked for, the accepting factory's name.
// kErrBadFormat when no factory accepts the file.
err_t OpenImage(ImageSource* source, IsoReader** out, const char16_t* path, file_handle_t handle,
                const uint8_t* buffer, uint32_t buffered, const char** reader_name = nullptr);

// Both steps at once over real files: picks the reader and opens it.
err_t OpenImageFile(const char16_t* path, IsoReader** out, const char** reader_name = nullptr);

// The image region of a host file (a program with data appended). Offsets are file offsets;
// data end 0 means "to the end of the file" and after-signature start 0 means "none".
struct HostRegion {
  uint64_t data_start;
  uint64_t data_end;
  uint64_t after_signature;
};

// Runs the PE, cabinet-stub and ELF rules over the file's leading bytes (`probe`, which may be
// null, then the file). kErrHandleEof when the file is shorter than a rule needs, kErrBadFormat
// when it is no host.
err_t HostScan(ImageSource* source, file_handle_t handle, const uint8_t* probe,
               uint32_t probe_length, HostRegion* region);

// Rock Ridge on an ISO 9660 volume: the System Use Sharing Protocol entries of a directory
// record (SP, CE, ST) and the Rock Ridge entries among them (NM, PX, TF, SL, CL, PL, RE), as
// versions 1.09 and 1.12 are written. A record's entries may go on in continuation areas
// elsewhere on the disc; those are read through the media, a bounded number per record.
#pragma once
#include <cstdint>

#include "base/errors.h"

namespace IsoFs {

class Media;

inline constexpr uint32_t kRockNameBytes = 500;   // NM names end below this (with their zero)
inline constexpr uint32_t kRockLinkBytes = 4096;  // SL targets end below this (with their zero)

// What the System Use entries of one directory record say. Cleared by ReadSystemUse.
struct RockRecord {
  bool susp;        // an SP entry opened the area (the root's "." record only)
  uint8_t skip;     // its count of bytes to pass over in every other record's area
  bool rock_ridge;  // some Rock Ridge entry, or an ER naming the extensions, was seen
  bool has_name;
  bool has_mode;
  bool is_link;
  bool relocated;  // RE: this directory is shown where its CL placeholder stands
  bool has_child;  // CL: this placeholder stands for the directory at child_location
  uint32_t child_location;
  uint32_t mode;  // POSIX st_mode
  uint64_t modification_time, creation_time;
  uint32_t name_length, link_length;
  char name[kRockNameBytes];
  char link[kRockLinkBytes];
  uint8_t continuation[2048];  // a continuation area being read
};

// Reads the entries of a record's System Use area (the bytes after the identifier and its
// padding, `skip` bytes already passed over), following continuation areas. 11 when an entry
// is malformed, a name or link outgrows its buffer or the continuations do not end; reader
// errors as they come.
err_t ReadSystemUse(Media* media, const uint8_t* area, uint32_t length, RockRecord* out);

}  // namespace IsoFs

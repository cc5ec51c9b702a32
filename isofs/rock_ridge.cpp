// System Use entries of ISO 9660 directory records: SUSP (SP, CE, ST) and Rock Ridge (NM, PX,
// TF, SL, CL, RE). Each entry is a 2-byte signature, a length byte counting the whole entry,
// a version byte, then its data; both-endian numbers are read from their little-endian half.
#include "isofs/rock_ridge.h"

#include <cstring>

#include "base/endian.h"
#include "base/reject.h"
#include "isofs/disc_time.h"
#include "isofs/media_impl.h"

namespace IsoFs {

namespace {

constexpr uint32_t kEntryHeader = 4;  // signature, length, version
constexpr uint32_t kEntryData = 4;
// SP: check bytes, then the skip length.
constexpr uint32_t kSpLength = 7;
constexpr uint32_t kSpSkip = 6;
// CE: block, offset and length of the continuation area (both-endian).
constexpr uint32_t kCeLength = 28;
constexpr uint32_t kCeBlock = 4;
constexpr uint32_t kCeOffset = 12;
constexpr uint32_t kCeSize = 20;
// Continuation areas read for one record before it counts as looping.
constexpr uint32_t kMaxContinuations = 32;
// PX: the file mode; CL: the relocated directory's location (both-endian).
constexpr uint32_t kPxMinLength = 36;
constexpr uint32_t kPxMode = 4;
constexpr uint32_t kClLength = 12;
constexpr uint32_t kClLocation = 4;
// ER: identifier length, descriptor length, source length, version, then the identifier.
constexpr uint32_t kErIdentifierLength = 4;
constexpr uint32_t kErIdentifier = 8;
// NM and SL flags.
constexpr uint8_t kNmContinue = 0x01;
constexpr uint8_t kNmCurrent = 0x02;
constexpr uint8_t kNmParent = 0x04;
constexpr uint8_t kSlContinue = 0x01;
constexpr uint8_t kSlComponentCurrent = 0x02;
constexpr uint8_t kSlComponentParent = 0x04;
constexpr uint8_t kSlComponentRoot = 0x08;
// TF: which times follow, in this order, and their form.
constexpr uint8_t kTfCreation = 0x01;
constexpr uint8_t kTfModification = 0x02;
constexpr uint8_t kTfLongForm = 0x80;
constexpr uint32_t kTfTimes = 7;  // creation, modification, access, attributes, backup, ...

bool Is(const uint8_t* e, const char* signature) {
  return e[0] == uint8_t(signature[0]) && e[1] == uint8_t(signature[1]);
}

// Appends bytes to a name or link buffer of `cap` bytes, keeping room for the zero.
bool Append(char* buffer, uint32_t cap, uint32_t* length, const void* bytes, uint32_t n) {
  if (*length + n >= cap) return false;
  std::memcpy(buffer + *length, bytes, n);
  *length += n;
  buffer[*length] = 0;
  return true;
}

// NM: a piece of the name; "." and ".." flags name no file.
bool TakeName(const uint8_t* e, uint32_t n, RockRecord* r) {
  uint8_t flags = e[kEntryData];
  if (flags & (kNmCurrent | kNmParent)) return true;
  if (!r->has_name) r->name_length = 0;
  r->has_name = true;
  return Append(r->name, kRockNameBytes, &r->name_length, e + kEntryData + 1, n - kEntryData - 1);
}

// SL: component records (flags, length, bytes) joined by '/'. A component that continues in
// the next record or entry gets no separator after it.
bool TakeLink(const uint8_t* e, uint32_t n, RockRecord* r, bool* open_component) {
  r->is_link = true;
  for (uint32_t at = kEntryData + 1; at + 2 <= n;) {
    uint8_t flags = e[at], length = e[at + 1];
    if (at + 2 + length > n) return false;
    bool ok = true;
    if (r->link_length > 0 && !*open_component && !(r->link_length == 1 && r->link[0] == '/'))
      ok = Append(r->link, kRockLinkBytes, &r->link_length, "/", 1);
    if (flags & kSlComponentRoot)
      ok = ok && Append(r->link, kRockLinkBytes, &r->link_length, "/", 1);
    else if (flags & kSlComponentCurrent)
      ok = ok && Append(r->link, kRockLinkBytes, &r->link_length, ".", 1);
    else if (flags & kSlComponentParent)
      ok = ok && Append(r->link, kRockLinkBytes, &r->link_length, "..", 2);
    else
      ok = ok && Append(r->link, kRockLinkBytes, &r->link_length, e + at + 2, length);
    if (!ok) return false;
    *open_component = flags & kSlContinue;
    at += 2 + length;
  }
  return true;
}

// TF: the recorded times, short (7-byte) or long (17-byte) form.
void TakeTimes(const uint8_t* e, uint32_t n, RockRecord* r) {
  uint8_t flags = e[kEntryData];
  uint32_t size = flags & kTfLongForm ? 17 : 7;
  uint32_t at = kEntryData + 1;
  for (uint32_t bit = 0; bit < kTfTimes; ++bit) {
    if (!(flags & (1u << bit))) continue;
    if (at + size > n) return;
    uint64_t t = size == 17 ? IsoLongDate(e + at) : IsoShortDate(e + at);
    if ((1u << bit) == kTfCreation) r->creation_time = t;
    if ((1u << bit) == kTfModification) r->modification_time = t;
    at += size;
  }
}

// ER: an extension reference; Rock Ridge's identifiers in its three spellings.
bool NamesRockRidge(const uint8_t* e, uint32_t n) {
  uint32_t id_length = e[kErIdentifierLength];
  static const char* const kIds[] = {"RRIP_1991A", "IEEE_P1282", "IEEE_1282"};
  for (const char* id : kIds) {
    if (id_length == std::strlen(id) && kErIdentifier + id_length <= n &&
        !std::memcmp(e + kErIdentifier, id, id_length))
      return true;
  }
  return false;
}

struct Continuation {
  uint32_t block = 0, offset = 0, length = 0;
  bool pending = false;
};

// One area's entries; a CE among them is remembered for after the area.
err_t ReadArea(const uint8_t* area, uint32_t length, RockRecord* r, Continuation* next,
               bool* open_component) {
  for (uint32_t at = 0; length - at >= kEntryHeader;) {
    const uint8_t* e = area + at;
    uint32_t n = e[2];
    if (Is(e, "ST")) break;
    if (n < kEntryHeader || n > length - at)
      return Reject(kErrBadFormat, "system use entry of %u bytes with %u left", n, length - at);
    bool ok = true;
    if (Is(e, "SP") && at == 0 && n >= kSpLength && e[4] == 0xBE && e[5] == 0xEF) {
      r->susp = true;
      r->skip = e[kSpSkip];
    } else if (Is(e, "CE") && n >= kCeLength) {
      *next = {LoadLe32(e + kCeBlock), LoadLe32(e + kCeOffset), LoadLe32(e + kCeSize), true};
    } else if (Is(e, "ER") && n >= kErIdentifier) {
      r->rock_ridge |= NamesRockRidge(e, n);
    } else if (Is(e, "NM") && n > kEntryData) {
      ok = TakeName(e, n, r);
    } else if (Is(e, "SL") && n > kEntryData) {
      ok = TakeLink(e, n, r, open_component);
    } else if (Is(e, "PX") && n >= kPxMinLength) {
      r->has_mode = true;
      r->mode = LoadLe32(e + kPxMode);
    } else if (Is(e, "TF") && n > kEntryData) {
      TakeTimes(e, n, r);
    } else if (Is(e, "CL") && n >= kClLength) {
      r->has_child = true;
      r->child_location = LoadLe32(e + kClLocation);
    } else if (Is(e, "RE")) {
      r->relocated = true;
    }
    if (!ok) return Reject(kErrBadFormat, "Rock Ridge name or link too long");
    if (Is(e, "NM") || Is(e, "SL") || Is(e, "PX") || Is(e, "TF") || Is(e, "CL") || Is(e, "RE") ||
        Is(e, "PL") || Is(e, "RR"))
      r->rock_ridge = true;
    at += n;
  }
  return kOk;
}

}  // namespace

err_t ReadSystemUse(Media* media, const uint8_t* area, uint32_t length, RockRecord* r) {
  std::memset(r, 0, offsetof(RockRecord, name));
  r->name[0] = r->link[0] = 0;
  bool open_component = false;
  Continuation next;
  if (err_t e = ReadArea(area, length, r, &next, &open_component)) return e;
  for (uint32_t hops = 0; next.pending; ++hops) {
    if (hops == kMaxContinuations) return Reject(kErrBadFormat, "continuation areas do not end");
    // A continuation area lies within one logical block.
    if (next.offset >= kSectorSize || next.length > kSectorSize - next.offset)
      return Reject(kErrBadFormat, "continuation area of %u bytes at %u", next.length, next.offset);
    uint64_t at = uint64_t(next.block) * kSectorSize + next.offset;
    uint32_t n = next.length;
    next.pending = false;
    if (err_t e = media->ReadImage(at, r->continuation, n)) return e;
    if (err_t e = ReadArea(r->continuation, n, r, &next, &open_component)) return e;
  }
  return kOk;
}

}  // namespace IsoFs

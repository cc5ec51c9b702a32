// IsoDd: the reader of a plain disc image file, where image offset equals file offset.
//
// It accepts a file whose sector 16 carries an ISO 9660 or UDF volume recognition signature,
// and is the first reader the registry tries.
#pragma once
#include <cstdint>

#include "image/iso_reader.h"

namespace ciso {

inline constexpr uint32_t kIsoDdProbeSize = 0x22000;

// The registry's create function for plain images: kErrHandleEof when the probe is too short for
// sector 16, kErrBadFormat when it carries no recognised signature, kErrInvalidParameter when the
// path has no full form.
err_t CreateIsoDd(ImageSource* source, IsoReader** out, const char16_t* path, file_handle_t handle,
                  const uint8_t* probe, uint32_t probe_length);

}  // namespace ciso

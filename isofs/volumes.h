// Making the file-system volumes over the media: one ISO 9660 volume per primary,
// supplementary or enhanced volume descriptor, and the UDF volume.
#pragma once
#include <cstdint>

#include "base/errors.h"

namespace IsoFs {

class Media;

// Descriptor kinds of the media's scan.
inline constexpr int kDescriptorPrimary = 1;
inline constexpr int kDescriptorSupplementary = 2;
inline constexpr int kDescriptorEnhanced = 3;

// Makes an ISO 9660 volume from the descriptor sector at image offset `position` and adds its
// root, named `name`, to the media directory; the root becomes the main root. A supplementary
// or enhanced descriptor with escape sequences of no known character set makes no volume and
// returns kOk.
err_t MakeCfsVolume(Media* media, const uint8_t* descriptor, int kind, uint64_t position,
                    const char* name);

// Opens the UDF volume and adds "udf" (which becomes the main root) and a file per metadata
// partition to the media directory. `scratch` is a 2048-byte buffer.
err_t OpenUdfVolume(Media* media, uint8_t* scratch);

}  // namespace IsoFs

// The media: a disc image opened as a read-only file system (`SeVolume`). The runner opens its
// own file here; the image layers behind it (readers, ISO 9660 and UDF volumes) plug in below.
#pragma once
#include "base/errors.h"
#include "base/file.h"

struct SeVolume;

// Opens the image at `path` as media. The console handles (-1 when none) serve the media's own
// diagnostics. On success *out is the volume, owned by the caller; on failure it is null.
err_t OpenMedia(const char16_t* path, file_handle_t stdin_h, file_handle_t stdout_h, SeVolume** out);

// Releases a volume from OpenMedia (null-safe).
void ReleaseMedia(SeVolume* volume);

// The media: a disc image opened as a read-only file system (SeVolume). The runner opens its
// own file here; the reader registry picks the image reader, and the ISO 9660 and UDF volumes
// found in the image appear under ".$media" with the main root chosen among them.
#pragma once
#include "base/errors.h"
#include "base/file.h"
#include "isofs/se_volume.h"

class ImageSource;

// Opens the image at `path` as media. The console handles (-1 when none) serve a reader's
// password prompt. On success *out is the volume, holding one reference; on failure it is null.
// kErrBadFormat when the image holds no ISO 9660 or UDF volume.
err_t OpenMedia(const char16_t* path, file_handle_t stdin_h, file_handle_t stdout_h,
                SeVolume** out);

// The same over files reached through `source` (files in memory for tests and fuzzing).
err_t OpenMediaFrom(ImageSource* source, const char16_t* path, file_handle_t stdin_h,
                    file_handle_t stdout_h, SeVolume** out);

// Drops the reference from OpenMedia (null-safe).
void ReleaseMedia(SeVolume* volume);

#include "isofs/media.h"

// No image format is recognised yet: every file reads as a bad format.
err_t OpenMedia(const char16_t* path, file_handle_t stdin_h, file_handle_t stdout_h, SeVolume** out) {
  *out = nullptr;
  return kErrBadFormat;
}

void ReleaseMedia(SeVolume* volume) {}

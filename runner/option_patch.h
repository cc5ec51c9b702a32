// Finds and rewrites the resources of a built runner file held in memory, without a compiler:
// a Windows runner's resource directory (PE) or a Linux runner's "isorun_rsrc" section (ELF).
// Options are written in place into their reserved, zero-filled blocks.
//
// The file is untrusted input: every offset is checked against the buffer, and a malformed
// file gives kErrBadFormat, never a read or write outside it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/errors.h"

// Where resource (type, name) lies in the file: its byte offset and size. Names match without
// regard to ASCII case; the first language of the name is taken. Errors: kErrBadFormat not a PE or
// ELF file, or a malformed one; kErrResourceTypeNotFound or kErrResourceNameNotFound no such
// resource (an ELF table tells no types apart).
err_t locate_file_resource(const uint8_t* file, size_t size, const char16_t* type,
                           const char16_t* name, size_t* offset, uint32_t* length);

// Writes `value` as option `name`: UTF-16LE text with its NUL, the rest of the block zeroed.
// kErrInsufficientBuffer when the text and its NUL do not fit the block (the file is then
// unchanged).
err_t patch_option(uint8_t* file, size_t size, const char16_t* name, const char16_t* value);

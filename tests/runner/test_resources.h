// The test program's own resources, beside the runner's reserved options. Both platform tables
// (posix/test_resources_test.cpp, win32/test_resources.rc) carry these entries.
//
//   OPTION TEST_ONE_NUL      L"1" and its NUL (4 bytes)
//   OPTION TEST_ODD          "a\0b\0c\0d": 7 bytes, no NUL
//   OPTION TEST_YES_CAPS     L"YES"      OPTION TEST_ON_BLANKS  L" on "
//   OPTION TEST_HEX          L"0x1"      OPTION TEST_NO         L"no"
//   OPTION TEST_ZERO         L"0"        OPTION TEST_WORD       L"maybe"
//   OPTION TEST_EMPTY_TEXT   L"" (a NUL only)
//   OPTION TEST_SIZE_ZERO    no bytes (Linux table only: resource compilers drop it)
//   LZMAFILE TEST_HELLO      kTestHelloBlob: "text hello \"resource blob\"\n"
//   LZMAFILE TEST_SHORT      its first 13 bytes
#pragma once
#include <cstdint>
#include <string>

#include "runner/resources.h"

// Made by the xz library's LZMA-alone encoder (lc 3, lp 0, pb 2, 4 KiB dictionary) with the
// size field filled in; the stream ends with the end marker.
inline constexpr uint8_t kTestHelloBlob[] = {
    0x5d, 0x00, 0x10, 0x00, 0x00, 0x1b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3a, 0x19,
    0x4b, 0x78, 0x10, 0x36, 0x93, 0xb9, 0x16, 0x4f, 0x95, 0xf7, 0x1b, 0x03, 0x2a, 0x97, 0x51, 0x5f,
    0x6c, 0x32, 0xe2, 0x05, 0x30, 0x4e, 0xc9, 0x10, 0xa8, 0x12, 0x6b, 0x87, 0xff, 0xff, 0xf7, 0x95,
    0x00, 0x00};

// The user's language, read afresh.
inline std::u16string ReadLanguage() {
  char16_t out[kLanguageNameMax + 1] = {};
  read_user_language(out);
  return out;
}

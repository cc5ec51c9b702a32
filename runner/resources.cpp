#include "runner/resources.h"

#include <cstring>

#include "base/endian.h"
#include "base/format.h"
#include "base/pool.h"
#include "image/lzma_block.h"
#include "runner/diagnostic.h"
#include "usertext/user_text.h"

namespace {

constexpr char16_t kTypeOption[] = u"option";
constexpr char16_t kTypeLzmaFile[] = u"lzmafile";
constexpr char16_t kUserTextBlob[] = u"usertext";
constexpr uint32_t kBlobPadding = 4;  // zero bytes behind a decoded blob

}  // namespace

char16_t* decode_option_text(malloc_i* pool, const uint8_t* bytes, uint32_t size) {
  uint32_t units = size / 2;
  uint32_t length = 0;
  while (length < units && LoadLe16(bytes + 2 * length) != 0) ++length;
  auto* text = static_cast<char16_t*>(pool->Allocate((size_t(length) + 1) * sizeof(char16_t)));
  if (!text) return nullptr;
  for (uint32_t i = 0; i < length; ++i) text[i] = char16_t(LoadLe16(bytes + 2 * i));
  return text;
}

char16_t* read_option_text(malloc_i* pool, const char16_t* name) {
  uint32_t size = 0;
  const uint8_t* bytes = find_resource(kTypeOption, name, &size);
  return decode_option_text(pool, bytes, bytes ? size : 0);
}

void read_option_bool(const char16_t* name, bool* flag) {
  kd_mp_c pool;
  const char16_t* text = read_option_text(&pool, name);
  if (!text || !text[0]) return;
  *flag = ParseNumberOrBool(text, -1) != 0;
}

uint8_t* decode_lzma_blob(malloc_i* pool, const uint8_t* bytes, uint32_t size, uint32_t* length) {
  *length = 0;
  if (!bytes || size <= kLzmaHeaderSize) return nullptr;
  LzmaBlockDecompressor* decoder = nullptr;
  uint32_t declared = 0;
  err_t e = CreateLzmaBlockDecompressor(bytes, &decoder, &declared);
  if (e != kOk) {
    // Rejected properties and a declared size of exactly 0x7FFFFFFF still report the size.
    if (e == kLzmaErrParameter || declared == kLzmaBlobSizeLimit) *length = declared;
    return nullptr;
  }
  auto* out = static_cast<uint8_t*>(pool->Allocate(size_t(declared) + kBlobPadding));
  size_t produced = 0;
  if (out)
    e = decoder->Decode(bytes + kLzmaHeaderSize, size - kLzmaHeaderSize, out, declared, &produced);
  decoder->Release();
  if (!out || e != kOk || produced != declared) return nullptr;
  std::memset(out + declared, 0, kBlobPadding);
  *length = declared;
  return out;
}

uint8_t* read_lzma_blob(malloc_i* pool, const char16_t* name, uint32_t* length) {
  *length = 0;
  if (!name) return nullptr;
  uint32_t size = 0;
  const uint8_t* bytes = find_resource(kTypeLzmaFile, name, &size);
  return decode_lzma_blob(pool, bytes, size, length);
}

const char16_t* user_language_name() {
  static char16_t name[kLanguageNameMax + 1];
  if (!name[0]) read_user_language(name);
  return name;
}

namespace {

void AddUserText(bool report) {
  kd_mp_c pool;
  uint32_t length = 0;
  const uint8_t* data = read_lzma_blob(&pool, kUserTextBlob, &length);
  const char16_t* language = user_language_name();
  if (report) diag_write(u"UserTextAddData lang=%s datalen=%u\n", language, length);
  UserTextAddData(nullptr, language, reinterpret_cast<const char*>(data), data ? length : 0);
}

}  // namespace

void load_user_text() { AddUserText(true); }

// The runner read its texts at start-up, before `use_stderr` was known, so the diagnostic line
// was never written; loaded on first use it is left out, the same.
void load_user_text_on_first_use() {
  UserTextOnFirstUse([] { AddUserText(false); });
}

namespace {

// Language (and optionally territory) of a POSIX locale -> the three-letter language name.
// Entries with a territory come before the plain language they refine.
struct LocaleName {
  const char* locale;  // "de" or "de_AT"
  const char* name;
};
constexpr LocaleName kLocaleNames[] = {
    {"ar", "ARA"},    {"bg", "BGR"},    {"ca", "CAT"},    {"cs", "CSY"},    {"da", "DAN"},
    {"de_AT", "DEA"}, {"de_CH", "DES"}, {"de", "DEU"},    {"el", "ELL"},    {"en_AU", "ENA"},
    {"en_CA", "ENC"}, {"en_GB", "ENG"}, {"en_IE", "ENI"}, {"en_NZ", "ENZ"}, {"en", "ENU"},
    {"es_MX", "ESM"}, {"es", "ESN"},    {"et", "ETI"},    {"fi", "FIN"},    {"fr_BE", "FRB"},
    {"fr_CA", "FRC"}, {"fr_CH", "FRS"}, {"fr", "FRA"},    {"he", "HEB"},    {"hr", "HRV"},
    {"hu", "HUN"},    {"id", "IND"},    {"it_CH", "ITS"}, {"it", "ITA"},    {"ja", "JPN"},
    {"ko", "KOR"},    {"lt", "LTH"},    {"lv", "LVI"},    {"nb", "NOR"},    {"nl_BE", "NLB"},
    {"nl", "NLD"},    {"nn", "NON"},    {"no", "NOR"},    {"pl", "PLK"},    {"pt_BR", "PTB"},
    {"pt", "PTG"},    {"ro", "ROM"},    {"ru", "RUS"},    {"sk", "SKY"},    {"sl", "SLV"},
    {"sr", "SRL"},    {"sv", "SVE"},    {"th", "THA"},    {"tr", "TRK"},    {"uk", "UKR"},
    {"vi", "VIT"},    {"zh_HK", "ZHH"}, {"zh_SG", "ZHI"}, {"zh_TW", "CHT"}, {"zh", "CHS"},
};

// Whether `prefix` is the whole of `locale` up to its codeset or modifier part.
bool LocaleStartsWith(const char* locale, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (std::strncmp(locale, prefix, n) != 0) return false;
  char after = locale[n];
  return after == 0 || after == '.' || after == '@' || (after == '_' && n == 2);
}

}  // namespace

void language_name_from_locale(const char* locale, char16_t out[4]) {
  const char* name = "ENU";
  for (const LocaleName& entry : kLocaleNames) {
    if (locale && LocaleStartsWith(locale, entry.locale)) {
      name = entry.name;
      break;
    }
  }
  for (int i = 0; i < 4; ++i) out[i] = char16_t(name[i]);
}

// The Linux runner's resources: a table compiled into the program in the ELF section
// "isorun_rsrc" (layout in runner/resource_table.h), holding the same types, names and bytes as
// the Windows runner's resource section. The option entries are reserved, zero-filled blocks:
// empty texts, so the defaults hold, until a tool writes a value in place:
//
//   OPTION RUN_EXE                520 bytes (259 UTF-16 units and a NUL)
//   OPTION USE_STDERR              64 bytes
//   OPTION VERIFY_MEDIA            64 bytes
//   OPTION REQUIRE_ADMINISTRATOR   64 bytes
//   OPTION SHOW_PROGRESS           64 bytes (the verify's progress line on a terminal)
//
// The runner's translations, LZMAFILE USERTEXT, sit in a second table of the same section, made
// at build time from runner/usertext.scf (scripts/lzma-resource) and linked into the runner
// program itself, not into the library.
//
// A patcher finds the section through the ELF section headers (or the table marker), then the
// entry by type and name, and writes the UTF-16LE text with its NUL into the entry's data.
//
// The user's language comes from LC_ALL, LC_MESSAGES and LANG, the first that is set.
#include <cstdlib>
#include <initializer_list>

#include "runner/resource_table.h"
#include "runner/resources.h"

namespace {

constexpr RsrcSpec kRunnerResources[] = {
    {"OPTION", "RUN_EXE", 520},      {"OPTION", "USE_STDERR", 64},
    {"OPTION", "VERIFY_MEDIA", 64},  {"OPTION", "REQUIRE_ADMINISTRATOR", 64},
    {"OPTION", "SHOW_PROGRESS", 64},
};
ISORUN_RESOURCE_TABLE(kRunnerTable, kRunnerResources);

}  // namespace

// The linker marks the ends of the section.
extern "C" const uint8_t __start_isorun_rsrc[];
extern "C" const uint8_t __stop_isorun_rsrc[];

const uint8_t* find_resource(const char16_t* type, const char16_t* name, uint32_t* size) {
  *size = 0;
  RsrcLocation at;
  size_t region = size_t(__stop_isorun_rsrc - __start_isorun_rsrc);
  if (!rsrc_table_find(__start_isorun_rsrc, region, type, name, &at) || at.size == 0)
    return nullptr;
  *size = at.size;
  return __start_isorun_rsrc + at.offset;
}

void read_user_language(char16_t out[kLanguageNameMax + 1]) {
  const char* locale = nullptr;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = std::getenv(var);
    if (locale && locale[0]) break;
  }
  language_name_from_locale(locale, out);
}

// Loads arbitrary bytes as localised data into a fresh user-text table, then formats every
// identifier the data left in it, with arguments that hold % forms of their own. The first
// byte chooses test mode and the language.
#include <cstdint>

#include "base/pool.h"
#include "base/text.h"
#include "usertext/user_text.h"
#include "usertext/ut_out.h"

namespace {

constexpr ScfLimits kFuzzLimits = {64, 5000, 4096};

// Reads every line it is given, so a bad pointer shows up under the sanitizers.
class Sink final : public UtOut {
 public:
  int write(const char16_t* text, bool) override {
    units += Utf16Length(text);
    return 0;
  }
  size_t units = 0;
};

void FormatEntry(void* context, const char16_t* id, const char16_t*) {
  auto* map = static_cast<UtMap*>(context);
  kd_mp_c pool;
  const char16_t* args[] = {u"a%1%(x", nullptr, u"%%"};
  for (uint32_t argc : {0u, 3u}) Utf16Length(map->Format(&pool, id, argc, args));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t options = size ? data[0] : 0;
  UtMap* map = UtMap::Create(options & 1);
  if (!map) return 0;
  map->Store(u"seed", 4, u"%(data)%1", 9);
  Sink sink;
  map->AddData(&sink, options & 2 ? u"DEU" : u"ENU", reinterpret_cast<const char*>(data),
               uint32_t(size), &kFuzzLimits);
  map->ForEach(FormatEntry, map);
  map->Destroy();
  return 0;
}

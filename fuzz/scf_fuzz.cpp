// Runs arbitrary bytes as an SCF script, once as UTF-8 and once as raw UTF-16 units, under small
// bounds so that loops, recursion and doubling texts end quickly.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "scf/scf.h"

namespace {

// Reads every text it is given, so a bad pointer shows up under the sanitizers.
class Sink final : public scf_parser_output_i {
 public:
  void out(const char16_t* text) override { units += Utf16Length(text); }
  void err(const char16_t* text) override { units += Utf16Length(text); }
  size_t units = 0;
};

constexpr ScfLimits kFuzzLimits = {64, 5000, 4096};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Sink sink;
  int32_t exit_value = 0;
  ScfRunUtf8(&sink, reinterpret_cast<const char*>(data), size, &exit_value, &kFuzzLimits);

  scf_parser_i* parser = nullptr;
  if (CreateScfParser(&sink, nullptr, &parser, &kFuzzLimits) != kOk) return 0;
  size_t units = size / sizeof(char16_t);
  auto* text = static_cast<char16_t*>(std::malloc((units + 1) * sizeof(char16_t)));
  if (text) {
    if (units) std::memcpy(text, data, units * sizeof(char16_t));
    parser->SetVar(u"langid", u"ENU");
    parser->Parse(text, ptrdiff_t(units));
    std::free(text);
  }
  parser->Release();
  return 0;
}

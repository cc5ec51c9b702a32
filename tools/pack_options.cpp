#include "tools/pack_options.h"

#include <string>
#include <thread>

namespace tool {
namespace {

const Option kPackOptions[] = {
    {"compression", 0, "METHOD", "lzma (default), deflate or none"},
    {"level", 0, "N", "compression level, 0-9 (default 6)"},
    {"hash", 0, "METHOD", "block digests: sha256 (default), crc32 or none"},
    {"block-size", 0, "SIZE", "2K to 4M, a multiple of 32 (default 4M); at most the image's size"},
    {"threads", 0, "N", "compress on N threads (default: every core); output is the same"},
    {"locator", 0, nullptr, "end the container with a trailer locator"},
};

// `text` as one of `names`, whose values are `codes`; false when it is none of them.
bool PickMethod(const std::string& text, const char* const (&names)[3], const uint8_t (&codes)[3],
                uint8_t* out) {
  for (int i = 0; i < 3; ++i)
    if (text == names[i]) {
      *out = codes[i];
      return true;
    }
  return false;
}

}  // namespace

std::vector<Option> WithPackOptions(std::vector<Option> own) {
  own.insert(own.end(), std::begin(kPackOptions), std::end(kPackOptions));
  return own;
}

bool HasPackOptions(const Invocation& inv) {
  for (const Option& o : kPackOptions)
    if (inv.Has(o.name)) return true;
  return false;
}

int ReadPackOptions(const Invocation& inv, ciso::PackOptions* o) {
  if (!PickMethod(inv.Value("compression", "lzma"), {"lzma", "deflate", "none"},
                  {ciso::kLzma, ciso::kDeflate, ciso::kStored}, &o->compression))
    return UsageError(inv, "--compression must be lzma, deflate or none");
  if (!PickMethod(inv.Value("hash", "sha256"), {"sha256", "crc32", "none"},
                  {ciso::kHashSha256, ciso::kHashCrc32, ciso::kHashNone}, &o->hash))
    return UsageError(inv, "--hash must be sha256, crc32 or none");
  uint64_t v;
  if (!ParseNumber(inv.Value("level", "6"), 9, &v) || (o->compression == ciso::kDeflate && v == 0))
    return UsageError(inv, "--level must be 0 to 9 (1 to 9 for deflate)");
  o->level = static_cast<uint32_t>(v);
  if (!ParseSize(inv.Value("block-size", "4M"), &v) || v < ciso::kMinBlockSize ||
      v > ciso::kMaxBlockSize || !ciso::IsAligned(v))
    return UsageError(inv, "--block-size must be a multiple of 32 from 2K to 4M");
  o->block_size = static_cast<uint32_t>(v);
  if (inv.Has("split")) {
    if (!ParseSize(inv.Value("split"), &v) || v < ciso::kMinSplitSize)
      return UsageError(inv, "--split must be a size of at least 4K");
    o->split_size = v;
  }
  o->locator = inv.Has("locator");
  unsigned cores = std::thread::hardware_concurrency();
  if (!ParseNumber(inv.Value("threads", std::to_string(cores ? cores : 1)), 256, &v) || v == 0)
    return UsageError(inv, "--threads must be 1 to 256");
  o->threads = static_cast<uint32_t>(v);
  return kExitOk;
}

}  // namespace tool

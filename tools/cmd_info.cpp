// isorun info FILE [--json]: what a plain image, a container (with its parts) or a runner
// carrying one is made of.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "image/ciso_reader.h"
#include "image/format.h"
#include "tools/commands.h"
#include "tools/paths.h"
#include "tools/progress.h"
#include "tools/reader_open.h"

namespace tool {
namespace {

const char* HashName(uint8_t method) {
  return method == ciso::kHashSha256 ? "sha256" : method == ciso::kHashCrc32 ? "crc32" : "none";
}
const char* CompressionName(uint8_t method) {
  return method == ciso::kLzma ? "lzma" : method == ciso::kDeflate ? "deflate" : "none";
}

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += kDigits[p[i] >> 4], s += kDigits[p[i] & 15];
  return s;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
    else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

double Ratio(uint64_t part, uint64_t whole) { return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0; }

void PrintText(const std::string& path, const char* kind, IsoReader* reader) {
  uint64_t size = reader->ImageSize();
  std::printf("file:         %s\n", path.c_str());
  std::printf("kind:         %s\n", std::string(kind) == "CisoReader" ? "container" : "plain image");
  std::printf("image size:   %" PRIu64 " bytes (%s, %" PRIu64 " sectors)\n", size, HumanSize(size).c_str(),
              (size + 2047) / 2048);
  if (std::string(kind) != "CisoReader") return;
  ciso::ContainerFacts f;
  ciso::DescribeContainer(reader, &f);
  std::printf("blocks:       %" PRIu64 " x %s (last block %u bytes)\n", f.block_count, HumanSize(f.block_size).c_str(),
              f.last_block_size);
  if (f.compression_method == ciso::kLzma)
    std::printf("compression:  lzma (properties 0x%02X)\n", f.lzma_properties);
  else
    std::printf("compression:  %s\n", CompressionName(f.compression_method));
  std::printf("hash:         %s\n", HashName(f.hash_method));
  std::printf("stored:       %" PRIu64 " bytes (%.1f%% of the image); %" PRIu64 " zero blocks, %" PRIu64
              " raw blocks\n",
              f.stored_bytes, Ratio(f.stored_bytes, size), f.zero_blocks, f.raw_blocks);
  std::printf("data stream:  %" PRIu64 " bytes\n", f.stream_length);
  std::printf("patches:      %u\n", f.patch_count);
  std::printf("locator:      %s\n", f.has_locator ? "yes" : "no");
  std::printf("image id:     %s\n", Hex(f.image_id, sizeof f.image_id).c_str());
  std::printf("parts:        %u\n", f.part_count);
  ciso::PartFacts p;
  for (uint32_t i = 0; ciso::DescribePart(reader, i, &p); ++i)
    std::printf("  part %u: %s, bytes %" PRIu64 "-%" PRIu64 " hold stream %" PRIu64 "-%" PRIu64 "\n", i,
                Narrow(p.path).c_str(), p.slice_start, p.slice_end, p.logical_offset,
                p.logical_offset + (p.slice_end - p.slice_start));
}

void PrintJson(const std::string& path, const char* kind, IsoReader* reader) {
  uint64_t size = reader->ImageSize();
  bool container = std::string(kind) == "CisoReader";
  std::printf("{\"file\": %s, \"kind\": \"%s\", \"image_size\": %" PRIu64 ", \"sector_size\": 2048", JsonString(path).c_str(),
              container ? "container" : "plain", size);
  if (container) {
    ciso::ContainerFacts f;
    ciso::DescribeContainer(reader, &f);
    std::printf(", \"block_count\": %" PRIu64 ", \"block_size\": %u, \"last_block_size\": %u", f.block_count,
                f.block_size, f.last_block_size);
    std::printf(", \"compression\": \"%s\", \"lzma_properties\": %u, \"hash\": \"%s\"",
                CompressionName(f.compression_method), f.lzma_properties, HashName(f.hash_method));
    std::printf(", \"stored_bytes\": %" PRIu64 ", \"ratio\": %.4f, \"zero_blocks\": %" PRIu64 ", \"raw_blocks\": %" PRIu64,
                f.stored_bytes, size ? static_cast<double>(f.stored_bytes) / static_cast<double>(size) : 0.0,
                f.zero_blocks, f.raw_blocks);
    std::printf(", \"stream_length\": %" PRIu64 ", \"patches\": %u, \"locator\": %s, \"image_id\": \"%s\", \"parts\": [",
                f.stream_length, f.patch_count, f.has_locator ? "true" : "false",
                Hex(f.image_id, sizeof f.image_id).c_str());
    ciso::PartFacts p;
    for (uint32_t i = 0; ciso::DescribePart(reader, i, &p); ++i)
      std::printf("%s{\"path\": %s, \"slice_start\": %" PRIu64 ", \"slice_end\": %" PRIu64 ", \"stream_offset\": %" PRIu64 "}",
                  i ? ", " : "", JsonString(Narrow(p.path)).c_str(), p.slice_start, p.slice_end, p.logical_offset);
    std::printf("]");
  }
  std::printf("}\n");
}

int RunInfo(const Invocation& inv) {
  if (inv.args.size() != 1) return UsageError(inv, "expects one FILE");
  IsoReader* reader;
  const char* kind;
  if (int rc = OpenReader(inv, inv.args[0], &reader, &kind)) return rc;
  if (inv.Has("json")) PrintJson(inv.args[0], kind, reader);
  else PrintText(inv.args[0], kind, reader);
  reader->Destroy();
  return kExitOk;
}

}  // namespace

Command InfoCommand() {
  return {"info",
          "show how an image, container or runner is made",
          "FILE",
          {{"json", 0, nullptr, "print one JSON object"}},
          RunInfo};
}

}  // namespace tool

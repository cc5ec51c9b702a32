// isorun info FILE [--json]: what a plain image, a container (with its parts) or a runner
// carrying one is made of, and the volumes its media finds.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "image/ciso_reader.h"
#include "image/format.h"
#include "isofs/media.h"
#include "tools/commands.h"
#include "tools/media_paths.h"
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
    if (c == '"' || c == '\\')
      out += '\\', out += static_cast<char>(c);
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

double Ratio(uint64_t part, uint64_t whole) {
  return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0;
}

// One volume directory of ".$media", as the media describes it.
struct VolumeFacts {
  std::string name;  // "volume01", "session02volume01", "udf"
  std::string type;  // "ISO 9660", "Joliet", "UDF", ...
  std::string label;
  uint64_t time = 0;  // when the volume was made, 0 when unknown
  bool main_root = false;
  bool rock_ridge = false;  // an ISO 9660 tree whose Rock Ridge entries give names, modes, links
};

// What the media made of the image: its volumes, or the error that kept it from opening one.
struct MediaFacts {
  err_t error = kOk;
  std::vector<VolumeFacts> volumes;
};

// Node ids for the walk; directories and files after these take ids from kFirstEntryId up.
constexpr uint64_t kMainRootId = 1, kMediaDirectoryId = 2, kImageId = 3, kListStreamId = 4,
                   kFirstEntryId = 5;

// Descriptor fields: type byte, version byte and the escape sequences of a supplementary one.
constexpr uint32_t kDescriptorType = 0, kDescriptorVersion = 6, kDescriptorEscapes = 88,
                   kDescriptorBytes = 120;

// An ISO 9660 volume's kind from its descriptor, which the volume root's file index locates.
std::string IsoVolumeType(SeVolume* volume, uint64_t descriptor_offset) {
  uint8_t d[kDescriptorBytes] = {};
  uint32_t count = 0;
  if (volume->Read(kImageId, descriptor_offset, d, sizeof d, &count) != kOk || count != sizeof d)
    return "ISO 9660";
  if (d[kDescriptorType] == 1) return "ISO 9660";
  if (d[kDescriptorVersion] == 2) return "ISO 9660 enhanced";
  const uint8_t* escapes = d + kDescriptorEscapes;
  if (escapes[0] == '%' && escapes[1] == '/' &&
      (escapes[2] == '@' || escapes[2] == 'C' || escapes[2] == 'E'))
    return "Joliet";
  if (escapes[0] == '%' && escapes[1] == '/') return "ISO 9660 supplementary, UTF-8";
  return "ISO 9660 supplementary";
}

// Walks ".$media" the way `ls --all` reaches it: every volume directory by lookup, its label by
// GetVolumeInfo; the main root is the volume whose root is the entry an empty path looks up.
MediaFacts DescribeMedia(const std::string& path) {
  MediaFacts facts;
  SeVolume* volume = nullptr;
  if ((facts.error = OpenMedia(Wide(path).c_str(), kNoHandle, kNoHandle, &volume)) != kOk)
    return facts;
  SeLookupResult main_root, r;
  std::vector<std::string> names;
  if ((facts.error = MediaPath().Lookup(volume, kMainRootId, &main_root)) != kOk ||
      (facts.error = MediaPath(".$media").Lookup(volume, kMediaDirectoryId, &r)) != kOk ||
      (facts.error = MediaPath(".$media/image.iso").Lookup(volume, kImageId, &r)) != kOk ||
      (facts.error = ListDirectory(volume, kMediaDirectoryId, kListStreamId, &names)) != kOk) {
    ReleaseMedia(volume);
    return facts;
  }
  uint64_t next_id = kFirstEntryId;
  for (const std::string& name : names) {
    if (MediaPath(".$media").Child(name).Lookup(volume, next_id++, &r) != kOk ||
        r.info.type != kSeTypeDirectory)
      continue;  // image.iso and the UDF metadata files are files, not volumes
    VolumeFacts v;
    v.name = name;
    v.type = name == "udf" ? "UDF" : IsoVolumeType(volume, r.info.file_index);
    v.main_root = r.node_id == main_root.node_id;
    // Of the ISO 9660 trees only a Rock Ridge one records modes, its root's included.
    v.rock_ridge = name != "udf" && r.info.mode != 0;
    char16_t* label = nullptr;
    if (volume->GetVolumeInfo(r.node_id, &v.time, &label) == kOk && label) v.label = Narrow(label);
    volume->FreeString(label);
    facts.volumes.push_back(v);
  }
  ReleaseMedia(volume);
  return facts;
}

void PrintVolumesText(const MediaFacts& m) {
  if (m.error != kOk) {
    std::printf("volumes:      none readable (error %u)\n", static_cast<unsigned>(m.error));
    return;
  }
  std::printf("volumes:      %zu\n", m.volumes.size());
  for (const VolumeFacts& v : m.volumes) {
    std::printf("  %s: %s%s, label \"%s\"", v.name.c_str(), v.type.c_str(),
                v.rock_ridge ? " with Rock Ridge" : "", v.label.c_str());
    if (v.time) std::printf(", made %s UTC", TimeText(v.time).c_str());
    std::printf("\n");
  }
  for (const VolumeFacts& v : m.volumes)
    if (v.main_root) std::printf("main root:    %s\n", v.name.c_str());
}

void PrintVolumesJson(const MediaFacts& m) {
  std::printf(", \"volumes\": [");
  const char* main_root = nullptr;
  for (size_t i = 0; i < m.volumes.size(); ++i) {
    const VolumeFacts& v = m.volumes[i];
    std::printf(
        "%s{\"name\": %s, \"type\": %s, \"label\": %s, \"time\": %s, \"main_root\": %s, "
        "\"rock_ridge\": %s}",
        i ? ", " : "", JsonString(v.name).c_str(), JsonString(v.type).c_str(),
        JsonString(v.label).c_str(), v.time ? JsonString(TimeText(v.time)).c_str() : "null",
        v.main_root ? "true" : "false", v.rock_ridge ? "true" : "false");
    if (v.main_root) main_root = v.name.c_str();
  }
  std::printf("], \"main_root\": %s", main_root ? JsonString(main_root).c_str() : "null");
  if (m.error != kOk) std::printf(", \"volumes_error\": %u", static_cast<unsigned>(m.error));
}

void PrintContainerText(IsoReader* reader) {
  uint64_t size = reader->ImageSize();
  ciso::ContainerFacts f;
  ciso::DescribeContainer(reader, &f);
  std::printf("blocks:       %" PRIu64 " x %s (last block %u bytes)\n", f.block_count,
              HumanSize(f.block_size).c_str(), f.last_block_size);
  if (f.compression_method == ciso::kLzma)
    std::printf("compression:  lzma (properties 0x%02X)\n", f.lzma_properties);
  else
    std::printf("compression:  %s\n", CompressionName(f.compression_method));
  std::printf("hash:         %s\n", HashName(f.hash_method));
  std::printf("stored:       %" PRIu64 " bytes (%.1f%% of the image); %" PRIu64
              " zero blocks, %" PRIu64 " raw blocks\n",
              f.stored_bytes, Ratio(f.stored_bytes, size), f.zero_blocks, f.raw_blocks);
  std::printf("data stream:  %" PRIu64 " bytes\n", f.stream_length);
  std::printf("patches:      %u\n", f.patch_count);
  std::printf("locator:      %s\n", f.has_locator ? "yes" : "no");
  std::printf("image id:     %s\n", Hex(f.image_id, sizeof f.image_id).c_str());
  std::printf("parts:        %u\n", f.part_count);
  ciso::PartFacts p;
  for (uint32_t i = 0; ciso::DescribePart(reader, i, &p); ++i)
    std::printf("  part %u: %s, bytes %" PRIu64 "-%" PRIu64 " hold stream %" PRIu64 "-%" PRIu64
                "\n",
                i, ShownPath(p.path).c_str(), p.slice_start, p.slice_end, p.logical_offset,
                p.logical_offset + (p.slice_end - p.slice_start));
}

void PrintText(const std::string& path, const char* kind, IsoReader* reader,
               const MediaFacts& media) {
  uint64_t size = reader->ImageSize();
  std::printf("file:         %s\n", path.c_str());
  std::printf("kind:         %s\n",
              std::string(kind) == "CisoReader" ? "container" : "plain image");
  std::printf("image size:   %" PRIu64 " bytes (%s, %" PRIu64 " sectors)\n", size,
              HumanSize(size).c_str(), (size + 2047) / 2048);
  if (std::string(kind) == "CisoReader") PrintContainerText(reader);
  PrintVolumesText(media);
}

void PrintJson(const std::string& path, const char* kind, IsoReader* reader,
               const MediaFacts& media) {
  uint64_t size = reader->ImageSize();
  bool container = std::string(kind) == "CisoReader";
  std::printf("{\"file\": %s, \"kind\": \"%s\", \"image_size\": %" PRIu64 ", \"sector_size\": 2048",
              JsonString(path).c_str(), container ? "container" : "plain", size);
  if (container) {
    ciso::ContainerFacts f;
    ciso::DescribeContainer(reader, &f);
    std::printf(", \"block_count\": %" PRIu64 ", \"block_size\": %u, \"last_block_size\": %u",
                f.block_count, f.block_size, f.last_block_size);
    std::printf(", \"compression\": \"%s\", \"lzma_properties\": %u, \"hash\": \"%s\"",
                CompressionName(f.compression_method), f.lzma_properties, HashName(f.hash_method));
    std::printf(", \"stored_bytes\": %" PRIu64 ", \"ratio\": %.4f, \"zero_blocks\": %" PRIu64
                ", \"raw_blocks\": %" PRIu64,
                f.stored_bytes,
                size ? static_cast<double>(f.stored_bytes) / static_cast<double>(size) : 0.0,
                f.zero_blocks, f.raw_blocks);
    std::printf(", \"stream_length\": %" PRIu64
                ", \"patches\": %u, \"locator\": %s, \"image_id\": \"%s\", \"parts\": [",
                f.stream_length, f.patch_count, f.has_locator ? "true" : "false",
                Hex(f.image_id, sizeof f.image_id).c_str());
    ciso::PartFacts p;
    for (uint32_t i = 0; ciso::DescribePart(reader, i, &p); ++i)
      std::printf("%s{\"path\": %s, \"slice_start\": %" PRIu64 ", \"slice_end\": %" PRIu64
                  ", \"stream_offset\": %" PRIu64 "}",
                  i ? ", " : "", JsonString(ShownPath(p.path)).c_str(), p.slice_start, p.slice_end,
                  p.logical_offset);
    std::printf("]");
  }
  PrintVolumesJson(media);
  std::printf("}\n");
}

int RunInfo(const Invocation& inv) {
  if (inv.args.size() != 1) return UsageError(inv, "expects one FILE");
  IsoReader* reader;
  const char* kind;
  if (int rc = OpenReader(inv, inv.args[0], &reader, &kind)) return rc;
  MediaFacts media = DescribeMedia(inv.args[0]);
  if (inv.Has("json"))
    PrintJson(inv.args[0], kind, reader, media);
  else
    PrintText(inv.args[0], kind, reader, media);
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

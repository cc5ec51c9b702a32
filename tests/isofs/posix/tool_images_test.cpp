// Images made at test time by real tools from a generated tree, opened as media: the listing
// (names, types, sizes, modification times) must equal what a peer reader (7-Zip) lists, and
// every file must read back as the source file, both from the plain image and from the same
// image packed into a container by the library's packer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "../image_builder.h"
#include "pack/packer.h"
#include "support/shell.h"
#include "support/test_support.h"

using namespace isofs_test;

namespace {

using testing_support::Capture;
using testing_support::Have;
using testing_support::Shell;

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// One line per entry: "path|d" for directories, "path|f|size" for files, each with "|time"
// (UTC, to the second) when `with_times`.
using Listing = std::map<std::string, std::string>;

std::string TimeText(uint64_t t) {
  std::time_t seconds = std::time_t(t / 10000000 - 11644473600LL);
  std::tm tm;
  gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

void Walk(SeVolume* v, const std::string& path, Listing* out, uint64_t* id) {
  std::vector<SeEntryInfo> infos;
  std::vector<std::string> names = ListNames(v, path, ++*id, &infos);
  for (size_t i = 0; i < names.size(); ++i) {
    std::string child = path.empty() ? names[i] : path + "/" + names[i];
    const SeEntryInfo& info = infos[i];
    bool dir = info.type == kSeTypeDirectory;
    (*out)[child] = std::string(dir ? "d" : "f|" + std::to_string(info.size)) + "|" + TimeText(info.modification_time);
    if (dir) Walk(v, child, out, id);
  }
}

// The tree under `root` (empty: the main root), keyed by paths relative to it.
Listing OurListing(SeVolume* v, const std::string& root = "") {
  Listing all, l;
  uint64_t id = 1000;
  Walk(v, root, &all, &id);
  for (auto& [path, value] : all) l[root.empty() ? path : path.substr(root.size() + 1)] = value;
  return l;
}

// 7-Zip's technical listing, in UTC; `type` ("-tiso") picks its reader of the ISO 9660 tree.
Listing PeerListing(const std::string& image, const std::string& type = "") {
  std::string text = Capture("TZ=UTC 7z l -slt " + type + " '" + image + "' 2>/dev/null");
  Listing l;
  size_t start = text.find("\n----------\n");
  if (start == std::string::npos) return l;
  std::istringstream in(text.substr(start + 12));
  std::string line, path, folder, size, modified;
  auto flush = [&] {
    if (!path.empty()) l[path] = (folder == "+" ? "d" : "f|" + size) + "|" + modified.substr(0, 19);
    path.clear(), folder.clear(), size.clear(), modified.clear();
  };
  while (std::getline(in, line)) {
    if (line.empty()) flush();
    auto value = [&](const char* key) { return line.rfind(key, 0) == 0 ? line.substr(std::strlen(key)) : std::string("\x01"); };
    if (std::string v = value("Path = "); v != "\x01") path = v;
    if (std::string v = value("Folder = "); v != "\x01") folder = v;
    if (std::string v = value("Size = "); v != "\x01") size = v;
    if (std::string v = value("Modified = "); v != "\x01") modified = v;
  }
  flush();
  return l;
}

// xorriso's own reading of the image's ISO 9660 tree: `-read_fs nojoliet` gives the primary
// volume with its Rock Ridge names, or without them its names as recorded (version suffixes
// stripped), `norock` the Joliet volume.
// Its ls-style times show the minute for recent dates and only the day (with the year)
// otherwise, so each of `ours` is cut to the precision xorriso shows it with, into *cut;
// entries xorriso does not list stay whole there, so the comparison shows them.
Listing XorrisoListing(const std::string& image, const char* read_fs, const Listing& ours, Listing* cut) {
  std::istringstream in(Capture("TZ=UTC xorriso -read_fs " + std::string(read_fs) +
                                " -ecma119_map stripped -indev '" + image + "' -find / -exec lsdl 2>/dev/null"));
  static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  Listing l;
  *cut = ours;
  for (std::string line; std::getline(in, line);) {
    size_t quote = line.find("'/");
    if (quote == std::string::npos || line.back() != '\'' || line.size() < quote + 4) continue;
    std::string path = line.substr(quote + 2, line.size() - quote - 3);
    std::istringstream fields(line.substr(0, quote));
    std::string mode, links, uid, gid, size, month, day, last;
    fields >> mode >> links >> uid >> gid >> size >> month >> day >> last;
    char md[8];
    std::snprintf(md, sizeof md, "%02d-%02d", int(kMonths.find(month) / 3 + 1), std::atoi(day.c_str()));
    bool recent = last.find(':') != std::string::npos;
    l[path] = (mode[0] == 'd' ? "d" : "f|" + size) + "|" + (recent ? std::string(md) + " " + last : last + "-" + md);
    if (auto it = cut->find(path); it != cut->end() && it->second.size() >= 19) {
      std::string& v = it->second;  // "...|YYYY-MM-DD HH:MM:SS"
      std::string t = v.substr(v.size() - 19);
      v = v.substr(0, v.size() - 19) + (recent ? t.substr(5, 11) : t.substr(0, 10));
    }
  }
  return l;
}

// `isorun ls -l -R` of the image, when the tool is built: type, size, time and path columns.
bool ToolListing(const std::string& image, Listing* out) {
  std::string isorun = testing_support::BinDir() + "/isorun";
  if (!Have("'" + isorun + "'")) return false;
  std::istringstream in(Capture("'" + isorun + "' ls -l -R '" + image + "'"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 38) continue;
    std::string size = line.substr(4, 12);
    size.erase(0, size.find_first_not_of(' '));
    (*out)[line.substr(37)] = (line[0] == 'd' ? "d" : "f|" + size) + "|" + line.substr(17, 19);
  }
  return true;
}

class ToolImages : public testing::Test {
 protected:
  void SetUp() override {
    if (!Have("7z")) {
      // make check sets ISORUN_REQUIRE_PEERS=1: there, a run without the comparison fails.
      if (const char* required = std::getenv("ISORUN_REQUIRE_PEERS"); required && std::string(required) == "1")
        FAIL() << "7-Zip (the peer reader) is not installed; scripts/bootstrap installs p7zip-full";
      GTEST_SKIP() << "7-Zip (the peer reader) is not installed";
    }
    tree = dir.path() + "/tree";
    Shell("mkdir -p '" + tree + "/sub/deeper'");
    Write("readme.txt", 70000, 1);
    Write("sub/data.bin", 150000, 2);
    Write("sub/deeper/empty.txt", 0, 3);
    Write("Mixed Case Name.txt", 1234, 4);
    Write("a_rather_long_file_name_for_joliet.text", 4097, 5);
    Write("exact.bin", 4096, 6);
    // Distinct times, recorded by the tools in their own zone (+05:30).
    Shell("cd '" + tree + "' && TZ=UTC touch -d '2019-05-06 07:08:09' readme.txt sub/data.bin && "
        "TZ=UTC touch -d '2001-02-03 04:05:06' sub sub/deeper");
  }

  void Write(const std::string& name, size_t size, uint32_t seed) {
    Bytes b(size);
    uint32_t x = seed;
    for (auto& c : b) x = x * 1664525u + 1013904223u, c = uint8_t(x >> 24);
    std::ofstream(tree + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    files[name] = b;
  }

  // Lists and reads an image file: the listing must equal the peer's; every source file must
  // read back whole by its name in `names` (source name -> name in the image).
  void Check(const std::string& image, const std::map<std::string, std::string>& names, bool peer = true) {
    SeVolume* v = nullptr;
    ASSERT_EQ(OpenMedia(Wide(image).c_str(), kNoHandle, kNoHandle, &v), kOk) << image;
    Listing ours = OurListing(v);
    if (peer) {
      Listing theirs = PeerListing(image), tool;
      EXPECT_EQ(ours, theirs) << image;
      if (ToolListing(image, &tool)) {
        EXPECT_EQ(tool, theirs) << "isorun ls -l -R " << image;
      }
      CheckIsoVolumes(v, image);
    }
    for (auto& [source, inside] : names) EXPECT_EQ(ReadFile(v, inside, 65536 + 7), files[source]) << inside;
    ReleaseMedia(v);
  }

  // Every ISO 9660 volume under ".$media" against xorriso (volume01 is the primary volume, with
  // its Rock Ridge names where it has them, volume02 the Joliet one in these images); beside a UDF main root, the Joliet volume also
  // against 7-Zip's reader of the ISO 9660 tree.
  void CheckIsoVolumes(SeVolume* v, const std::string& image) {
    std::vector<std::string> media = ListNames(v, ".$media");
    bool udf = std::find(media.begin(), media.end(), "udf") != media.end();
    for (const std::string& volume : media) {
      if (volume.rfind("volume", 0) != 0) continue;
      Listing ours = OurListing(v, ".$media/" + volume), cut;
      if (udf && volume == "volume02") {
        EXPECT_EQ(ours, PeerListing(image, "-tiso")) << volume << " of " << image;
      }
      if (!Have("xorriso")) continue;
      // "nojoliet": Rock Ridge names where the primary volume has them, else the recorded ones.
      Listing theirs = XorrisoListing(image, volume == "volume01" ? "nojoliet" : "norock", ours, &cut);
      EXPECT_FALSE(theirs.empty()) << volume << " of " << image;
      EXPECT_EQ(cut, theirs) << volume << " of " << image << " against xorriso";
    }
  }

  // The same image packed into a container must read the same.
  void CheckPacked(const std::string& image, const std::map<std::string, std::string>& names) {
    Bytes plain = ReadBytes(image);
    struct In final : ciso::PackInput {
      const Bytes* b;
      err_t Read(uint64_t offset, void* buffer, uint32_t length) override {
        if (offset + length > b->size()) return kErrHandleEof;
        std::memcpy(buffer, b->data() + offset, length);
        return kOk;
      }
    } in;
    in.b = &plain;
    struct Out final : ciso::PackOutput {
      Bytes bytes;
      err_t BeginPart(uint32_t number) override { return number == 0 ? kOk : kErrInvalidParameter; }
      err_t Write(const void* data, uint32_t length) override {
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
        return kOk;
      }
      err_t RewriteHeader(uint32_t, const uint8_t* header) override {
        std::memcpy(bytes.data(), header, ciso::kPartHeaderSize);
        return kOk;
      }
    } out;
    ciso::PackOptions options;
    options.block_size = 16384, options.level = 1;
    ciso::PackResult result;
    ASSERT_EQ(ciso::PackContainer(&in, plain.size(), &out, options, &result), kOk);
    std::string packed = image + ".ciso";
    std::ofstream(packed, std::ios::binary).write(reinterpret_cast<const char*>(out.bytes.data()), out.bytes.size());
    SeVolume* v = nullptr;
    ASSERT_EQ(OpenMedia(Wide(packed).c_str(), kNoHandle, kNoHandle, &v), kOk);
    EXPECT_EQ(OurListing(v), PeerListing(image));
    for (auto& [source, inside] : names) EXPECT_EQ(ReadFile(v, inside), files[source]) << inside;
    EXPECT_EQ(v->Verify(nullptr), kOk);
    ReleaseMedia(v);
  }

  std::map<std::string, std::string> SameNames() const {
    std::map<std::string, std::string> m;
    for (auto& [name, bytes] : files) m[name] = name;
    return m;
  }

  testing_support::ScratchDir dir;
  std::string tree;
  std::map<std::string, Bytes> files;
};

TEST_F(ToolImages, XorrisoJolietWithRockRidge) {
  if (!Have("xorriso")) GTEST_SKIP();
  // Recipe: xorriso -as mkisofs -J -R -o image.iso tree/
  std::string iso = dir.path() + "/x.iso";
  ASSERT_EQ(Shell("TZ=Asia/Kolkata xorriso -as mkisofs -quiet -J -R -o '" + iso + "' '" + tree + "'"), 0);
  Check(iso, SameNames());
  CheckPacked(iso, SameNames());
}

TEST_F(ToolImages, GenisoimageLevelOneNames) {
  if (!Have("genisoimage")) GTEST_SKIP();
  // Recipe: genisoimage -o image.iso tree/ (8.3 upper-case names with ";1" versions)
  std::string iso = dir.path() + "/g.iso";
  ASSERT_EQ(Shell("TZ=Asia/Kolkata genisoimage -quiet -o '" + iso + "' '" + tree + "'"), 0);
  Check(iso, {{"readme.txt", "README.TXT"}, {"sub/data.bin", "SUB/DATA.BIN"}, {"exact.bin", "EXACT.BIN"}});
}

TEST_F(ToolImages, GenisoimageUdfBridge) {
  if (!Have("genisoimage")) GTEST_SKIP();
  // Recipe: genisoimage -J -udf -o image.iso tree/ (UDF 1.02 beside ISO 9660 and Joliet)
  std::string iso = dir.path() + "/u.iso";
  ASSERT_EQ(Shell("TZ=Asia/Kolkata genisoimage -quiet -J -udf -o '" + iso + "' '" + tree + "'"), 0);
  Check(iso, SameNames());
  SeVolume* v = nullptr;
  ASSERT_EQ(OpenMedia(Wide(iso).c_str(), kNoHandle, kNoHandle, &v), kOk);
  EXPECT_EQ(ListNames(v, ".$media"), (std::vector<std::string>{"image.iso", "udf", "volume01", "volume02"}));
  ReleaseMedia(v);
  CheckPacked(iso, SameNames());
}

TEST_F(ToolImages, PycdlibUdf260) {
  if (Shell("/usr/bin/python3 -c 'import pycdlib'") != 0) GTEST_SKIP() << "pycdlib is not installed";
  // Recipe: pycdlib's PyCdlib.new(udf='2.60', joliet=3), every file added under its UDF name.
  std::string iso = dir.path() + "/p.iso", script = dir.path() + "/make.py";
  std::ofstream(script) << "import os, sys, pycdlib\n"
                           "tree, out = sys.argv[1], sys.argv[2]\n"
                           "iso = pycdlib.PyCdlib(); iso.new(udf='2.60', joliet=3)\n"
                           "n = 0\n"
                           "for root, dirs, files in os.walk(tree):\n"
                           "  rel = os.path.relpath(root, tree)\n"
                           "  for d in sorted(dirs):\n"
                           "    n += 1; p = '/' + os.path.normpath(os.path.join(rel, d))\n"
                           "    iso.add_directory('/D%d' % n, udf_path=p, joliet_path=p)\n"
                           "  for f in sorted(files):\n"
                           "    n += 1; p = '/' + os.path.normpath(os.path.join(rel, f))\n"
                           "    iso.add_file(os.path.join(root, f), '/F%d.;1' % n, udf_path=p, joliet_path=p)\n"
                           "iso.write(out)\n";
  ASSERT_EQ(Shell("/usr/bin/python3 '" + script + "' '" + tree + "' '" + iso + "'"), 0);
  Check(iso, SameNames());
  CheckPacked(iso, SameNames());
}

TEST_F(ToolImages, MkudffsEmptyVolumes) {
  if (!Have("mkudffs") && !Have("/usr/sbin/mkudffs")) GTEST_SKIP();
  // Recipes: mkudffs -b 2048 [-m hd|bdr|cdrw] -r REV image (an empty file system); cdrw gives
  // a sparable partition map with its sparing tables. The label is the file set identifier,
  // the last of the identifiers that is not empty.
  const char* variants[] = {"--udfrev=0x0102", "--media-type=hd --udfrev=0x0201",
                            "--media-type=bdr --udfrev=0x0250", "--media-type=cdrw --udfrev=0x0150",
                            "--media-type=cdrw --udfrev=0x0201"};
  for (const char* variant : variants) {
    std::string img = dir.path() + "/empty.udf";
    std::remove(img.c_str());
    Shell("truncate -s 8M '" + img + "'");
    ASSERT_EQ(Shell(std::string("PATH=$PATH:/usr/sbin mkudffs -b 2048 ") + variant + " --label=VOLUME --fsid=FILESET '" + img + "'"), 0);
    SeVolume* v = nullptr;
    ASSERT_EQ(OpenMedia(Wide(img).c_str(), kNoHandle, kNoHandle, &v), kOk) << variant;
    EXPECT_EQ(ListNames(v, ".$media"), (std::vector<std::string>{"image.iso", "udf"})) << variant;
    EXPECT_EQ(ListNames(v, ""), std::vector<std::string>{}) << variant;
    uint64_t time;
    char16_t* label = nullptr;
    ASSERT_EQ(v->GetVolumeInfo(0, &time, &label), kOk);
    EXPECT_EQ(std::u16string(label), u"FILESET") << variant;
    v->FreeString(label);
    ReleaseMedia(v);
  }
  // The write-once volume's file set lies in its virtual partition: cut to the sectors
  // recorded (up to the table's File Entry, which mkudffs reports) it still opens, and without
  // the table it cannot.
  std::string img = dir.path() + "/bdr.udf";
  Shell("truncate -s 8M '" + img + "'");
  std::string made = Capture("PATH=$PATH:/usr/sbin mkudffs -b 2048 --media-type=bdr --udfrev=0x0250 '" + img + "' 2>/dev/null");
  size_t at = made.find("vatblock=");
  ASSERT_NE(at, std::string::npos) << made;
  long table = std::atol(made.c_str() + at + 9);
  ASSERT_EQ(Shell("truncate -s " + std::to_string((table + 1) * 2048) + " '" + img + "'"), 0);
  SeVolume* v = nullptr;
  ASSERT_EQ(OpenMedia(Wide(img).c_str(), kNoHandle, kNoHandle, &v), kOk);
  EXPECT_EQ(ListNames(v, ".$media"), (std::vector<std::string>{"image.iso", "udf"}));
  ReleaseMedia(v);
  ASSERT_EQ(Shell("dd if=/dev/zero of='" + img + "' bs=2048 seek=" + std::to_string(table) + " count=1 conv=notrunc"), 0);
  EXPECT_EQ(OpenMedia(Wide(img).c_str(), kNoHandle, kNoHandle, &v), kErrBadFormat);
}

}  // namespace

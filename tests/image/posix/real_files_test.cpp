// The readers over real files: an ISO made by xorriso from a generated tree, its container as
// one file and as part files found by the sibling scan, and a signed runner-like PE carrying the
// container before its Authenticode signature (osslsigncode with a throw-away certificate).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "../container_fixture.h"
#include "image/source.h"
#include "support/test_support.h"

using testing_support::Bytes;

namespace {

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Opens through the registry over real files and reads the whole image.
err_t ReadThrough(const std::string& path, Bytes* image, std::string* kind) {
  IsoReader* reader;
  const char* name = nullptr;
  err_t e = OpenImageFile(Wide(path).c_str(), &reader, &name);
  if (e) return e;
  *kind = name;
  e = testing_support::ReadAll(reader, image, 65536);
  reader->Destroy();
  return e;
}

class RealFiles : public testing::Test {
 protected:
  void SetUp() override {
    if (!Have("xorriso")) GTEST_SKIP() << "xorriso is not installed";
    // Recipe: xorriso -as mkisofs -quiet -J -o image.iso tree/
    std::string tree = dir + "/tree";
    std::system(("mkdir -p '" + tree + "/sub'").c_str());
    WriteBytes(tree + "/readme.txt", testing_support::SampleImage(70000, 1));
    WriteBytes(tree + "/sub/data.bin", testing_support::SampleImage(150000, 2));
    ASSERT_EQ(std::system(("xorriso -as mkisofs -quiet -J -o '" + iso + "' '" + tree + "' 2>/dev/null").c_str()), 0);
    image = ReadBytes(iso);
    ASSERT_GT(image.size(), 0x8800u);
  }

  std::vector<Bytes> Pack(uint64_t split) {
    ciso::PackOptions o;
    o.block_size = 16384, o.level = 1, o.split_size = split;
    return testing_support::Pack(image, o);
  }

  testing_support::ScratchDir scratch;
  std::string dir = scratch.path();
  std::string iso = dir + "/image.iso";
  Bytes image;
};

TEST_F(RealFiles, PlainImageGoesToIsoDd) {
  Bytes back;
  std::string kind;
  ASSERT_EQ(ReadThrough(iso, &back, &kind), kOk);
  EXPECT_EQ(kind, "IsoDd");
  EXPECT_EQ(back, image);
}

TEST_F(RealFiles, ContainerAndSiblingParts) {
  WriteBytes(dir + "/one.ciso", Pack(0)[0]);
  std::vector<Bytes> parts = Pack(8192);
  ASSERT_GT(parts.size(), 3u);
  for (size_t n = 0; n < parts.size(); ++n) {
    char name[64];
    std::snprintf(name, sizeof name, n ? "/SET.CISO.%03zu" : "/set.ciso", n);  // names match without case
    WriteBytes(dir + name, parts[n]);
  }
  WriteBytes(dir + "/set.ciso.unrelated", Bytes(4096, 'u'));
  std::system(("mkdir '" + dir + "/set.ciso.dir'").c_str());
  for (const char* file : {"/one.ciso", "/set.ciso"}) {
    Bytes back;
    std::string kind;
    ASSERT_EQ(ReadThrough(dir + file, &back, &kind), kOk) << file;
    EXPECT_EQ(kind, "CisoReader");
    EXPECT_EQ(back, image);
  }
  std::remove((dir + "/SET.CISO.002").c_str());
  Bytes back;
  std::string kind;
  EXPECT_EQ(ReadThrough(dir + "/set.ciso", &back, &kind), kErrBadFormat);
}

// A PE whose one section ends at 0x610; the container starts at the next 32-byte boundary.
Bytes HostPe() {
  Bytes b(0x620, 0);
  auto le16 = [&](size_t at, uint16_t v) { StoreLe16(b.data() + at, v); };
  auto le32 = [&](size_t at, uint32_t v) { StoreLe32(b.data() + at, v); };
  le16(0, 0x5A4D), le32(60, 0x80);
  std::memcpy(b.data() + 0x80, "PE\0\0", 4);
  le16(0x84, 0x14C), le16(0x86, 1), le16(0x94, 224), le16(0x96, 0x102);
  le16(0x98, 0x10B), le32(0x98 + 32, 0x1000), le32(0x98 + 36, 0x200), le32(0x98 + 56, 0x2000);
  le32(0x98 + 60, 0x400), le16(0x98 + 68, 3), le32(0x98 + 92, 16);
  size_t s = 0x98 + 224;
  std::memcpy(b.data() + s, ".text", 5);
  le32(s + 8, 0x210), le32(s + 12, 0x1000), le32(s + 16, 0x210), le32(s + 20, 0x400);
  return b;
}

TEST_F(RealFiles, SignedHostKeepsItsContainer) {
  if (!Have("osslsigncode") || !Have("openssl")) GTEST_SKIP() << "osslsigncode or openssl is missing";
  Bytes exe = HostPe();
  Bytes container = Pack(0)[0];
  exe.insert(exe.end(), container.begin(), container.end());
  WriteBytes(dir + "/setup.exe", exe);
  Bytes back;
  std::string kind;
  ASSERT_EQ(ReadThrough(dir + "/setup.exe", &back, &kind), kOk);
  EXPECT_EQ(back, image);
  std::string key = dir + "/key.pem", cert = dir + "/cert.pem";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=isorun-test -days 1 -keyout '" + key +
                         "' -out '" + cert + "' >/dev/null 2>&1").c_str()),
            0);
  ASSERT_EQ(std::system(("osslsigncode sign -certs '" + cert + "' -key '" + key + "' -in '" + dir +
                         "/setup.exe' -out '" + dir + "/signed.exe' >/dev/null 2>&1").c_str()),
            0);
  Bytes signed_exe = ReadBytes(dir + "/signed.exe");
  ASSERT_GT(signed_exe.size(), exe.size()) << "no certificate table was added";
  back.clear();
  ASSERT_EQ(ReadThrough(dir + "/signed.exe", &back, &kind), kOk);
  EXPECT_EQ(kind, "CisoReader");
  EXPECT_EQ(back, image);
}

}  // namespace

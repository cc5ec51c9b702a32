// isorun pack, info and verify, run in-process on files in a scratch folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tools/tool.h"
#include "tools/tool_run.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// A plain image the registry recognises: text, noise and zeros, "CD001" in sector 16.
std::string MakeImage(const std::string& dir, size_t size) {
  std::vector<uint8_t> b(size);
  uint32_t x = 9;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    size_t sector = i / 2048;
    b[i] = sector % 3 == 0 ? uint8_t("plain image text "[i % 17]) : sector % 3 == 1 ? uint8_t(x >> 24) : 0;
  }
  std::memcpy(b.data() + 0x8000, "\x01" "CD001\x01", 7);
  std::string path = dir + "/image.iso";
  WriteFile(path, b);
  return path;
}

class ContainerCommands : public testing::Test {
 protected:
  testing_support::ScratchDir scratch;
  std::string dir = scratch.path();
  std::string image = MakeImage(dir, 300 * 1024);
};

TEST_F(ContainerCommands, PackInfoVerify) {
  std::string out = dir + "/image.ciso";
  ToolRun pack = RunTool({"pack", image, "-o", out, "--block-size", "32K", "--threads", "2"});
  ASSERT_EQ(pack.code, 0) << pack.err;
  EXPECT_NE(pack.out.find("1 part"), std::string::npos) << pack.out;
  ToolRun info = RunTool({"info", out, "--json"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("\"kind\": \"container\""), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"compression\": \"lzma\""), std::string::npos);
  EXPECT_NE(info.out.find("\"hash\": \"sha256\""), std::string::npos);
  EXPECT_NE(info.out.find("\"image_size\": 307200"), std::string::npos);
  ToolRun text = RunTool({"info", out});
  EXPECT_NE(text.out.find("lzma (properties 0x5D)"), std::string::npos) << text.out;
  ToolRun verify = RunTool({"verify", out});
  EXPECT_EQ(verify.code, 0) << verify.err;
  EXPECT_NE(verify.out.find("OK"), std::string::npos);
  EXPECT_EQ(RunTool({"verify", "--full", out}).code, 0);
  // The plain image itself opens too.
  ToolRun plain = RunTool({"info", image, "--json"});
  EXPECT_NE(plain.out.find("\"kind\": \"plain\""), std::string::npos) << plain.out;
  EXPECT_EQ(RunTool({"verify", image}).code, 0);
}

TEST_F(ContainerCommands, ThreadCountDoesNotChangeTheOutput) {
  ASSERT_EQ(RunTool({"pack", image, "-o", dir + "/one", "--block-size", "16K", "--threads", "1"}).code, 0);
  ASSERT_EQ(RunTool({"pack", image, "-o", dir + "/three", "--block-size", "16K", "--threads", "3"}).code, 0);
  EXPECT_EQ(ReadFile(dir + "/one"), ReadFile(dir + "/three"));
}

TEST_F(ContainerCommands, SplitPartsAreFoundAndAMissingOneIsReported) {
  std::string out = dir + "/split.ciso";
  ToolRun pack = RunTool({"pack", image, "-o", out, "--split", "64K", "--compression", "none", "--hash", "crc32",
                      "--block-size", "8K", "--locator"});
  ASSERT_EQ(pack.code, 0) << pack.err;
  ToolRun info = RunTool({"info", out, "--json"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("split.ciso.004"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"locator\": true"), std::string::npos);
  EXPECT_EQ(RunTool({"verify", out}).code, 0);
  std::remove((out + ".002").c_str());
  ToolRun broken = RunTool({"verify", out});
  EXPECT_EQ(broken.code, 1);
  EXPECT_NE(broken.err.find("isorun: verify: "), std::string::npos) << broken.err;
  EXPECT_NE(broken.err.find("(error 11)"), std::string::npos) << broken.err;
}

// One flipped byte of a block's stored bytes: verify names the image offset of that block, not
// of the 256 KiB step that met it, in both modes and for blocks smaller and larger than a sector.
TEST_F(ContainerCommands, VerifyNamesTheBlockThatFailed) {
  struct Case {
    const char* block_size;
    uint64_t flipped;  // image offset of the flipped byte
    const char* named;
  };
  for (Case c : {Case{"2K", 51200 + 100, "image offset 51200 "}, Case{"8K", 51200 + 100, "image offset 49152 "},
                 Case{"64K", 200000, "image offset 196608 "}}) {
    SCOPED_TRACE(c.block_size);
    std::string out = dir + "/flipped.ciso";
    ASSERT_EQ(RunTool({"pack", image, "-o", out, "--compression", "none", "--hash", "sha256", "--block-size",
                       c.block_size}).code, 0);
    std::vector<uint8_t> bytes = ReadFile(out);
    bytes.at(96 + c.flipped) ^= 0x20;  // stored blocks follow the 96-byte part header as they are
    WriteFile(out, bytes);
    for (const char* mode : {"", "--full"}) {
      ToolRun r = *mode ? RunTool({"verify", mode, out}) : RunTool({"verify", out});
      EXPECT_EQ(r.code, 1);
      EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("(error 11)"), std::string::npos) << r.err;
    }
  }
}

TEST_F(ContainerCommands, RepackingRemovesStalePartsOnly) {
  std::string out = dir + "/re.ciso";
  ASSERT_EQ(RunTool({"pack", image, "-o", out, "--split", "64K", "--compression", "none", "--block-size", "8K"}).code, 0);
  ASSERT_FALSE(ReadFile(out + ".003").empty());
  WriteFile(out + ".002", std::vector<uint8_t>(10, 'x'));  // not a part: the stale run ends here
  ASSERT_EQ(RunTool({"pack", image, "-o", out, "--block-size", "8K"}).code, 0);
  EXPECT_TRUE(ReadFile(out + ".001").empty());
  EXPECT_EQ(ReadFile(out + ".002").size(), 10u);
  EXPECT_EQ(RunTool({"verify", out}).code, 0);
}

// Output over the input: refused by file identity, and a refused or failed pack leaves what
// was there before, input and earlier output alike, with no temporary files behind.
TEST_F(ContainerCommands, PackNeverOverwritesItsInput) {
  const std::vector<uint8_t> original = ReadFile(image);
  for (const std::string& out : {image, dir + "/./image.iso"}) {
    ToolRun same = RunTool({"pack", image, "-o", out, "--block-size", "64K"});
    EXPECT_EQ(same.code, 1);
    EXPECT_NE(same.err.find("(error 87)"), std::string::npos) << same.err;
    EXPECT_EQ(same.err.find('\n'), same.err.size() - 1) << "one line";
    EXPECT_EQ(ReadFile(image), original);
  }
  std::string out = dir + "/set";
  ASSERT_EQ(RunTool({"pack", image, "-o", out, "--block-size", "8K"}).code, 0);
  const std::vector<uint8_t> earlier = ReadFile(out);
  WriteFile(out + ".001", original);
  ToolRun part = RunTool({"pack", out + ".001", "-o", out, "--split", "64K", "--compression", "none", "--block-size", "8K"});
  EXPECT_EQ(part.code, 1);
  EXPECT_NE(part.err.find("set.001 is the image being packed (error 87)"), std::string::npos) << part.err;
  EXPECT_EQ(ReadFile(out + ".001"), original);
  EXPECT_EQ(ReadFile(out), earlier);
  EXPECT_TRUE(ReadFile(out + ".isorun-partial").empty());
  // Packing a part name's file from elsewhere works, and the old parts' stale removal spares it.
  ASSERT_EQ(RunTool({"pack", image, "-o", out, "--block-size", "8K"}).code, 0);
  EXPECT_EQ(ReadFile(out + ".001"), original);
}

// The same for sfx: a runner part that would land on the input, read through while the runner
// is written, is refused and an earlier runner stays as it was.
TEST_F(ContainerCommands, SfxNeverOverwritesItsInput) {
  std::string stub = testing_support::BinDir() + "/isorun-sfx.exe";
  if (ReadFile(stub).empty()) stub = testing_support::BinDir() + "/isorun-sfx";
  if (ReadFile(stub).empty()) GTEST_SKIP() << "no runner stub built";
  const std::vector<uint8_t> original = ReadFile(image);
  std::string out = dir + "/setup";
  ASSERT_EQ(RunTool({"sfx", image, "-o", out, "--stub", stub, "--threads", "1"}).code, 0);
  const std::vector<uint8_t> earlier = ReadFile(out);
  WriteFile(out + ".001", original);
  ToolRun part = RunTool({"sfx", out + ".001", "-o", out, "--stub", stub, "--split", "64K", "--threads", "1"});
  EXPECT_EQ(part.code, 1);
  EXPECT_NE(part.err.find("setup.001 is the INPUT"), std::string::npos) << part.err;
  EXPECT_EQ(ReadFile(out + ".001"), original);
  EXPECT_EQ(ReadFile(out), earlier);
  EXPECT_TRUE(ReadFile(out + ".isorun-partial").empty());
  ToolRun same = RunTool({"sfx", image, "-o", dir + "/./image.iso", "--stub", stub});
  EXPECT_EQ(same.code, 1);
  EXPECT_NE(same.err.find("(error 87)"), std::string::npos) << same.err;
  EXPECT_EQ(ReadFile(image), original);
  // An input that is no image, and a usage error, leave an earlier runner alone too.
  WriteFile(dir + "/notes.txt", std::vector<uint8_t>(5000, 'n'));
  EXPECT_EQ(RunTool({"sfx", dir + "/notes.txt", "-o", out, "--stub", stub}).code, 1);
  EXPECT_EQ(RunTool({"sfx", image, "-o", out, "--stub", stub, "--run", "../up.exe"}).code, 2);
  EXPECT_EQ(ReadFile(out), earlier);
}

// sfx packs with pack's options; a container given with none of them is appended as it is.
TEST_F(ContainerCommands, SfxTakesThePackingOptions) {
  std::string stub = testing_support::BinDir() + "/isorun-sfx.exe";
  if (ReadFile(stub).empty()) stub = testing_support::BinDir() + "/isorun-sfx";
  if (ReadFile(stub).empty()) GTEST_SKIP() << "no runner stub built";
  std::string out = dir + "/setup.exe";
  ToolRun sfx = RunTool({"sfx", image, "-o", out, "--stub", stub, "--compression", "deflate",
                         "--hash", "crc32", "--block-size", "64K", "--level", "1", "--locator"});
  ASSERT_EQ(sfx.code, 0) << sfx.err;
  ToolRun info = RunTool({"info", out, "--json"});
  EXPECT_NE(info.out.find("\"compression\": \"deflate\""), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"hash\": \"crc32\""), std::string::npos);
  EXPECT_NE(info.out.find("\"block_size\": 65536"), std::string::npos);
  EXPECT_EQ(RunTool({"verify", out}).code, 0);
  std::string container = dir + "/image.ciso";
  ASSERT_EQ(RunTool({"pack", image, "-o", container, "--hash", "crc32"}).code, 0);
  ASSERT_EQ(RunTool({"sfx", container, "-o", out, "--stub", stub}).code, 0);
  std::vector<uint8_t> runner = ReadFile(out), packed = ReadFile(container);
  ASSERT_GT(runner.size(), packed.size());
  EXPECT_TRUE(std::equal(packed.begin(), packed.end(), runner.end() - packed.size()));
  ToolRun bad = RunTool({"sfx", image, "-o", out, "--stub", stub, "--compression", "zip"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("--compression must be"), std::string::npos) << bad.err;
}

TEST_F(ContainerCommands, CorruptBlockFailsVerify) {
  std::string out = dir + "/bad.ciso";
  ASSERT_EQ(RunTool({"pack", image, "-o", out, "--block-size", "8K", "--compression", "deflate"}).code, 0);
  std::vector<uint8_t> bytes = ReadFile(out);
  bytes[96 + 100] ^= 0x10;  // inside the first stored block
  WriteFile(out, bytes);
  ToolRun verify = RunTool({"verify", out});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.err.find("(error 11)"), std::string::npos) << verify.err;
  EXPECT_EQ(verify.err.find('\n'), verify.err.size() - 1) << "one line";
}

// A stored size in the block table beyond the block size: verify's error line names the block.
TEST_F(ContainerCommands, DamagedBlockTableReasonNamesTheBlock) {
  std::string out = dir + "/table.ciso";
  ASSERT_EQ(RunTool({"pack", image, "-o", out, "--block-size", "8K", "--compression", "deflate", "--hash", "none"}).code, 0);
  std::vector<uint8_t> bytes = ReadFile(out);
  // Without digests the size table, 32-byte aligned, ends the data stream before the trailer.
  size_t blocks = (300 * 1024 + 8191) / 8192, table = bytes.size() - 192 - ((blocks * 4 + 31) & ~size_t{31});
  bytes.at(table + 4 * 17 + 1) = 0x9C;  // block 17: 40,000-odd bytes
  WriteFile(out, bytes);
  ToolRun verify = RunTool({"verify", out});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.err.find("(error 11): block 17: stored size "), std::string::npos) << verify.err;
  EXPECT_NE(verify.err.find("exceeds the block size 8192"), std::string::npos) << verify.err;
}

TEST_F(ContainerCommands, Patches) {
  std::vector<uint8_t> payload(100, 0xAB);
  WriteFile(dir + "/patch.bin", payload);
  std::string out = dir + "/patched.ciso";
  ToolRun pack = RunTool({"pack", image, "-o", out, "--block-size", "4K", "--patch", "0x8808:" + dir + "/patch.bin"});
  ASSERT_EQ(pack.code, 0) << pack.err;
  EXPECT_NE(RunTool({"info", out}).out.find("patches:      1"), std::string::npos);
}

TEST_F(ContainerCommands, UsageAndOpenErrors) {
  EXPECT_EQ(RunTool({"pack", image}).code, 2);
  EXPECT_EQ(RunTool({"pack", image, "-o", dir + "/x", "--compression", "zip"}).code, 2);
  EXPECT_EQ(RunTool({"pack", image, "-o", dir + "/x", "--block-size", "1000"}).code, 2);
  EXPECT_EQ(RunTool({"pack", image, "-o", dir + "/x", "--level", "12"}).code, 2);
  EXPECT_EQ(RunTool({"pack", image, "-o", dir + "/x", "--split", "100"}).code, 2);
  EXPECT_EQ(RunTool({"info"}).code, 2);
  ToolRun missing = RunTool({"info", dir + "/nothing.iso"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("isorun: info: cannot open"), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("(error 2)"), std::string::npos) << missing.err;
  WriteFile(dir + "/junk", std::vector<uint8_t>(5000, 'j'));
  ToolRun junk = RunTool({"verify", dir + "/junk"});
  EXPECT_EQ(junk.code, 1);
  EXPECT_NE(junk.err.find("(error 11)"), std::string::npos) << junk.err;
}

}  // namespace

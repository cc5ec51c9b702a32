// The option patcher on the built runner of this build (PE or ELF), and on small stand-ins of
// both formats, including every cut of them.
#include "runner/option_patch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/pool.h"
#include "runner/resource_table.h"
#include "runner/resources.h"
#include "support/fake_runner.h"
#include "support/test_support.h"

using testing_support::MakeFakeElf;
using testing_support::MakeFakePe;

namespace {

constexpr RsrcSpec kElfOptions[] = {{"OPTION", "RUN_EXE", 520}, {"OPTION", "USE_STDERR", 64}};
constexpr auto kElfTable = rsrc_build_table<rsrc_table_bytes(kElfOptions)>(kElfOptions);

std::vector<uint8_t> FakePe() { return MakeFakePe({{"RUN_EXE", 520}, {"USE_STDERR", 64}}); }
std::vector<uint8_t> FakeElf() { return MakeFakeElf(kElfTable.bytes, sizeof kElfTable.bytes); }

// The runner program of this build, or an empty vector when it has not been built.
std::vector<uint8_t> BuiltRunner() {
  for (const char* name : {"isorun-sfx.exe", "isorun-sfx"}) {
    std::filesystem::path path = std::filesystem::path(testing_support::BinDir()) / name;
    std::ifstream in(path, std::ios::binary);
    if (in) return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  return {};
}

std::u16string OptionAt(const std::vector<uint8_t>& file, const char16_t* name) {
  size_t offset;
  uint32_t length;
  if (locate_file_resource(file.data(), file.size(), u"option", name, &offset, &length) != kOk)
    return u"(missing)";
  std::u16string text;
  for (uint32_t i = 0; i + 1 < length; i += 2) {
    char16_t c = char16_t(file[offset + i] | file[offset + i + 1] << 8);
    if (!c) break;
    text += c;
  }
  return text;
}

// Patches both options and checks the results and the limits of the blocks. The stand-ins carry
// no translations.
void CheckPatching(std::vector<uint8_t> file, bool has_usertext = false) {
  uint32_t length = 0;
  size_t offset = 0;
  ASSERT_EQ(locate_file_resource(file.data(), file.size(), u"OPTION", u"use_stderr", &offset, &length), kOk);
  EXPECT_EQ(length, 64u);
  ASSERT_EQ(locate_file_resource(file.data(), file.size(), u"option", u"RUN_EXE", &offset, &length), kOk);
  EXPECT_EQ(length, 520u);
  EXPECT_EQ(OptionAt(file, u"run_exe"), u"");

  EXPECT_EQ(patch_option(file.data(), file.size(), u"use_stderr", u"true"), kOk);
  EXPECT_EQ(OptionAt(file, u"use_stderr"), u"true");
  EXPECT_EQ(patch_option(file.data(), file.size(), u"use_stderr", u"1"), kOk);  // shorter: rest cleared
  EXPECT_EQ(OptionAt(file, u"use_stderr"), u"1");
  auto before = file;
  EXPECT_EQ(patch_option(file.data(), file.size(), u"use_stderr", std::u16string(32, u'x').c_str()),
            kErrInsufficientBuffer);
  EXPECT_EQ(file, before);
  EXPECT_EQ(patch_option(file.data(), file.size(), u"use_stderr", std::u16string(31, u'x').c_str()), kOk);
  EXPECT_EQ(patch_option(file.data(), file.size(), u"run_exe", std::u16string(259, u'r').c_str()), kOk);
  EXPECT_EQ(OptionAt(file, u"run_exe"), std::u16string(259, u'r'));
  EXPECT_EQ(patch_option(file.data(), file.size(), u"no_such_option", u"1"), kErrResourceNameNotFound);
  if (has_usertext) return;
  err_t missing = locate_file_resource(file.data(), file.size(), u"lzmafile", u"usertext", &offset, &length);
  EXPECT_TRUE(missing == kErrResourceTypeNotFound || missing == kErrResourceNameNotFound) << missing;
}

// Every prefix of the file is refused or located inside the prefix.
void CheckCuts(const std::vector<uint8_t>& file) {
  for (size_t cut = 0; cut < file.size(); ++cut) {
    size_t offset;
    uint32_t length;
    if (locate_file_resource(file.data(), cut, u"option", u"use_stderr", &offset, &length) == kOk) {
      EXPECT_LE(offset + length, cut);
    } else {
      EXPECT_EQ(offset, 0u);
      EXPECT_EQ(length, 0u);
    }
  }
}

}  // namespace

TEST(OptionPatch, PeResourceDirectory) {
  CheckPatching(FakePe());
  CheckCuts(FakePe());
}

TEST(OptionPatch, ElfResourceSection) {
  CheckPatching(FakeElf());
  CheckCuts(FakeElf());
}

TEST(OptionPatch, TheBuiltRunner) {
  auto runner = BuiltRunner();
  if (runner.empty()) GTEST_SKIP() << "the runner of this build is not built";
  for (const char16_t* name : {u"use_stderr", u"verify_media", u"require_administrator"}) {
    size_t offset;
    uint32_t length;
    ASSERT_EQ(locate_file_resource(runner.data(), runner.size(), u"option", name, &offset, &length), kOk);
    EXPECT_EQ(length, 64u);
  }
  CheckPatching(runner, true);

  // The translations built in are the shipped script, byte for byte.
  size_t offset;
  uint32_t length;
  ASSERT_EQ(locate_file_resource(runner.data(), runner.size(), u"lzmafile", u"usertext", &offset, &length), kOk);
  kd_mp_c pool;
  uint32_t decoded = 0;
  const uint8_t* text = decode_lzma_blob(&pool, runner.data() + offset, length, &decoded);
  ASSERT_NE(text, nullptr);
  std::ifstream in(std::filesystem::path(testing_support::SourceDir()) / "runner" / "usertext.scf",
                   std::ios::binary);
  std::string script((std::istreambuf_iterator<char>(in)), {});
  EXPECT_FALSE(script.empty());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text), decoded), script);
}

TEST(OptionPatch, OtherFilesAreRefused) {
  std::vector<uint8_t> text(200, 'x');
  size_t offset = 1;
  uint32_t length = 1;
  EXPECT_EQ(locate_file_resource(text.data(), text.size(), u"option", u"run_exe", &offset, &length), kErrBadFormat);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(length, 0u);
  auto elf = FakeElf();
  elf[5] = 2;  // big-endian
  EXPECT_EQ(locate_file_resource(elf.data(), elf.size(), u"option", u"run_exe", &offset, &length), kErrBadFormat);
  auto pe = FakePe();
  pe[0x40] = 'X';  // no PE signature
  EXPECT_EQ(locate_file_resource(pe.data(), pe.size(), u"option", u"run_exe", &offset, &length), kErrBadFormat);
  EXPECT_EQ(patch_option(nullptr, 0, u"run_exe", u"x"), kErrInvalidParameter);
}

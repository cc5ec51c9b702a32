// Slot orders of the file-system interfaces, the entry arena and the password prompt.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/file.h"
#include "isofs/namespace.h"
#include "isofs/password.h"
#include "isofs/se_volume.h"
#include "support/test_support.h"
#include "support/vtable_slot.h"

using testing_support::VtableSlot;

TEST(SlotOrder, SeVolume) {
  EXPECT_EQ(VtableSlot(&SeVolume::Release), 0u);
  EXPECT_EQ(VtableSlot(&SeVolume::Verify), 1u);
  EXPECT_EQ(VtableSlot(&SeVolume::FreeString), 2u);
  EXPECT_EQ(VtableSlot(&SeVolume::Lookup), 3u);
  EXPECT_EQ(VtableSlot(&SeVolume::Forget), 4u);
  EXPECT_EQ(VtableSlot(&SeVolume::List), 5u);
  EXPECT_EQ(VtableSlot(&SeVolume::CloseList), 6u);
  EXPECT_EQ(VtableSlot(&SeVolume::Read), 7u);
  EXPECT_EQ(VtableSlot(&SeVolume::GetImageSize), 8u);
  EXPECT_EQ(VtableSlot(&SeVolume::CloseFiles), 9u);
  EXPECT_EQ(VtableSlot(&SeVolume::GetVolumeInfo), 10u);
  EXPECT_EQ(VtableSlot(&SeVolume::GetAttributes), 11u);
}

TEST(SlotOrder, ReceiversAndPasswords) {
  EXPECT_EQ(VtableSlot(&SeVerifyProgress::OnProgress), 0u);
  EXPECT_EQ(VtableSlot(&SeListResult::OnEntry), 0u);
  EXPECT_EQ(VtableSlot(&SeListResult::OnEnd), 1u);
  EXPECT_EQ(VtableSlot(&IsoPasswordIterator::Next), 0u);
  EXPECT_EQ(VtableSlot(&IsoPasswordIterator::Clear), 1u);
}

TEST(SlotOrder, VolumeAndWorkItems) {
  EXPECT_EQ(VtableSlot(&IsoFs::Volume::Destroy), 0u);
  EXPECT_EQ(VtableSlot(&IsoFs::Volume::ProcessWork), 1u);
  EXPECT_EQ(VtableSlot(&IsoFs::Volume::Expand), 2u);
  EXPECT_EQ(VtableSlot(&IsoFs::Volume::GetInfo), 3u);
  EXPECT_EQ(VtableSlot(&IsoFs::ExpandWorkState::Destroy), 0u);
}

TEST(EntryArena, PiecesAreZeroedAlignedAndLargeOnesStandAlone) {
  IsoFs::Arena arena;
  auto* a = static_cast<uint8_t*>(arena.Allocate(3));
  auto* b = static_cast<uint8_t*>(arena.Allocate(5));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b - a, 8);  // 3 bytes take 8
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
  auto* big = static_cast<uint8_t*>(arena.Allocate(300000));
  ASSERT_TRUE(big);
  EXPECT_EQ(big[299999], 0);
  // The current chunk stays current after a large block.
  auto* c = static_cast<uint8_t*>(arena.Allocate(8));
  EXPECT_EQ(c - b, 8);
  // Filling past a chunk opens another.
  for (int i = 0; i < 40; ++i) {
    auto* piece = static_cast<uint8_t*>(arena.Allocate(10000));
    ASSERT_TRUE(piece);
    EXPECT_EQ(piece[9999], 0);
    piece[9999] = 1;
  }
}

TEST(EntryArena, LargeFirstBlockIsTreatedAsFull) {
  IsoFs::Arena arena;
  ASSERT_TRUE(arena.Allocate(260000));
  auto* small = static_cast<uint8_t*>(arena.Allocate(16));
  ASSERT_TRUE(small);
  EXPECT_EQ(small[15], 0);
}

namespace {

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Runs `attempts` prompts with `input` as what is typed, a file rather than a console; returns
// the passwords and what was written.
std::vector<std::u16string> Prompts(const std::string& input, int attempts, std::string* written) {
  testing_support::ScratchDir dir;
  std::string in_path = dir.path() + "/in", out_path = dir.path() + "/out";
  std::ofstream(in_path, std::ios::binary) << input;
  file_handle_t in = kNoHandle, out = kNoHandle;
  EXPECT_EQ(open_file(&in, Wide(in_path).c_str(), kOpenForReading), kOk);
  EXPECT_EQ(open_file(&out, Wide(out_path).c_str(), kOpenCreateOrTruncate), kOk);
  std::vector<std::u16string> result;
  {
    IsoFs::PasswordIterator passwords(in, out);
    for (int i = 0; i < attempts; ++i) {
      const char16_t* password = nullptr;
      EXPECT_EQ(passwords.Next(&password), kOk);
      result.push_back(password ? password : u"(none)");
      passwords.Clear();
    }
  }
  close_handle(in);
  close_handle(out);
  std::ifstream written_file(out_path, std::ios::binary);
  written->assign(std::istreambuf_iterator<char>(written_file), {});
  return result;
}

std::u16string Prompt(const std::string& input, std::string* written) {
  return Prompts(input, 1, written)[0];
}

}  // namespace

TEST(PasswordPrompt, ReadsOneLine) {
  std::string written;
  EXPECT_EQ(Prompt("secret\r\nnext line\n", &written), u"secret");
  EXPECT_EQ(written, "password:\n");
  EXPECT_EQ(Prompt("to the end", &written), u"to the end");
  EXPECT_EQ(Prompt(std::string("nul\0rest", 8), &written), u"nul");
}

TEST(PasswordPrompt, KeepsTheFirst299Bytes) {
  std::string written;
  std::string line(400, 'p');
  EXPECT_EQ(Prompt(line + "\n", &written), Wide(std::string(299, 'p')));
}

TEST(PasswordPrompt, ShortLinesAreOneAttemptEach) {
  std::string written;
  EXPECT_EQ(Prompts("one\ntwo\n", 3, &written), (std::vector<std::u16string>{u"one", u"two", u""}));
  EXPECT_EQ(written, "password:\npassword:\npassword:\n");
}

// Not at a console, what follows an overlong line is dropped up to the end of input: no later
// line, and no tail of the long one, becomes an attempt.
TEST(PasswordPrompt, AnOverlongLineDropsTheRestOfTheInput) {
  std::string written;
  std::string line(299, 'p');
  EXPECT_EQ(Prompts(line + "tail\nnext\n", 2, &written),
            (std::vector<std::u16string>{Wide(line), u""}));
  // Exactly 299 bytes fill the line too; the line feed after them is dropped with the rest.
  EXPECT_EQ(Prompts(line + "\nnext\n", 2, &written), (std::vector<std::u16string>{Wide(line), u""}));
  EXPECT_EQ(Prompts(std::string(298, 'p') + "\nnext\n", 2, &written),
            (std::vector<std::u16string>{Wide(std::string(298, 'p')), u"next"}));
}

TEST(PasswordPrompt, WriteErrorIsReturned) {
  IsoFs::PasswordIterator passwords(kNoHandle, kNoHandle);
  const char16_t* password = u"x";
  EXPECT_NE(passwords.Next(&password), kOk);
  EXPECT_EQ(password, nullptr);
}

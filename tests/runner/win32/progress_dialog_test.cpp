// The verify progress dialog under Wine: its template byte for byte, its slots, and the window
// on a thread of its own: hidden at first, Skip and the close box asking the verify to stop, the
// private close message, and no thread or window left behind whatever the order of events.
#include "runner/win32/dialog/progress_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/runner_text.h"
#include "support/vtable_slot.h"
#include "usertext/user_text.h"

namespace {

using testing_support::VtableSlot;

// The expected template, appended field by field from the extended layout.
class Bytes {
 public:
  std::vector<uint8_t> data;
  Bytes& U16(uint16_t v) { return Put(v, 2); }
  Bytes& U32(uint32_t v) { return Put(v, 4); }
  Bytes& Text(const char16_t* s) {
    do U16(*s); while (*s++);
    return *this;
  }
  Bytes& Align() {
    while (data.size() % 4) data.push_back(0);
    return *this;
  }
  Bytes& Item(uint32_t style, uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint32_t id,
              const char16_t* cls, const char16_t* text) {
    U32(0).U32(0).U32(style).U16(x).U16(y).U16(w).U16(h).U32(id);
    return Text(cls).Text(text).U16(0).Align();
  }

 private:
  Bytes& Put(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) data.push_back(uint8_t(v >> (8 * i)));
    return *this;
  }
};

TEST(ProgressDialog, TemplateByteExact) {
  Bytes expected;
  expected.U16(1).U16(0xFFFF).U32(0).U32(0).U32(0x80CA0080 | 0x40 | 0x08).U16(4);
  expected.U16(0).U16(0).U16(225).U16(62);
  expected.Text(u"").Text(u"KdsmxSetupProgressDialog").Text(u"Verifying Media");
  expected.U16(8).U16(0).U16(0x0100).Text(u"MS Shell Dlg 2").Align();  // italic 0, charset 1
  expected.Item(0x50000000, 4, 4, 217, 18, 102, u"Static",
                u"Checking that the setup is complete and undamaged.");
  expected.Item(0x50800001, 4, 26, 217, 14, 100, u"msctls_progress32", u"");
  expected.Item(0x50010000, 4, 44, 153, 12, 101, u"Static", u"");
  expected.Item(0x50010000, 161, 44, 60, 14, 2, u"Button", u"Skip");
  const size_t size = expected.data.size();

  SeProgressDialog dialog;
  ASSERT_TRUE(dialog.EnsureTemplate());
  std::vector<uint8_t> built(dialog.template_bytes(), dialog.template_bytes() + size);
  EXPECT_EQ(built, expected.data);
  EXPECT_EQ(dialog.BuildTemplate(nullptr, 0), size);
}

TEST(ProgressDialog, SlotsAndBases) {
  SeProgressDialog dialog;
  // The progress interface is the primary base: its table is the object's first.
  EXPECT_EQ(static_cast<void*>(static_cast<SeVerifyProgress*>(&dialog)),
            static_cast<void*>(&dialog));
  EXPECT_EQ(VtableSlot(&SeProgressRecord::OnProgress), 0u);
  EXPECT_EQ(VtableSlot(&SeProgressRecord::OnFinished), 1u);
  // The window side answers through the framework's slots (pinned by the framework's test).
  GdiDialog& window = dialog;
  EXPECT_GT(window.BuildTemplate(nullptr, 0), 0u);
  bool not_handled = false;
  window.OnCommand(IDOK, &not_handled);
  EXPECT_TRUE(not_handled);  // only Skip and the close box are the dialog's
  not_handled = false;
  window.OnClose(&not_handled);
  EXPECT_FALSE(not_handled);
  EXPECT_TRUE(dialog.StopRequested());
  EXPECT_FALSE(window.ended());  // closing asks the verify to stop; it does not end the dialog
}

// ---- The window on its own thread ----------------------------------------------------------

// Polls `condition` every 10 ms for up to 20 seconds.
template <typename Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

HWND FindDialog() {
  return FindWindowW(reinterpret_cast<const wchar_t*>(SeProgressDialog::kClassName), nullptr);
}

HWND WaitForDialog() {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindDialog()) != nullptr; });
  return found;
}

// Opens the dialog's view and waits for its window.
HWND OpenAndFind(SeProgressDialog& dialog) {
  if (!dialog.OpenView()) return nullptr;
  return WaitForDialog();
}

std::wstring TextOf(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return text;
}

TEST(ProgressDialog, OpensHiddenAndGoesWhenFinished) {
  SeProgressDialog dialog;
  dialog.OnProgress(0, 1000);
  ASSERT_TRUE(dialog.OpenView());
  EXPECT_TRUE(dialog.OpenView());  // already open
  HWND hwnd = WaitForDialog();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(TextOf(hwnd), L"Verifying Media");
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, IDCANCEL)), L"Skip");
  EXPECT_EQ(SendDlgItemMessageW(hwnd, 100, PBM_GETRANGE, FALSE, 0), 10000);
  EXPECT_FALSE(dialog.StopRequested());
  // The same window goes on to the extraction: its texts follow, and its Cancel triggers the
  // stop pin as Ctrl-C would.
  kdsync_pin_c interrupt;
  dialog.StopOn(&interrupt);
  dialog.BeginStep(ProgressStep::kExtract, 1000);
  EXPECT_TRUE(WaitFor([&] { return TextOf(hwnd) == L"Preparing Setup"; }));
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, IDCANCEL)), L"Cancel");
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, 102)), L"Unpacking the setup's files to a temporary folder.");
  PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(WaitFor([&] { return interrupt.triggered() != 0; }));
  EXPECT_TRUE(IsWindow(hwnd));  // until the steps are over
  dialog.OnFinished();
  dialog.CloseView();
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST(ProgressDialog, ShowsItselfForAnUnknownTotal) {
  SeProgressDialog dialog;
  dialog.OnProgress(0, 0);
  HWND hwnd = OpenAndFind(dialog);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(hwnd) != FALSE; }));
  EXPECT_EQ(SendDlgItemMessageW(hwnd, 100, PBM_GETPOS, 0, 0), 0);
  std::wstring elapsed = TextOf(GetDlgItem(hwnd, 101));
  EXPECT_EQ(elapsed.substr(0, 20), L"Elapsed time:  0:00:");
  dialog.OnFinished();
  dialog.CloseView();
  EXPECT_FALSE(IsWindow(hwnd));
}

// Skip (pressed twice) and the close box ask the verify to stop; the window stays until the
// verify has finished, or until the object goes.
TEST(ProgressDialog, StopRequestsKeepTheWindow) {
  struct Request {
    UINT message;
    WPARAM wparam;
    bool finish;
  };
  for (Request request : {Request{WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), true},
                          Request{WM_SYSCOMMAND, SC_CLOSE, false}}) {
    SeProgressDialog dialog;
    HWND hwnd = OpenAndFind(dialog);
    ASSERT_NE(hwnd, nullptr);
    PostMessageW(hwnd, request.message, request.wparam, 0);
    PostMessageW(hwnd, request.message, request.wparam, 0);
    EXPECT_TRUE(WaitFor([&] { return dialog.OnProgress(1, 2); }));
    SendMessageW(hwnd, WM_NULL, 0, 0);  // both requests have been handled
    EXPECT_TRUE(IsWindow(hwnd));
    if (request.finish) {
      dialog.OnFinished();
      dialog.CloseView();
      EXPECT_FALSE(IsWindow(hwnd));
    }
  }
  EXPECT_EQ(FindDialog(), nullptr);
}

TEST(ProgressDialog, FinishedBeforeTheWindowExists) {
  SeProgressDialog dialog;
  dialog.OnFinished();
  ASSERT_TRUE(dialog.OpenView());
  dialog.CloseView();  // returns: the window closes itself as soon as it is made
  EXPECT_EQ(FindDialog(), nullptr);
}

TEST(ProgressDialog, WindowGoneBeforeTheVerifyEnds) {
  SeProgressDialog dialog;
  HWND hwnd = OpenAndFind(dialog);
  ASSERT_NE(hwnd, nullptr);
  PostMessageW(hwnd, GdiDialog::kPrivateClose, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(hwnd); }));
  EXPECT_FALSE(dialog.OnProgress(5, 10));
  dialog.OnFinished();  // no window any more: nothing to post to
  dialog.CloseView();
}

TEST(ProgressDialog, OnFinishedWithoutAWindowDoesNothing) {
  SeProgressDialog dialog;
  dialog.OnFinished();
  dialog.OnFinished();
  dialog.CloseView();
  EXPECT_EQ(dialog.hwnd(), nullptr);
}

TEST(ProgressDialog, GermanTexts) {
  ASSERT_EQ(UserTextAddData(nullptr, u"DEU",
                            "if ${asciiglobi DEU $langid} {\n"
                            "text verify_title Medium wird gepr\xc3\xbc" "ft\n"
                            "text verify_skip_button \xc3\x9c" "berspringen\n"
                            "text verify_elapsed_time Verstrichene Zeit:\n"
                            "}\n",
                            0xFFFFFFFF),
            0u);
  {
    SeProgressDialog dialog;
    dialog.OnProgress(0, 0);
    ASSERT_TRUE(dialog.OpenView());
    HWND hwnd = WaitForDialog();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(TextOf(hwnd), L"Medium wird gepr\u00fcft");
    EXPECT_EQ(TextOf(GetDlgItem(hwnd, IDCANCEL)), L"\u00dcberspringen");
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(hwnd) != FALSE; }));
    EXPECT_EQ(TextOf(GetDlgItem(hwnd, 101)).substr(0, 20), L"Verstrichene Zeit:  ");
  }
  UserTextSet(kUtVerifyTitle, u"Verifying Media");
  UserTextSet(kUtVerifySkipButton, u"Skip");
  UserTextSet(kUtVerifyElapsedTime, u"Elapsed time:");
}

}  // namespace

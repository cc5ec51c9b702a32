// The window and dialog framework under Wine: slot order, message decoding, key decoding, the
// dialog procedure, creation, centring and End.
#include "runner/win32/dialog/gdi_window.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "runner/dialog_template.h"
#include "support/vtable_slot.h"

namespace {

using testing_support::VtableSlot;

TEST(GdiWindow, SlotOrder) {
  EXPECT_EQ(VtableSlot(&GdiWindow::Destruct), 0u);
  EXPECT_EQ(VtableSlot(&GdiWindow::ReleaseAfterDestroy), 1u);
  EXPECT_EQ(VtableSlot(&GdiWindow::Dispatch), 2u);
  EXPECT_EQ(VtableSlot(&GdiWindow::Hook), 3u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnInit), 4u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnDestroying), 5u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnUnhandled), 6u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnClose), 7u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnGetMinMaxInfo), 8u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnSize), 9u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnMove), 10u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnEraseBackground), 11u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnPaint), 12u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnSetFocus), 13u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnKillFocus), 14u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnActivate), 15u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnHScroll), 16u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnVScroll), 17u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnKey), 18u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnSysChar), 19u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnChar), 20u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnButtonDown), 21u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnMouseMove), 22u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnButtonUp), 23u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnMouseWheel), 24u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnTimer), 25u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnCommand), 26u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnNotify), 27u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnSetFont), 28u);
  EXPECT_EQ(VtableSlot(&GdiWindow::OnGetDlgCode), 29u);
  EXPECT_EQ(VtableSlot(&GdiDialog::BuildTemplate), 30u);
  EXPECT_EQ(VtableSlot(&GdiDialog::CreateModeless), 31u);
  EXPECT_EQ(VtableSlot(&GdiDialog::CreateModelessFromResource), 32u);
  EXPECT_EQ(VtableSlot(&GdiDialog::ShowModal), 33u);
  EXPECT_EQ(VtableSlot(&GdiDialog::ShowModalFromResource), 34u);
  EXPECT_EQ(VtableSlot(&GdiDialog::EnsureTemplate), 35u);
  EXPECT_EQ(VtableSlot(&GdiDialog::FreeTemplate), 36u);
  EXPECT_EQ(VtableSlot(&GdiDialog::GetControl), 37u);
  EXPECT_EQ(VtableSlot(&GdiDialog::End), 38u);
}

// Records the handler calls that decoding produces, as text.
class Recorder : public GdiDialog {
 public:
  std::vector<std::string> calls;
  bool pass_on = false;  // leave every recorded message not handled

  LRESULT Send(UINT message, WPARAM wparam, LPARAM lparam, bool* not_handled) {
    *not_handled = false;
    return Dispatch(message, wparam, lparam, not_handled);
  }
  void Record(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    calls.push_back(text);
  }
  LRESULT Done(bool* not_handled) {
    *not_handled = pass_on;
    return 7;
  }

  LRESULT OnMove(int x, int y, bool* nh) override { return Record("move %d %d", x, y), Done(nh); }
  LRESULT OnSize(UINT type, int w, int h, bool* nh) override {
    return Record("size %u %d %d", type, w, h), Done(nh);
  }
  LRESULT OnKey(UINT message, UINT key, UINT repeat, UINT flags, bool* nh) override {
    return Record("key %x %u %u %x", message, key, repeat, flags), Done(nh);
  }
  LRESULT OnButtonDown(UINT message, UINT keys, int x, int y, bool* nh) override {
    return Record("down %x %u %d %d", message, keys, x, y), Done(nh);
  }
  LRESULT OnMouseWheel(UINT keys, int delta, int x, int y, bool* nh) override {
    return Record("wheel %u %d %d %d", keys, delta, x, y), Done(nh);
  }
  LRESULT OnCommand(UINT id, bool* nh) override { return Record("command %x", id), Done(nh); }
  LRESULT OnNotify(HWND, UINT_PTR id, UINT code, NMHDR*, bool* nh) override {
    return Record("notify %u %d", unsigned(id), int(code)), Done(nh);
  }
  void OnTimer(UINT_PTR id) override { Record("timer %u", unsigned(id)); }
  LRESULT OnChar(UINT c, UINT repeat, bool* nh) override {
    return Record("char %u %u", c, repeat), Done(nh);
  }
};

TEST(GdiWindow, DispatchDecodesArguments) {
  Recorder r;
  bool nh;
  EXPECT_EQ(r.Send(WM_MOVE, 0, MAKELPARAM(-5, 300), &nh), 7);
  EXPECT_FALSE(nh);
  r.Send(WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(640, 480), &nh);
  r.Send(WM_LBUTTONDBLCLK, MK_SHIFT, MAKELPARAM(3, -4), &nh);
  r.Send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, -120), MAKELPARAM(10, 20), &nh);
  r.Send(WM_SYSCOMMAND, SC_CLOSE | 3, 0, &nh);  // the low four bits are the system's
  r.Send(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, &nh);
  NMHDR header = {nullptr, 42, UINT(-2)};
  r.Send(WM_NOTIFY, 42, reinterpret_cast<LPARAM>(&header), &nh);
  r.Send(WM_CHAR, 'a', 3, &nh);
  EXPECT_EQ(r.Send(WM_TIMER, 100, 0, &nh), 0);
  EXPECT_FALSE(nh);  // a timer tick is always consumed
  EXPECT_EQ(r.calls, (std::vector<std::string>{
                         "move -5 300", "size 2 640 480", "down 203 4 3 -4", "wheel 8 -120 10 20",
                         "command f060", "command 2", "notify 42 -2", "char 97 3", "timer 100"}));
  // Messages without a handler, and handlers left at their defaults, pass the message on.
  r.Send(WM_USER + 5, 0, 0, &nh);
  EXPECT_TRUE(nh);
  r.Send(WM_PAINT, 0, 0, &nh);
  EXPECT_TRUE(nh);
  r.Send(WM_NOTIFY, 0, 0, &nh);  // no header
  EXPECT_TRUE(nh);
}

// lParam of a key message: repeat count, and the flags in the high word.
LPARAM KeyParam(UINT repeat, UINT flags) { return LPARAM((flags << 16) | repeat); }

TEST(GdiWindow, KeyDecoding) {
  Recorder r;
  bool nh;
  r.Send(WM_KEYDOWN, 'A', KeyParam(3, 0x4000 | 0x1E), &nh);   // auto-repeat of a letter
  r.Send(WM_KEYUP, 'A', KeyParam(1, 0xC000 | 0x1E), &nh);     // release: repeat bit cleared
  r.Send(WM_KEYDOWN, VK_SHIFT, KeyParam(4, 0x2A), &nh);        // first press: count 1
  r.Send(WM_KEYDOWN, VK_SHIFT, KeyParam(1, 0x4000 | 0x2A), &nh);  // auto-repeat: dropped
  r.Send(WM_KEYDOWN, 0, KeyParam(1, 0), &nh);                  // key 0: dropped
  EXPECT_FALSE(nh);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"key 100 65 3 401e", "key 101 65 1 801e",
                                               "key 100 16 1 2a"}));
}

TEST(GdiWindow, HoldingAltGivesOneKeyCall) {
  Recorder r;
  bool nh;
  r.Send(WM_SYSKEYDOWN, VK_MENU, KeyParam(1, 0x2000 | 0x38), &nh);
  for (int i = 0; i < 5; ++i) r.Send(WM_SYSKEYDOWN, VK_MENU, KeyParam(1, 0x6000 | 0x38), &nh);
  EXPECT_EQ(r.calls.size(), 1u);
  // Its release, left not handled by OnKey, is handled on the way to the default procedure.
  r.pass_on = true;
  r.Send(WM_SYSKEYUP, VK_MENU, KeyParam(1, 0xC000 | 0x38), &nh);
  EXPECT_FALSE(nh);
  EXPECT_EQ(r.calls.back(), "key 105 18 1 8038");
  // Other keys left not handled stay so.
  r.Send(WM_SYSKEYUP, VK_CONTROL, KeyParam(1, 0xC000 | 0x1D), &nh);
  EXPECT_TRUE(nh);
}

// ---- Real dialogs --------------------------------------------------------------------------

// A small dialog from an in-memory template whose handlers a test can steer.
class TestDialog : public GdiDialog {
 public:
  enum class InitAction { kNone, kEnd, kEndTwice, kPostOk };
  InitAction init_action = InitAction::kNone;
  int destroying = 0;
  int released = 0;
  LRESULT dlg_code = 0x1234;

  size_t BuildTemplate(uint8_t* buffer, size_t capacity) override {
    size_t length = 0;
    GdiTemplateHeader(buffer, capacity, &length, nullptr, u"Test", nullptr, 120, 60,
                      WS_POPUP | WS_CAPTION | WS_SYSMENU);
    GdiTemplateItem(buffer, capacity, &length, u"Button", u"OK", IDOK, 4, 4, 40, 14,
                    WS_CHILD | WS_VISIBLE, 0);
    return length;
  }
  LRESULT OnInit() override {
    LRESULT answer = GdiDialog::OnInit();
    if (init_action == InitAction::kEnd) End(11);
    if (init_action == InitAction::kEndTwice) End(12), End(13);
    if (init_action == InitAction::kPostOk) PostMessageW(hwnd_, WM_COMMAND, IDOK, 0);
    return answer;
  }
  void OnDestroying() override { ++destroying; }
  void ReleaseAfterDestroy() override { ++released; }
  LRESULT OnGetDlgCode(bool*) override { return dlg_code; }
};

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// Runs the thread's messages until none is waiting.
void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

TEST(GdiDialog, ModelessLifecycle) {
  TestDialog d;
  ASSERT_TRUE(d.CreateModeless(Instance(), nullptr));
  HWND hwnd = d.hwnd();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_NE(d.GetControl(IDOK), nullptr);
  EXPECT_FALSE(d.CreateModeless(Instance(), nullptr));  // the window exists already
  // A handled message answers through DWLP_MSGRESULT.
  EXPECT_EQ(SendMessageW(hwnd, WM_GETDLGCODE, 0, 0), 0x1234);
  // The OK button ends it: a modeless dialog is destroyed, the object stays.
  SendMessageW(hwnd, WM_COMMAND, IDOK, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(d.hwnd(), nullptr);
  EXPECT_TRUE(d.ended());
  EXPECT_EQ(d.result(), IDOK);
  EXPECT_EQ(d.destroying, 1);
  EXPECT_EQ(d.released, 1);
  // The object can open a new window, which starts afresh.
  ASSERT_TRUE(d.CreateModeless(Instance(), nullptr));
  EXPECT_FALSE(d.ended());
  d.End(5);
  d.End(6);  // ignored
  EXPECT_EQ(d.result(), 5);
  EXPECT_EQ(d.hwnd(), nullptr);
  PumpMessages();
}

TEST(GdiDialog, EndingDuringInitFailsTheModelessCreate) {
  TestDialog d;
  d.init_action = TestDialog::InitAction::kEnd;
  EXPECT_FALSE(d.CreateModeless(Instance(), nullptr));
  EXPECT_EQ(d.hwnd(), nullptr);  // no window is left behind
  EXPECT_EQ(d.destroying, 1);
  EXPECT_EQ(d.result(), 11);
  PumpMessages();  // the posted WM_CLOSE finds no window
}

TEST(GdiDialog, ModalResults) {
  TestDialog d;
  int32_t result = -1;
  d.init_action = TestDialog::InitAction::kPostOk;
  ASSERT_TRUE(d.ShowModal(Instance(), nullptr, &result));
  EXPECT_EQ(result, IDOK);
  // Ended twice inside its init handler: the first result holds, the posted WM_CLOSE ends it.
  d.init_action = TestDialog::InitAction::kEndTwice;
  ASSERT_TRUE(d.ShowModal(Instance(), nullptr, &result));
  EXPECT_EQ(result, 12);
  EXPECT_EQ(d.hwnd(), nullptr);
  EXPECT_EQ(d.destroying, 2);
}

// tests/runner/win32/dialog_test.rc.
constexpr UINT kResourceDialog = 4000;

TEST(GdiDialog, CreatedFromAResourceTemplate) {
  TestDialog d;
  ASSERT_TRUE(d.CreateModelessFromResource(Instance(), kResourceDialog, nullptr));
  wchar_t caption[64] = {};
  GetWindowTextW(d.hwnd(), caption, 64);
  EXPECT_STREQ(caption, L"From a resource");
  EXPECT_EQ(d.template_bytes(), nullptr);  // the in-memory template is not needed
  EXPECT_FALSE(d.CreateModelessFromResource(Instance(), kResourceDialog, nullptr));
  SendMessageW(d.hwnd(), WM_COMMAND, IDOK, 0);
  EXPECT_EQ(d.hwnd(), nullptr);
  // Modal from the same resource, ended from its init handler.
  int32_t result = -1;
  d.init_action = TestDialog::InitAction::kEnd;
  ASSERT_TRUE(d.ShowModalFromResource(Instance(), kResourceDialog, nullptr, &result));
  EXPECT_EQ(result, 11);
  // A template that is not there: the dialog box does not run.
  EXPECT_FALSE(d.ShowModalFromResource(Instance(), 4001, nullptr, &result));
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(d.CreateModelessFromResource(Instance(), 4001, nullptr));
}

TEST(GdiDialog, CloseEndsWithCancel) {
  TestDialog d;
  ASSERT_TRUE(d.CreateModeless(Instance(), nullptr));
  SendMessageW(d.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(d.hwnd(), nullptr);
  EXPECT_EQ(d.result(), IDCANCEL);
}

TEST(GdiDialog, CentredOnTheDesktop) {
  TestDialog d;
  ASSERT_TRUE(d.CreateModeless(Instance(), nullptr));
  RECT window, desktop;
  GetWindowRect(d.hwnd(), &window);
  GetClientRect(GetDesktopWindow(), &desktop);
  EXPECT_NEAR((window.left + window.right) / 2, desktop.right / 2, 1);
  EXPECT_NEAR((window.top + window.bottom) / 2, desktop.bottom / 2, 1);
  d.End(0);
}

TEST(GdiDialog, TemplateIsBuiltOnceAndFreed) {
  TestDialog d;
  EXPECT_EQ(d.template_bytes(), nullptr);
  ASSERT_TRUE(d.EnsureTemplate());
  const uint8_t* first = d.template_bytes();
  ASSERT_TRUE(d.EnsureTemplate());
  EXPECT_EQ(d.template_bytes(), first);
  d.FreeTemplate();
  EXPECT_EQ(d.template_bytes(), nullptr);
}

// A dialog whose template changes size between the measuring and the filling pass.
class UnsteadyDialog : public GdiDialog {
 public:
  size_t calls = 0;
  size_t BuildTemplate(uint8_t*, size_t) override { return 64 + 4 * calls++; }
};

TEST(GdiDialog, TemplateThatChangesSizeIsRefused) {
  UnsteadyDialog d;
  EXPECT_FALSE(d.EnsureTemplate());
  EXPECT_EQ(d.template_bytes(), nullptr);
  d.calls = 0;
  EXPECT_FALSE(d.CreateModeless(Instance(), nullptr));
  EXPECT_EQ(d.hwnd(), nullptr);
}

// A plain window object frees itself through slot 0 once its window is gone.
class PlainWindow : public GdiWindow {
 public:
  explicit PlainWindow(bool* destroyed) : destroyed_(destroyed) {}
  ~PlainWindow() { *destroyed_ = true; }
  void Destruct(uint32_t flags) override {
    this->~PlainWindow();
    if (flags & kFreeMemory) ::operator delete(this);
  }

 private:
  bool* destroyed_;
};

TEST(GdiWindow, PlainWindowReleasesItself) {
  bool destroyed = false;
  GdiWindow* w = new PlainWindow(&destroyed);
  w->ReleaseAfterDestroy();
  EXPECT_TRUE(destroyed);
}

}  // namespace

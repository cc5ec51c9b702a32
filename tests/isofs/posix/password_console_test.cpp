// The password prompt at a terminal (a pseudo-terminal here): echo is off while the line is
// typed and back on afterwards, and an overlong line ends at its line feed, since a person
// there cannot be expected to send the end of input.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "isofs/password.h"

namespace {

class Terminal {
 public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (name) slave_ = open(name, O_RDWR | O_NOCTTY);
  }
  ~Terminal() {
    if (slave_ >= 0) close(slave_);
    CloseMaster();
  }
  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  int slave() const { return slave_; }
  bool Echoes() const {
    termios mode;
    return tcgetattr(slave_, &mode) == 0 && (mode.c_lflag & ECHO);
  }
  // What a person types.
  void Type(const std::string& text) { ASSERT_EQ(write(master_, text.data(), text.size()), ssize_t(text.size())); }
  // Hangs the terminal up, which ends any read still waiting on it.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

}  // namespace

TEST(PasswordPromptAtATerminal, AnOverlongLineEndsAtItsLineFeed) {
  Terminal terminal;
  ASSERT_TRUE(terminal.ok());
  ASSERT_TRUE(terminal.Echoes());
  file_handle_t output = open("/dev/null", O_WRONLY);
  IsoFs::PasswordIterator passwords(terminal.slave(), output);
  std::u16string password;
  err_t result = ~0u;
  std::atomic<bool> done{false};
  std::thread prompt([&] {
    const char16_t* p = nullptr;
    result = passwords.Next(&p);
    if (p) password = p;
    done = true;
  });
  // Echo goes off before the prompt reads; what is typed before then is flushed with it.
  while (terminal.Echoes() && !done) std::this_thread::yield();
  terminal.Type(std::string(400, 'p') + "\n");
  // A guard against a prompt that waits on past the line feed, not a measure of speed: such a
  // prompt would otherwise hold the test until the terminal goes away.
  for (int i = 0; i < 6000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  bool returned_at_line_end = done;
  bool echo_back = returned_at_line_end && terminal.Echoes();
  terminal.CloseMaster();
  prompt.join();
  close(int(output));
  EXPECT_TRUE(returned_at_line_end) << "the prompt still waited after the line feed";
  EXPECT_EQ(result, kOk);
  EXPECT_EQ(password, std::u16string(299, u'p'));
  EXPECT_TRUE(echo_back) << "echo must be back on";
}

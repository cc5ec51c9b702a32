#include "runner/message_box.h"

#include "base/pool.h"
#include "base/text.h"
#include "usertext/ut_out.h"

namespace {

// Writes text to standard error as one line: its own trailing line ends are dropped.
void WriteLine(const char16_t* text) {
  size_t n = Utf16Length(text);
  while (n > 0 && (text[n - 1] == u'\n' || text[n - 1] == u'\r')) --n;
  kd_mp_c pool;
  char16_t* line = pool.AllocArray<char16_t>(n + 1);
  if (!line) return;
  for (size_t i = 0; i < n; ++i) line[i] = text[i];
  UtWriteLines(&g_ut_out_stderr, line);
  g_ut_out_stderr.write(u"", true);
}

}  // namespace

void show_message_box(const char16_t* caption, const char16_t* body) {
  WriteLine(caption);
  WriteLine(body);
}

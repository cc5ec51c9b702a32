#include "tools/progress.h"

#include <cstdio>

#include "usertext/progress_line.h"

namespace tool {

ProgressBar::ProgressBar(const char* label, uint64_t total)
    : label_(label),
      total_(total),
      enabled_(StderrIsTerminal()),
      start_(std::chrono::steady_clock::now()) {}

void ProgressBar::Update(uint64_t done) {
  if (!enabled_) return;
  int percent = total_ ? static_cast<int>(done * 100 / total_) : 100;
  auto now = std::chrono::steady_clock::now();
  if (percent == last_percent_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_percent_ = percent;
  last_draw_ = now;
  Draw(done);
}

void ProgressBar::Draw(uint64_t done) {
  uint32_t position = total_ ? ProgressLinePosition(done, total_) : kProgressLineRange;
  double seconds = SecondsSince(start_);
  std::string detail = HumanSize(done) + "/" + HumanSize(total_);
  if (seconds > 0) detail += " " + HumanSize(static_cast<uint64_t>(done / seconds)) + "/s";
  char line[256];
  ProgressLineRender(line, sizeof line, label_.c_str(), position, detail.c_str());
  std::fputs(line, stderr);
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_) return;
  enabled_ = false;
  std::fputs(kProgressLineClear, stderr);
  std::fflush(stderr);
}

bool StderrIsTerminal() { return UtStderrIsTerminal(); }

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string HumanSize(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) value /= 1024, ++unit;
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace tool

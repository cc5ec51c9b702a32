#include "tools/progress.h"

#include <cstdio>

namespace tool {

namespace {
constexpr int kBarWidth = 30;
}

ProgressBar::ProgressBar(const char* label, uint64_t total)
    : label_(label), total_(total), enabled_(StderrIsTerminal()), start_(std::chrono::steady_clock::now()) {}

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
  int filled = total_ ? static_cast<int>(done * kBarWidth / total_) : kBarWidth;
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = 0;
  double seconds = SecondsSince(start_);
  std::string rate = seconds > 0 ? HumanSize(static_cast<uint64_t>(done / seconds)) + "/s" : "";
  std::fprintf(stderr, "\r%s [%s] %3d%% %s/%s %s\x1b[K", label_.c_str(), bar, last_percent_,
               HumanSize(done).c_str(), HumanSize(total_).c_str(), rate.c_str());
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_) return;
  enabled_ = false;
  std::fprintf(stderr, "\r\x1b[K");
  std::fflush(stderr);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string HumanSize(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) value /= 1024, ++unit;
  char text[32];
  if (unit == 0) std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  else std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace tool

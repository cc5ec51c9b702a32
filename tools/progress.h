// A one-line progress bar on standard error, drawn only when standard error is a terminal (the
// line is usertext/progress_line.h's, which the runner draws too), and the small helpers the
// commands share around it: time since a start, human sizes.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace tool {

// True when standard error is a terminal.
bool StderrIsTerminal();

class ProgressBar {
 public:
  // `label` is shown before the bar, e.g. "packing"; `total` is the work in bytes.
  ProgressBar(const char* label, uint64_t total);
  ~ProgressBar() { Finish(); }
  // Redraws at most ten times a second, and whenever the percentage moves.
  void Update(uint64_t done);
  // Clears the line (once); later updates draw nothing.
  void Finish();

 private:
  void Draw(uint64_t done);

  std::string label_;
  uint64_t total_;
  bool enabled_;
  int last_percent_ = -1;
  std::chrono::steady_clock::time_point start_, last_draw_;
};

// Seconds since `start`.
double SecondsSince(std::chrono::steady_clock::time_point start);
// "512 B", "1.5 KiB", "23.4 MiB", "1.02 GiB".
std::string HumanSize(uint64_t bytes);

}  // namespace tool

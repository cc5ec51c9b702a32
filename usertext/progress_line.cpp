#include "usertext/progress_line.h"

namespace {

// Appends to a buffer, counting what does not fit.
template <typename Unit>
struct LineWriter {
  Unit* out;
  size_t capacity;
  size_t length = 0;

  void Put(Unit unit) {
    if (length + 1 < capacity) out[length] = unit;
    ++length;
  }
  void Put(const Unit* text) {
    if (text)
      for (; *text; ++text) Put(*text);
  }
  void PutAscii(const char* text) {
    for (; *text; ++text) Put(Unit(*text));
  }
  size_t Finish() {
    if (capacity) out[length < capacity ? length : capacity - 1] = 0;
    return length;
  }
};

template <typename Unit>
size_t Render(Unit* out, size_t capacity, const Unit* label, uint32_t position,
              const Unit* detail) {
  if (position > kProgressLineRange) position = kProgressLineRange;
  LineWriter<Unit> w{out, capacity};
  w.Put(Unit('\r'));
  w.Put(label);
  w.PutAscii(" [");
  uint32_t filled = uint32_t(uint64_t(position) * kProgressBarCells / kProgressLineRange);
  for (uint32_t cell = 0; cell < kProgressBarCells; ++cell) w.Put(Unit(cell < filled ? '#' : '.'));
  w.PutAscii("] ");
  uint32_t percent = position / 100;
  w.Put(Unit(percent >= 100 ? '1' : ' '));
  w.Put(Unit(percent >= 10 ? '0' + percent / 10 % 10 : ' '));
  w.Put(Unit('0' + percent % 10));
  w.PutAscii("% ");
  w.Put(detail);
  w.PutAscii("\x1b[K");
  return w.Finish();
}

}  // namespace

uint32_t ProgressLinePosition(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return kProgressLineRange;
  if (done <= UINT64_MAX / kProgressLineRange) return uint32_t(done * kProgressLineRange / total);
  // Too large to multiply in 64 bits: total is then above 10^15 and the quotient below is off
  // by a hair at most; done is still short of total, so the position is too.
  uint64_t position = done / (total / kProgressLineRange);
  return uint32_t(position < kProgressLineRange ? position : kProgressLineRange - 1);
}

size_t ProgressLineRender(char16_t* out, size_t capacity, const char16_t* label, uint32_t position,
                          const char16_t* detail) {
  return Render(out, capacity, label, position, detail);
}

size_t ProgressLineRender(char* out, size_t capacity, const char* label, uint32_t position,
                          const char* detail) {
  return Render(out, capacity, label, position, detail);
}

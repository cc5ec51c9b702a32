// A one-line progress bar for a terminal, redrawn in place on standard error:
//
//   "\r<label> [##########....................]  33% <detail>\x1b[K"
//
// The runner's verify line and the host tool's bars draw through this one renderer; each caller
// decides when to redraw and what its detail says (sizes, rate, elapsed time). The line is
// meant for a terminal only: callers ask UtStderrIsTerminal first.
#pragma once
#include <cstddef>
#include <cstdint>

// Cells of the bar between its brackets.
inline constexpr uint32_t kProgressBarCells = 30;
// Positions run from 0 to this (hundredths of a percent).
inline constexpr uint32_t kProgressLineRange = 10000;

// done * kProgressLineRange / total without overflow: 0 for a total of 0, the full range when
// done reaches or passes total.
uint32_t ProgressLinePosition(uint64_t done, uint64_t total);

// Writes the line into `out` (at most capacity - 1 units and a terminator, when capacity is not
// 0) and returns its full length. A position above the range counts as full; a null label or
// detail as empty.
size_t ProgressLineRender(char16_t* out, size_t capacity, const char16_t* label, uint32_t position,
                          const char16_t* detail);
size_t ProgressLineRender(char* out, size_t capacity, const char* label, uint32_t position,
                          const char* detail);

// Takes the line off the screen: back to its start, then clear to the end of the line.
inline constexpr char kProgressLineClear[] = "\r\x1b[K";
inline constexpr char16_t kProgressLineClear16[] = u"\r\x1b[K";

// Whether standard error is a terminal (usertext/<platform>/progress_line.cpp).
bool UtStderrIsTerminal();

#include "usertext/ut_out.h"

#include <cstring>

#include "base/file.h"
#include "base/pool.h"
#include "base/text.h"
#include "usertext/std_stream.h"

namespace {

// A converted line up to kLocalLineBytes - 3 bytes, its line end and terminator fit here; the
// same length is what survives when a longer line finds no memory.
constexpr size_t kLocalLineBytes = 200;
constexpr size_t kLineEndBytes = 2;
// Pieces of text up to this many units are copied on the stack by the line splitter.
constexpr size_t kLocalPieceUnits = 256;

// Converts the line to the ANSI code page, adds the line end and writes it in one call.
void WriteLine(UtStdStream stream, const char16_t* text, bool line_end) {
  file_handle_t handle = UtStdHandle(stream);
  if (IsNoHandle(handle)) return;
  char local[kLocalLineBytes];
  // Converting into all but the line end's room keeps a cut line whole-charactered.
  size_t length = Utf16ToCodePage(0, local, kLocalLineBytes - kLineEndBytes, text, -1);
  char* bytes = local;
  char* heap = nullptr;
  if (length + kLineEndBytes >= kLocalLineBytes) {
    kd_heap_ma_c allocator;
    heap = static_cast<char*>(allocator.Allocate(length + kLineEndBytes + 1));
    if (heap) {
      Utf16ToCodePage(0, heap, length + 1, text, -1);
      bytes = heap;
    } else {
      length = std::strlen(local);
    }
  }
  if (line_end) {
    for (const char* end = kUtLineEnd; *end; ++end) bytes[length++] = *end;
  }
  write_file(handle, bytes, static_cast<uint32_t>(length), 0);
  HeapFree(heap);
}

// Hands one piece (without its line feed) to the sink as a terminated copy.
void WritePiece(UtOut* sink, const char16_t* piece, size_t length, bool line_end) {
  if (line_end && length > 0 && piece[length - 1] == u'\r') --length;
  char16_t local[kLocalPieceUnits];
  char16_t* copy = local;
  char16_t* heap = nullptr;
  if (length >= kLocalPieceUnits) {
    kd_heap_ma_c allocator;
    heap = static_cast<char16_t*>(allocator.Allocate((length + 1) * sizeof(char16_t)));
    if (heap)
      copy = heap;
    else
      length = kLocalPieceUnits - 1;  // no memory: the line is cut
  }
  std::memcpy(copy, piece, length * sizeof(char16_t));
  copy[length] = 0;
  sink->write(copy, line_end);
  HeapFree(heap);
}

}  // namespace

int UtOutStdout::write(const char16_t* text, bool line_end) {
  WriteLine(UtStdStream::kOutput, text, line_end);
  return 0;
}

int UtOutStderr::write(const char16_t* text, bool line_end) {
  WriteLine(UtStdStream::kError, text, line_end);
  return 0;
}

int UtOutNul::write(const char16_t*, bool) { return 0; }

UtOutStdout g_ut_out_stdout;
UtOutStderr g_ut_out_stderr;
UtOutNul g_ut_out_nul;
UtOut* const g_ut_report_sink = &g_ut_out_stderr;

int UtWriteLines(UtOut* sink, const char16_t* text) {
  size_t length = Utf16Length(text);
  if (!sink) return static_cast<int>(length);
  if (length == 0) {
    sink->write(u"", false);
    return 0;
  }
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != u'\n') continue;
    WritePiece(sink, text + start, i - start, true);
    start = i + 1;
  }
  if (start < length) WritePiece(sink, text + start, length - start, false);
  return static_cast<int>(length);
}

int UtReport(const char16_t* text) { return UtWriteLines(g_ut_report_sink, text); }

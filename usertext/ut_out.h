// Output sinks: where the program's console text goes. A sink takes one line at a time, turns it
// into the ANSI code page and writes it to its standard handle in one write call, ending it with
// carriage return and line feed when the text had a line end. The line splitter cuts a text into
// such lines; the report writer sends diagnostic lines to the report sink (standard error).
#pragma once

// One operation: write one line (NUL-terminated UTF-16 without its line end); line_end says
// whether the text ended the line. The result means nothing to callers.
class UtOut {
 public:
  virtual int write(const char16_t* text, bool line_end) = 0;

 protected:
  ~UtOut() = default;
};

// Write to the standard output / standard error handle as it is at the moment of the write, so
// a handle changed while the program runs is honoured. No standard handle: nothing is written.
class UtOutStdout final : public UtOut {
 public:
  int write(const char16_t* text, bool line_end) override;
};

class UtOutStderr final : public UtOut {
 public:
  int write(const char16_t* text, bool line_end) override;
};

// Accepts everything and writes nothing.
class UtOutNul final : public UtOut {
 public:
  int write(const char16_t* text, bool line_end) override;
};

// The program's instances. They hold no data, so they are ready before any static initialiser
// runs.
extern UtOutStdout g_ut_out_stdout;
extern UtOutStderr g_ut_out_stderr;
extern UtOutNul g_ut_out_nul;

// Where diagnostic lines go: always the standard-error sink.
extern UtOut* const g_ut_report_sink;

// Writes text to the sink line by line: each piece up to a line feed (a carriage return before
// it dropped) with line_end true, then any rest with line_end false. An empty text is one empty
// write without line end. A null sink writes nothing. Returns the text's length in units.
int UtWriteLines(UtOut* sink, const char16_t* text);

// UtWriteLines on the report sink.
int UtReport(const char16_t* text);

// Output files that a command writes under temporary names beside their final ones and moves
// into place only once every one of them is complete. A run that fails leaves neither a
// half-written output nor a damaged input, and an output that is one of the command's inputs
// (by identity: a link or another spelling of the same file counts) is refused before
// anything is written to it.
#pragma once
#include <string>
#include <vector>

#include "base/file.h"

namespace tool {

class StagedOutput {
 public:
  // `inputs`: the files the command reads while it writes.
  explicit StagedOutput(std::vector<std::string> inputs) : inputs_(std::move(inputs)) {}
  ~StagedOutput() { Discard(); }
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // True when `path` names one of the inputs.
  bool IsInput(const std::string& path) const;
  // Creates the temporary file that stands for `path` and opens it for writing. Fails with
  // kErrInvalidParameter, leaving clash() set to `path`, when `path` is an input.
  err_t Create(const std::string& path, file_handle_t* handle);
  // The temporary file standing for `path`, which Create made.
  static std::string TempPath(const std::string& path) { return path + ".isorun-partial"; }
  // Moves every created file into place, in the order of creation.
  err_t Commit();
  // Deletes the temporary files not yet moved into place.
  void Discard();

  const std::string& clash() const { return clash_; }

 private:
  std::vector<std::string> inputs_;
  std::vector<std::string> staged_;
  std::string clash_;
};

}  // namespace tool

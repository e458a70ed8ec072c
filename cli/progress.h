// The terminal's one writer. Reports, warnings and errors all pass through here, so the progress
// bar on stderr is taken down before any of them is printed and never shares a line with them.
// The bar draws only when stderr is a terminal and the run lasts long enough to be worth
// watching. Its length grows as files are opened: no input is opened twice to measure it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace tessil::cli {

class Progress {
 public:
  // Runs shorter than this end before a bar would help.
  static constexpr std::chrono::milliseconds kQuietStart{500};

  explicit Progress(int files);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // A file was opened; `frames` is its length as far as its header tells.
  void AddFile(int64_t frames);
  void Advance(int64_t frames);
  void FileDone();
  // Prints `text` as it is (with its own line ends) to `stream`, the bar out of the way.
  void Print(std::FILE* stream, const std::string& text);
  // Removes the bar for good.
  void Finish();

 private:
  void DrawLocked();
  void ClearLocked();

  std::mutex mutex_;
  bool enabled_;
  bool finished_ = false;
  bool drawn_ = false;
  int64_t knownFrames_ = 0;
  int64_t doneFrames_ = 0;
  int files_;
  int filesOpened_ = 0;
  int filesDone_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace tessil::cli

// The terminal's one writer. Reports, warnings and errors all pass through here, so the progress
// bar on stderr is taken down before any of them is printed and never shares a line with them.
// The bar draws only when stderr is a terminal and the run lasts long enough to be worth
// watching, with the time left once it can be told. Where stderr is a pipe or a log, --progress
// prints a line about once a second, as each further pass begins and as each file is done. The work grows as files are opened (no input is opened
// twice to measure it) and as passes are added: a --target search streams a file several times.
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

  // `lines`: print progress lines where stderr is not a terminal (--progress).
  explicit Progress(int files, bool lines = false);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // A file was opened; `frames` is its length as far as its header tells.
  void AddFile(int64_t frames);
  // More (or, when negative, less) work than the files' lengths: further passes over a file.
  void AddWork(int64_t frames);
  void Advance(int64_t frames);
  // Another pass over a file begins: a progress line says so, whatever the time since the last.
  void PassStarted();
  void FileDone();
  // Prints `text` as it is (with its own line ends) to `stream`, the bar out of the way.
  void Print(std::FILE* stream, const std::string& text);
  // Removes the bar for good.
  void Finish();

 private:
  void DrawLocked();
  void ClearLocked();
  void PrintLineLocked();
  double FractionLocked() const;
  std::string TimeLeftLocked(double fraction) const;

  std::mutex mutex_;
  bool enabled_;
  bool lines_;
  bool finished_ = false;
  bool drawn_ = false;
  int64_t knownFrames_ = 0;
  int64_t doneFrames_ = 0;
  int files_;
  int filesOpened_ = 0;
  int filesDone_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_{};
  std::chrono::steady_clock::time_point lastLine_{};
};

}  // namespace tessil::cli

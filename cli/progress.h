// A one-line progress bar on stderr, shared by every file of a run. It draws only when stderr is
// a terminal and the audio is long enough to be worth watching; otherwise it prints nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace tessil::cli {

class Progress {
 public:
  // Audio shorter than this renders too quickly for a bar to help.
  static constexpr double kMinimumSeconds = 5.0;

  Progress(int64_t totalFrames, double totalSeconds, int files);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Advance(int64_t frames);
  void FileDone();
  // Removes the bar so that other text can be printed; the next Advance draws it again.
  void Clear();

 private:
  void DrawLocked();
  void ClearLocked();

  std::mutex mutex_;
  bool enabled_;
  bool drawn_ = false;
  int64_t totalFrames_;
  int64_t doneFrames_ = 0;
  int files_;
  int filesDone_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace tessil::cli

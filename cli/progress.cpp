#include "cli/progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace tessil::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

}  // namespace

Progress::Progress(int64_t totalFrames, double totalSeconds, int files)
    : enabled_(::isatty(STDERR_FILENO) != 0 && totalSeconds > kMinimumSeconds && totalFrames > 0),
      totalFrames_(totalFrames),
      files_(files) {}

void Progress::Advance(int64_t frames) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  doneFrames_ += frames;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  DrawLocked();
}

void Progress::FileDone() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesDone_;
  if (filesDone_ == files_) ClearLocked();
}

void Progress::Clear() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
}

void Progress::DrawLocked() {
  // Lengths from a file header can be estimates (compressed formats): never pass 100 %.
  const double fraction =
      doneFrames_ >= totalFrames_ ? 1.0 : static_cast<double>(doneFrames_) / totalFrames_;
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string line = "\rrendering [";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(kBarWidth - filled), '.');
  line += "] " + std::to_string(static_cast<int>(fraction * 100.0)) + " %";
  if (files_ > 1) line += ", " + std::to_string(filesDone_) + " of " + std::to_string(files_) + " files";
  line += "\x1b[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::ClearLocked() {
  if (!drawn_) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace tessil::cli

#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>

namespace tessil::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

}  // namespace

Progress::Progress(int files)
    : enabled_(::isatty(STDERR_FILENO) != 0), files_(files), start_(std::chrono::steady_clock::now()) {}

void Progress::AddFile(int64_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesOpened_;
  if (frames > 0) knownFrames_ += frames;
}

void Progress::Advance(int64_t frames) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  doneFrames_ += frames;
  const auto now = std::chrono::steady_clock::now();
  if (finished_ || now - start_ < kQuietStart) return;
  if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  DrawLocked();
}

void Progress::FileDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesDone_;
}

void Progress::Print(std::FILE* stream, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  std::fflush(stdout);
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  finished_ = true;
}

void Progress::DrawLocked() {
  // Files not yet opened count as one unknown share each; lengths from a header can be
  // estimates (compressed formats), so the bar never passes 100 %.
  double fraction = 0.0;
  if (files_ > 0) {
    const double opened = knownFrames_ > 0 ? std::min(1.0, static_cast<double>(doneFrames_) / knownFrames_) : 0.0;
    fraction = opened * filesOpened_ / files_;
  }
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

#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace tessil::cli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr auto kLineInterval = std::chrono::seconds(1);
// Before this much of the work an estimate of the time left would be noise.
constexpr double kEstimateFrom = 0.02;
constexpr int kBarWidth = 30;

std::string Clock(double seconds) {
  const auto whole = static_cast<long long>(std::ceil(seconds));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof(text), "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

Progress::Progress(int files, bool lines)
    : enabled_(::isatty(STDERR_FILENO) != 0),
      lines_(lines && !enabled_),
      files_(files),
      start_(std::chrono::steady_clock::now()) {}

void Progress::AddFile(int64_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesOpened_;
  if (frames > 0 && frames < (int64_t{1} << 48)) knownFrames_ += frames;
}

void Progress::AddWork(int64_t frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  knownFrames_ = std::max<int64_t>(0, knownFrames_ + frames);
}

void Progress::Advance(int64_t frames) {
  if (!enabled_ && !lines_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  doneFrames_ += frames;
  const auto now = std::chrono::steady_clock::now();
  if (finished_ || now - start_ < (lines_ ? kLineInterval : kQuietStart)) return;
  if (lines_) {
    if (now - lastLine_ >= kLineInterval) {
      lastLine_ = now;
      PrintLineLocked();
    }
    return;
  }
  if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  DrawLocked();
}

void Progress::PassStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lines_ || finished_ || doneFrames_ == 0) return;
  lastLine_ = std::chrono::steady_clock::now();
  PrintLineLocked();
}

void Progress::FileDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesDone_;
  if (lines_ && !finished_) PrintLineLocked();
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

double Progress::FractionLocked() const {
  // Files not yet opened count as one unknown share each; lengths from a header can be
  // estimates (compressed formats), so the fraction never passes 1.
  if (files_ <= 0) return 0.0;
  const double opened = knownFrames_ > 0 ? std::min(1.0, static_cast<double>(doneFrames_) / knownFrames_) : 0.0;
  return opened * filesOpened_ / files_;
}

std::string Progress::TimeLeftLocked(double fraction) const {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  if (fraction < kEstimateFrom) return {};
  const double seconds = std::chrono::duration<double>(elapsed).count();
  return ", " + Clock(seconds * (1.0 - fraction) / fraction) + " left";
}

void Progress::DrawLocked() {
  const double fraction = FractionLocked();
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string line = "\rrendering [";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(kBarWidth - filled), '.');
  line += "] " + std::to_string(static_cast<int>(fraction * 100.0)) + " %";
  if (files_ > 1) line += ", " + std::to_string(filesDone_) + " of " + std::to_string(files_) + " files";
  line += TimeLeftLocked(fraction) + "\x1b[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::PrintLineLocked() {
  const double fraction = filesDone_ == files_ ? 1.0 : FractionLocked();
  std::string line = "tessil: progress " + std::to_string(static_cast<int>(fraction * 100.0)) + " %";
  line += ", " + std::to_string(filesDone_) + " of " + std::to_string(files_) + (files_ == 1 ? " file" : " files") + " done";
  line += (fraction < 1.0 ? TimeLeftLocked(fraction) : std::string()) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void Progress::ClearLocked() {
  if (!drawn_) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace tessil::cli

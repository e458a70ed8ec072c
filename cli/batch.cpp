#include "cli/batch.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/property_requests.h"
#include "host/latency.h"
#include "cli/report.h"

namespace tessil::cli {

namespace {

namespace fs = std::filesystem;

void RefuseOverwritingInput(const RenderJob& job) {
  std::error_code error;
  if (fs::exists(job.output, error) && fs::equivalent(job.input, job.output, error)) {
    throw CliError(job.output + ": refusing to overwrite the input file");
  }
}

// The whole run's length, for the progress bar; files that cannot be read count as empty and
// report their error when their turn comes.
Progress MakeProgress(const std::vector<RenderJob>& jobs) {
  int64_t frames = 0;
  double seconds = 0.0;
  for (const RenderJob& job : jobs) {
    SF_INFO info{};
    if (SNDFILE* file = sf_open(job.input.c_str(), SFM_READ, &info)) {
      frames += info.frames;
      if (info.samplerate > 0) seconds += static_cast<double>(info.frames) / info.samplerate;
      sf_close(file);
    }
  }
  return Progress(frames, seconds, static_cast<int>(jobs.size()));
}

// Reports leave in input order however the files finish, so the output is the same from run
// to run.
class ReportPrinter {
 public:
  ReportPrinter(size_t count, bool json, bool array, Progress* progress)
      : results_(count), json_(json), array_(array), progress_(progress) {
    if (json_ && array_) std::fputs("[", stdout);
  }

  void Done(size_t index, const FileReport& report) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_[index] = json_ ? JsonReport(report) : TextReport(report);
    FlushLocked();
  }

  void Failed(size_t index, const RenderJob& job, const CliError& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (progress_ != nullptr) progress_->Clear();
    std::fprintf(stderr, "tessil: error: %s\n", error.what());
    results_[index] = json_ && array_ ? "{\"input\": " + JsonString(job.input) +
                                            ", \"output\": " + JsonString(job.output) +
                                            ", \"error\": " + JsonString(error.what()) + "}"
                                      : std::string();
    FlushLocked();
  }

  void Finish() {
    if (json_ && array_) std::fputs(printed_ > 0 ? "\n]\n" : "]\n", stdout);
    std::fflush(stdout);
  }

 private:
  void FlushLocked() {
    while (next_ < results_.size() && results_[next_]) {
      const std::string& text = *results_[next_];
      if (!text.empty()) {
        if (progress_ != nullptr) progress_->Clear();
        if (json_) {
          std::fputs(array_ ? (printed_ > 0 ? ",\n  " : "\n  ") : "", stdout);
          std::fputs(text.c_str(), stdout);
          if (!array_) std::fputs("\n", stdout);
        } else {
          std::fputs(printed_ > 0 ? "\n" : "", stdout);
          std::fputs(text.c_str(), stdout);
        }
        ++printed_;
        std::fflush(stdout);
      }
      ++next_;
    }
  }

  std::mutex mutex_;
  std::vector<std::optional<std::string>> results_;
  size_t next_ = 0;
  size_t printed_ = 0;
  bool json_;
  bool array_;
  Progress* progress_;
};

}  // namespace

std::vector<RenderJob> PlanJobs(const CommandLine& commandLine) {
  std::vector<RenderJob> jobs;
  if (commandLine.outputDirectory.empty()) {
    jobs.push_back({commandLine.files[0], commandLine.files[1]});
    RefuseOverwritingInput(jobs[0]);
    return jobs;
  }
  const fs::path directory(commandLine.outputDirectory);
  std::error_code error;
  fs::create_directories(directory, error);
  if (error || !fs::is_directory(directory)) {
    throw CliError(commandLine.outputDirectory + ": cannot use as output directory: " +
                   (error ? error.message() : std::string("not a directory")));
  }
  std::set<fs::path> outputs;
  for (const std::string& input : commandLine.files) {
    fs::path name = fs::path(input).filename();
    if (name.empty()) throw CliError(input + ": not a file name");
    if (commandLine.render.format != OutputFormat::Same) name.replace_extension(".wav");
    const fs::path output = directory / name;
    if (!outputs.insert(output.lexically_normal()).second) {
      throw CliError(output.string() + ": two inputs would be written to the same output");
    }
    jobs.push_back({input, output.string()});
    RefuseOverwritingInput(jobs.back());
  }
  return jobs;
}

int RunRender(const CommandLine& commandLine) {
  ManagerHandle manager = CreateConfiguredManager(commandLine);
  const std::vector<RenderJob> jobs = PlanJobs(commandLine);
  PropertyClient client(manager.get());
  const bool lookaheadActive =
      host::LookAheadActive(client.Read(PropertyById(KSPROPERTY_TESSIL_ENABLE)) != 0,
                            client.Read(PropertyById(KSPROPERTY_TESSIL_CORE_ENABLE)) != 0);

  Progress progress = MakeProgress(jobs);
  const bool toDirectory = !commandLine.outputDirectory.empty();
  ReportPrinter printer(jobs.size(), commandLine.render.json, toDirectory, &progress);
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  // Every processor is created and released by its worker; all of them are gone before the
  // manager is released at the end of this function, as a host must have it.
  const auto worker = [&] {
    for (size_t index = next++; index < jobs.size(); index = next++) {
      try {
        ThrowIfInterrupted();
        const FileReport report =
            RenderFile(manager.get(), jobs[index], commandLine.render, lookaheadActive, &progress);
        printer.Done(index, report);
      } catch (const CliError& error) {
        failed = true;
        printer.Failed(index, jobs[index], error);
      } catch (const std::exception& error) {
        failed = true;
        printer.Failed(index, jobs[index], CliError(jobs[index].input + ": " + error.what()));
      }
      progress.FileDone();
    }
  };
  unsigned threads = commandLine.render.jobs != 0 ? commandLine.render.jobs
                                                  : std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<size_t>(threads, jobs.size()));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  progress.Clear();
  printer.Finish();
  if (Interrupted()) return kExitInterrupted;
  return failed ? kExitFailure : 0;
}

}  // namespace tessil::cli

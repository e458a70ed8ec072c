#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "cli/audio_file.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/plot.h"
#include "cli/progress.h"
#include "cli/property_requests.h"
#include "cli/report.h"
#include "host/latency.h"

namespace tessil::cli {

namespace {

namespace fs = std::filesystem;

void RefuseOverwritingInput(const RenderJob& job) {
  if (IsStandardStream(job.input) || IsStandardStream(job.output)) return;
  std::error_code error;
  if (fs::exists(job.output, error) && fs::equivalent(job.input, job.output, error)) {
    throw CliError(job.output + ": refusing to overwrite the input file");
  }
}

// Reports leave in input order however the files finish, so the output is the same from run
// to run. Everything goes through the progress bar's writer.
class ReportPrinter {
 public:
  ReportPrinter(size_t count, bool json, bool array, std::FILE* stream, Progress* progress)
      : results_(count), json_(json), array_(array), stream_(stream), progress_(progress) {
    if (json_ && array_) progress_->Print(stream_, "[");
  }

  void Done(size_t index, const FileReport& report) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string warnings;
    for (const std::string& warning : report.warnings) warnings += "tessil: warning: " + warning + "\n";
    if (!warnings.empty()) progress_->Print(stderr, warnings);
    results_[index] = json_ ? JsonReport(report) : TextReport(report);
    FlushLocked();
  }

  void Failed(size_t index, const std::string& input, const std::string& output, const CliError& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_->Print(stderr, std::string("tessil: error: ") + error.what() + "\n");
    std::string entry;
    if (json_ && array_) {
      entry = "{\"input\": " + JsonString(input) +
              (output.empty() ? std::string() : ", \"output\": " + JsonString(output)) +
              ", \"error\": " + JsonString(error.what()) + "}";
    }
    results_[index] = entry;
    FlushLocked();
  }

  // A file that never ran (the run was interrupted): nothing to say for it.
  void Skipped(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_[index] = std::string();
    FlushLocked();
  }

  void Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_ && array_) progress_->Print(stream_, printed_ > 0 ? "\n]\n" : "]\n");
  }

 private:
  void FlushLocked() {
    while (next_ < results_.size() && results_[next_]) {
      const std::string& text = *results_[next_];
      if (!text.empty()) {
        std::string out;
        if (json_) {
          out = array_ ? (printed_ > 0 ? ",\n  " : "\n  ") + text : text + "\n";
        } else {
          out = (printed_ > 0 ? "\n" : "") + text;
        }
        progress_->Print(stream_, out);
        ++printed_;
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
  std::FILE* stream_;
  Progress* progress_;
};

// Runs `work` for every index on `threads` threads. A failure is reported and the others go on;
// after an interrupt no new file starts and "interrupted" is said once, by the caller.
bool RunAll(size_t count, unsigned threads, ReportPrinter* printer, Progress* progress,
            const std::function<FileReport(size_t)>& work,
            const std::function<std::pair<std::string, std::string>(size_t)>& names) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  const auto worker = [&] {
    for (size_t index = next++; index < count; index = next++) {
      if (Interrupted()) {
        printer->Skipped(index);
        continue;
      }
      try {
        printer->Done(index, work(index));
      } catch (const std::exception& caught) {
        if (Interrupted()) {
          printer->Skipped(index);
        } else {
          failed = true;
          const auto [input, output] = names(index);
          const auto* error = dynamic_cast<const CliError*>(&caught);
          printer->Failed(index, input, output, error != nullptr ? *error : CliError(input + ": " + ErrorText(caught)));
        }
      }
      progress->FileDone();
    }
  };
  threads = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(threads, count)));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  return failed;
}

int FinishRun(ReportPrinter* printer, Progress* progress, bool failed) {
  progress->Finish();
  printer->Finish();
  if (Interrupted()) {
    progress->Print(stderr, "tessil: interrupted\n");
    return InterruptedExitStatus();
  }
  return failed ? kExitFailure : 0;
}

// Each input's picture, checked before any audio is read; none without --plot.
std::vector<std::string> PlanPlots(const CommandLine& commandLine, const std::vector<std::string>& inputs) {
  if (commandLine.render.plot.empty()) return {};
  std::vector<std::string> plots = PlotPaths(commandLine.render.plot, inputs);
  for (const std::string& plot : plots) CheckPlotDestination(plot, commandLine.render.overwrite);
  return plots;
}

FileReport WithPlot(FileReport report, const std::vector<std::string>& plots, size_t index) {
  if (plots.empty()) return report;
  DrawPlot(report, plots[index]);
  report.plot = plots[index];
  return report;
}

unsigned Threads(unsigned asked) {
  return asked != 0 ? asked : std::max(1u, std::thread::hardware_concurrency());
}

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
    if (!commandLine.render.type.empty()) name.replace_extension("." + commandLine.render.type);
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
  RenderContext context;
  context.commandLine = &commandLine;
  for (const PropertySetting& setting : CollectSettings(commandLine)) context.settings.push_back(setting.text);
  ManagerHandle manager = CreateConfiguredManager(commandLine);
  const std::vector<RenderJob> jobs = PlanJobs(commandLine);
  std::vector<std::string> inputs;
  for (const RenderJob& job : jobs) inputs.push_back(job.input);
  const std::vector<std::string> plots = PlanPlots(commandLine, inputs);
  PropertyClient client(manager.get());
  context.manager = manager.get();
  context.lookaheadActive = host::LookAheadActive(client.Read(PropertyById(KSPROPERTY_TESSIL_ENABLE)) != 0,
                                                 client.Read(PropertyById(KSPROPERTY_TESSIL_CORE_ENABLE)) != 0);

  Progress progress(static_cast<int>(jobs.size()), commandLine.render.progress);
  context.progress = &progress;
  const bool toDirectory = !commandLine.outputDirectory.empty();
  // Standard output carries audio when OUT is '-': the report moves to standard error.
  const bool audioOnStdout = std::any_of(jobs.begin(), jobs.end(),
                                         [](const RenderJob& job) { return IsStandardStream(job.output); });
  ReportPrinter printer(jobs.size(), commandLine.render.json, toDirectory, audioOnStdout ? stderr : stdout,
                        &progress);
  // Every processor is created and released by its worker; all of them are gone before the
  // manager is released at the end of this function, as a host must have it.
  const bool failed = RunAll(
      jobs.size(), Threads(commandLine.render.jobs), &printer, &progress,
      [&](size_t index) { return WithPlot(RenderFile(context, jobs[index]), plots, index); },
      [&](size_t index) { return std::make_pair(jobs[index].input, jobs[index].output); });
  return FinishRun(&printer, &progress, failed);
}

int RunAnalyse(const CommandLine& commandLine) {
  const std::vector<std::string>& files = commandLine.files;
  const std::vector<std::string> plots = PlanPlots(commandLine, files);
  Progress progress(static_cast<int>(files.size()), commandLine.render.progress);
  ReportPrinter printer(files.size(), commandLine.render.json, true, stdout, &progress);
  const bool failed = RunAll(
      files.size(), Threads(0), &printer, &progress,
      [&](size_t index) { return WithPlot(AnalyseFile(files[index], &progress), plots, index); },
      [&](size_t index) { return std::make_pair(files[index], std::string()); });
  return FinishRun(&printer, &progress, failed);
}

}  // namespace tessil::cli

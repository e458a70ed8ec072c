#include "cli/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tessil::cli {

namespace {

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

// Figures in text: fixed width, "-inf" for silence, "n/a" where the meter could not run.
std::string TextFigure(const LoudnessFigures& figures, double value, const char* unit) {
  char text[48];
  if (!figures.measured) {
    std::snprintf(text, sizeof(text), "%8s %-4s", "n/a", "");
  } else if (std::isinf(value)) {
    std::snprintf(text, sizeof(text), "%8s %-4s", value < 0 ? "-inf" : "inf", unit);
  } else {
    std::snprintf(text, sizeof(text), "%8.2f %-4s", value, unit);
  }
  return text;
}

// JSON has no infinities: a figure that does not exist (silence) is null.
std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  return Format("%.6f", value);
}

std::string DeclaredJson(const FileReport& report) {
  return report.declaredFrames >= 0 ? std::to_string(report.declaredFrames) : std::string("null");
}

std::string JsonFigures(const LoudnessFigures& figures) {
  if (!figures.measured) return "null";
  return "{\"integrated_lufs\": " + JsonNumber(figures.integratedLufs) +
         ", \"range_lu\": " + JsonNumber(figures.rangeLu) +
         ", \"sample_peak_dbfs\": " + JsonNumber(figures.samplePeakDbfs) +
         ", \"true_peak_dbtp\": " + JsonNumber(figures.truePeakDbtp) + "}";
}

// " (5.1: FL FR FC LFE BL BR)"; nothing for mono and stereo, which say it themselves.
std::string LayoutText(const FileReport& report) {
  if (report.layout.empty() || report.layout == "mono" || report.layout == "stereo") {
    return report.layout.empty() ? std::string() : " (" + report.layout + ")";
  }
  std::string text = " (" + report.layout;
  if (!report.channelNames.empty() && report.layout.find('+') == std::string::npos) {
    text += ":";
    for (const std::string& name : report.channelNames) text += " " + name;
  }
  return text + ")";
}

// "FL and FR processed, FC, LFE, BL and BR passed through untouched"
std::string PassThroughText(const FileReport& report) {
  const auto& names = report.channelNames;
  if (names.size() != static_cast<size_t>(report.channels)) {
    return "channels 1 and 2 processed, channels 3 to " + std::to_string(report.channels) + " passed through untouched";
  }
  std::string others;
  for (size_t c = 2; c < names.size(); ++c) {
    others.append(c == 2 ? "" : c + 1 == names.size() ? " and " : ", ").append(names[c]);
  }
  return names[0] + " and " + names[1] + " processed, " + others + " passed through untouched";
}

std::string JsonStrings(const std::vector<std::string>& texts) {
  std::string json = "[";
  for (size_t i = 0; i < texts.size(); ++i) json.append(i > 0 ? ", " : "").append(JsonString(texts[i]));
  return json + "]";
}

// One series moved to a hop `factor` times its own: each point the one ending at the same time,
// the true peak the highest of the points it covers.
LoudnessSeries Coarser(const LoudnessSeries& series, size_t factor, size_t points) {
  if (factor == 1) return series;
  LoudnessSeries coarse;
  coarse.hopSeconds = series.hopSeconds * static_cast<double>(factor);
  for (size_t j = 0; j < points; ++j) {
    const size_t last = (j + 1) * factor - 1;
    coarse.momentary.push_back(series.momentary[last]);
    coarse.shortTerm.push_back(series.shortTerm[last]);
    coarse.truePeak.push_back(*std::max_element(series.truePeak.begin() + static_cast<std::ptrdiff_t>(j * factor),
                                                series.truePeak.begin() + static_cast<std::ptrdiff_t>(last + 1)));
  }
  return coarse;
}

bool AboveFloor(float lufs) { return lufs >= kLoudnessFloorLufs; }

std::string JsonLoudness(const std::vector<float>& values) {
  std::string json = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) json += ", ";
    json += std::isfinite(values[i]) && values[i] >= kLoudnessFloorLufs ? Format("%.2f", values[i]) : "null";
  }
  return json + "]";
}

std::string JsonDecibels(const std::vector<float>& values) {
  std::string json = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) json += ", ";
    json += std::isfinite(values[i]) ? Format("%.2f", values[i]) : "null";
  }
  return json + "]";
}

std::string JsonPlot(const FileReport& report) {
  return report.plot.empty() ? std::string("null") : JsonString(report.plot);
}

std::string JsonOverTime(const FileReport& report) {
  if (!report.before.measured) return "null";
  const LoudnessOverTime overTime = SeriesOverTime(report);
  std::string json = "{\"hop_seconds\": " + Format("%.9g", overTime.hopSeconds) +
                     ", \"input_short_term\": " + JsonLoudness(overTime.input.shortTerm) +
                     ", \"input_momentary\": " + JsonLoudness(overTime.input.momentary);
  if (!report.analysisOnly) {
    json += ", \"output_short_term\": " + JsonLoudness(overTime.output.shortTerm) +
            ", \"output_momentary\": " + JsonLoudness(overTime.output.momentary) +
            ", \"output_true_peak\": " + JsonDecibels(overTime.output.truePeak) +
            ", \"level_change\": " + JsonDecibels(overTime.levelChange);
  } else {
    json += ", \"input_true_peak\": " + JsonDecibels(overTime.input.truePeak);
  }
  return json + "}";
}

}  // namespace

LoudnessOverTime SeriesOverTime(const FileReport& report) {
  LoudnessOverTime overTime;
  const LoudnessSeries& input = report.before.series;
  const LoudnessSeries& output = report.after.series;
  if (report.analysisOnly || !report.after.measured || output.hopSeconds <= 0.0 || input.hopSeconds <= 0.0) {
    overTime.hopSeconds = input.hopSeconds;
    overTime.input = input;
    return overTime;
  }
  // Hops are the same step times a power of two; the finer side is sampled at the coarser's.
  const double hop = std::max(input.hopSeconds, output.hopSeconds);
  const auto factor = [&](const LoudnessSeries& series) {
    return static_cast<size_t>(std::llround(hop / series.hopSeconds));
  };
  const size_t points = std::min(input.shortTerm.size() / factor(input), output.shortTerm.size() / factor(output));
  overTime.hopSeconds = hop;
  overTime.input = Coarser(input, factor(input), points);
  overTime.output = Coarser(output, factor(output), points);
  for (LoudnessSeries* side : {&overTime.input, &overTime.output}) {
    side->momentary.resize(points);
    side->shortTerm.resize(points);
    side->truePeak.resize(points);
  }
  for (size_t i = 0; i < points; ++i) {
    const float in = overTime.input.shortTerm[i], out = overTime.output.shortTerm[i];
    overTime.levelChange.push_back(AboveFloor(in) && AboveFloor(out) ? out - in : NAN);
  }
  return overTime;
}

double FileReport::DurationSeconds() const {
  return sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;
}

double FileReport::RealtimeFactor() const {
  return processSeconds > 0.0 ? DurationSeconds() / processSeconds
                              : std::numeric_limits<double>::infinity();
}

std::string TextReport(const FileReport& report) {
  const bool analysis = report.analysisOnly;
  std::string text = analysis ? report.input + "\n" : report.input + " -> " + report.output + "\n";
  text += "  " + std::to_string(report.sampleRate) + " Hz, " + std::to_string(report.channels) +
          (report.channels == 1 ? " channel" : " channels") + LayoutText(report) + ", " + report.inputFormat;
  if (analysis) {
    text += "\n  " + Format("%.3f", report.DurationSeconds()) + " s of audio (" + std::to_string(report.frames) +
            " frames)\n";
  } else {
    text += ", processed as a " + std::to_string(report.hostBits) + "-bit stream at " +
            std::to_string(report.processingRate) + " Hz\n";
    if (report.channels > report.processedChannels) text += "  " + PassThroughText(report) + "\n";
    text += "  " + Format("%.3f", report.DurationSeconds()) + " s of audio (" + std::to_string(report.frames) +
            " frames) in buffers of " + std::to_string(report.bufferFrames) + " frames; ";
    text += report.aligned ? std::to_string(report.latencyFrames) + " frames of latency trimmed\n"
                           : std::string("raw stream, latency not trimmed\n");
    const double factor = report.RealtimeFactor();
    text += "  processing " + Format("%.3f", report.processSeconds) + " s (" +
            (std::isfinite(factor) ? Format("%.1f", factor) + "x realtime" : std::string("too fast to time")) +
            "), " + Format("%.3f", report.wallSeconds) + " s in all\n";
    text += "  settings: ";
    if (report.settings.empty()) text += "defaults";
    for (size_t i = 0; i < report.settings.size(); ++i) text += (i > 0 ? ", " : "") + report.settings[i];
    text += "\n";
    if (report.targetUsed) {
      text += "  target " + Format("%.1f", report.targetLufs) + " LUFS: core level " +
              std::to_string(report.targetCoreLevel) + " hundredths, found in " +
              std::to_string(report.targetIterations) + " renders\n";
    }
    if (report.ceilingUsed || report.hostGainDb != 0.0) {
      text += "  host gain after the driver " + Format("%+.2f", report.hostGainDb) + " dB";
      if (report.ceilingUsed) text += " (ceiling " + Format("%.1f", report.ceilingDbtp) + " dBTP)";
      text += "\n";
    }
    text += "  clipped samples: " + std::to_string(report.clippedSamples) + "\n";
  }
  if (!analysis && !report.before.measured && !report.after.measured) {
    return text + "  loudness and peaks not measured\n  written as " + report.outputFormat + "\n";
  }
  char header[96];
  if (analysis) {
    std::snprintf(header, sizeof(header), "  %-18s%8s\n", "", "input");
  } else {
    std::snprintf(header, sizeof(header), "  %-18s%8s %-4s  %8s\n", "", "input", "",
                  report.outputMeasuredFromFile ? "output (decoded)" : "output");
  }
  text += header;
  const auto row = [&](const char* name, double LoudnessFigures::*field, const char* unit) {
    char label[32];
    std::snprintf(label, sizeof(label), "  %-18s", name);
    std::string line = label + TextFigure(report.before, report.before.*field, unit);
    if (!analysis) line += "  " + TextFigure(report.after, report.after.*field, unit);
    while (line.back() == ' ') line.pop_back();
    text += line + "\n";
  };
  row("integrated", &LoudnessFigures::integratedLufs, "LUFS");
  row("loudness range", &LoudnessFigures::rangeLu, "LU");
  row("sample peak", &LoudnessFigures::samplePeakDbfs, "dBFS");
  row("true peak", &LoudnessFigures::truePeakDbtp, "dBTP");
  for (const std::string& note : report.notes) text.append("  note: ").append(note).append("\n");
  if (!report.plot.empty()) text += "  picture: " + report.plot + "\n";
  if (!analysis) text += "  written as " + report.outputFormat + "\n";
  return text;
}

std::string JsonReport(const FileReport& report) {
  if (report.analysisOnly) {
    return "{\"input\": " + JsonString(report.input) + ", \"input_format\": " + JsonString(report.inputFormat) +
           ", \"sample_rate\": " + std::to_string(report.sampleRate) +
           ", \"channels\": " + std::to_string(report.channels) + ", \"layout\": " + JsonString(report.layout) +
           ", \"channel_names\": " + JsonStrings(report.channelNames) +
           ", \"frames\": " + std::to_string(report.frames) + ", \"declared_frames\": " + DeclaredJson(report) +
           ", \"warnings\": " + JsonStrings(report.warnings) + ", \"notes\": " + JsonStrings(report.notes) +
           ", \"duration_seconds\": " + JsonNumber(report.DurationSeconds()) +
           ", \"input_loudness\": " + JsonFigures(report.before) +
           ", \"loudness_over_time\": " + JsonOverTime(report) + ", \"plot\": " + JsonPlot(report) + "}";
  }
  std::string settings = "[";
  for (size_t i = 0; i < report.settings.size(); ++i) settings += (i > 0 ? ", " : "") + JsonString(report.settings[i]);
  settings += "]";
  std::string warnings = "[";
  for (size_t i = 0; i < report.warnings.size(); ++i) warnings += (i > 0 ? ", " : "") + JsonString(report.warnings[i]);
  warnings += "]";
  const std::string target =
      report.targetUsed ? "{\"lufs\": " + JsonNumber(report.targetLufs) + ", \"core_level\": " +
                              std::to_string(report.targetCoreLevel) + ", \"iterations\": " +
                              std::to_string(report.targetIterations) + "}"
                        : std::string("null");
  return "{\"input\": " + JsonString(report.input) + ", \"output\": " + JsonString(report.output) +
         ", \"input_format\": " + JsonString(report.inputFormat) +
         ", \"output_format\": " + JsonString(report.outputFormat) +
         ", \"sample_rate\": " + std::to_string(report.sampleRate) +
         ", \"processing_rate\": " + std::to_string(report.processingRate) +
         ", \"channels\": " + std::to_string(report.channels) + ", \"layout\": " + JsonString(report.layout) +
         ", \"channel_names\": " + JsonStrings(report.channelNames) +
         ", \"processed_channels\": " + std::to_string(report.processedChannels) +
         ", \"passed_through_channels\": " + std::to_string(report.channels - report.processedChannels) +
         ", \"bits\": " + std::to_string(report.hostBits) +
         ", \"frames\": " + std::to_string(report.frames) + ", \"declared_frames\": " + DeclaredJson(report) +
         ", \"duration_seconds\": " + JsonNumber(report.DurationSeconds()) +
         ", \"buffer_frames\": " + std::to_string(report.bufferFrames) +
         ", \"aligned\": " + (report.aligned ? "true" : "false") +
         ", \"latency_frames\": " + std::to_string(report.latencyFrames) +
         ", \"settings\": " + settings +
         ", \"target\": " + target +
         ", \"ceiling_dbtp\": " + (report.ceilingUsed ? JsonNumber(report.ceilingDbtp) : std::string("null")) +
         ", \"host_gain_db\": " + JsonNumber(report.hostGainDb) +
         ", \"clipped_samples\": " + std::to_string(report.clippedSamples) +
         ", \"output_measured_from_file\": " + (report.outputMeasuredFromFile ? "true" : "false") +
         ", \"warnings\": " + warnings + ", \"notes\": " + JsonStrings(report.notes) +
         ", \"process_seconds\": " + JsonNumber(report.processSeconds) +
         ", \"wall_seconds\": " + JsonNumber(report.wallSeconds) +
         ", \"realtime_factor\": " + JsonNumber(report.RealtimeFactor()) +
         ", \"input_loudness\": " + JsonFigures(report.before) +
         ", \"meter_wait_seconds\": " + JsonNumber(report.before.waitSeconds + report.after.waitSeconds) +
         ", \"input_loudness\": " + JsonFigures(report.before) +
         ", \"output_loudness\": " + JsonFigures(report.after) +
         ", \"loudness_over_time\": " + JsonOverTime(report) + ", \"plot\": " + JsonPlot(report) + "}";
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\t': quoted += "\\t"; break;
      case '\r': quoted += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

}  // namespace tessil::cli

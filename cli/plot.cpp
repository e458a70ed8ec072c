#include "cli/plot.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <numbers>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

namespace fs = std::filesystem;

constexpr double kWidth = 1200.0;
constexpr double kHeight = 720.0;
constexpr const char* kFont = "DejaVu Sans";
constexpr double kShortTermSeconds = 3.0;
constexpr double kMomentarySeconds = 0.4;

struct Colour {
  double red, green, blue;
};
constexpr Colour kInputColour{0.15, 0.42, 0.72};
constexpr Colour kOutputColour{0.91, 0.44, 0.05};
constexpr Colour kChangeColour{0.16, 0.56, 0.30};
constexpr Colour kTargetColour{0.50, 0.20, 0.62};
constexpr Colour kOverColour{0.86, 0.06, 0.06};
constexpr Colour kGridColour{0.89, 0.89, 0.89};
constexpr Colour kAxisColour{0.35, 0.35, 0.35};
constexpr Colour kTextColour{0.12, 0.12, 0.12};
constexpr Colour kMutedColour{0.40, 0.40, 0.40};

// Where values land: time from 0 to `seconds` across the area, values from `low` to `high` up it.
struct Panel {
  double x, y, width, height;
  double seconds;
  double low, high;

  double X(double t) const { return x + width * t / seconds; }
  double Y(double value) const { return y + height * (high - value) / (high - low); }
};

void SetColour(cairo_t* cr, Colour colour, double alpha = 1.0) {
  cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, alpha);
}

enum class Align { Start, Middle, End };

// Text anchored at (x, y): horizontally as `align` says, vertically on its middle.
void Text(cairo_t* cr, const std::string& text, double x, double y, double size, Colour colour,
          Align align = Align::Start, bool bold = false) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  const double start = align == Align::Start ? x : align == Align::Middle ? x - extents.x_advance / 2 : x - extents.x_advance;
  SetColour(cr, colour);
  cairo_move_to(cr, start, y + size * 0.35);
  cairo_show_text(cr, text.c_str());
}

double TextWidth(cairo_t* cr, const std::string& text, double size) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return extents.x_advance;
}

// "-14.2" with a true minus sign, as typeset figures have it.
std::string Figure(double value, int digits) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.*f", digits, std::fabs(value));
  const bool negative = value < 0.0 && std::string(text).find_first_not_of("0.") != std::string::npos;
  return (negative ? "\u2212" : "") + std::string(text);
}

std::string LoudnessText(double lufs) { return std::isfinite(lufs) ? Figure(lufs, 1) + " LUFS" : "no loudness"; }
std::string PeakText(double dbtp) { return std::isfinite(dbtp) ? Figure(dbtp, 1) + " dBTP" : "silent"; }

// m:ss, or h:mm:ss for programmes of an hour or more.
std::string ClockText(double seconds, bool hours) {
  const auto whole = static_cast<long>(std::lround(seconds));
  char text[32];
  if (hours) {
    std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof(text), "%ld:%02ld", whole / 60, whole % 60);
  }
  return text;
}

// The first step of `steps` that puts at most `most` ticks across `span`.
double TickStep(double span, double most, std::initializer_list<double> steps) {
  for (const double step : steps) {
    if (span / step <= most) return step;
  }
  double step = *(steps.end() - 1);
  while (span / step > most) step *= 2;
  return step;
}

void Grid(cairo_t* cr, const Panel& panel, double valueStep, const char* unit, bool timeLabels) {
  cairo_save(cr);
  cairo_set_line_width(cr, 1.0);
  const double timeStep =
      TickStep(panel.seconds, 12, {1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600, 900, 1200, 1800, 3600, 7200});
  const bool hours = panel.seconds >= 3600;
  for (double t = 0; t <= panel.seconds + 1e-9; t += timeStep) {
    const double x = std::round(panel.X(t)) + 0.5;
    SetColour(cr, kGridColour);
    cairo_move_to(cr, x, panel.y);
    cairo_line_to(cr, x, panel.y + panel.height);
    cairo_stroke(cr);
    if (timeLabels) Text(cr, ClockText(t, hours), x, panel.y + panel.height + 14, 12, kMutedColour, Align::Middle);
  }
  for (double v = std::ceil(panel.low / valueStep) * valueStep; v <= panel.high + 1e-9; v += valueStep) {
    const double y = std::round(panel.Y(v)) + 0.5;
    SetColour(cr, std::fabs(v) < 1e-9 && std::string(unit) == "dB" ? kAxisColour : kGridColour);
    cairo_move_to(cr, panel.x, y);
    cairo_line_to(cr, panel.x + panel.width, y);
    cairo_stroke(cr);
    Text(cr, Figure(v, 0), panel.x - 8, y, 12, kMutedColour, Align::End);
  }
  SetColour(cr, kAxisColour);
  cairo_rectangle(cr, panel.x + 0.5, panel.y + 0.5, panel.width, panel.height);
  cairo_stroke(cr);
  cairo_restore(cr);
  // The unit beside the axis, turned.
  cairo_save(cr);
  cairo_translate(cr, panel.x - 48, panel.y + panel.height / 2);
  cairo_rotate(cr, -std::numbers::pi / 2);
  Text(cr, unit, 0, 0, 13, kTextColour, Align::Middle);
  cairo_restore(cr);
}

// One curve: point i at the end of hop i; values that `missing` refuses break it.
// Points whose window reaches back before the start (the first `window` seconds) are left out:
// they would show the window filling, not the programme.
template <typename Missing>
void Curve(cairo_t* cr, const Panel& panel, const std::vector<float>& values, double hop, double window, Colour colour,
           double width, double alpha, const Missing& missing) {
  cairo_save(cr);
  cairo_rectangle(cr, panel.x, panel.y, panel.width, panel.height);
  cairo_clip(cr);
  bool drawing = false;
  for (size_t i = 0; i < values.size(); ++i) {
    if (missing(values[i]) || static_cast<double>(i + 1) * hop < window - 1e-6) {
      drawing = false;
      continue;
    }
    const double x = panel.X(static_cast<double>(i + 1) * hop);
    const double y = panel.Y(std::clamp<double>(values[i], panel.low - 10, panel.high + 10));
    if (drawing) {
      cairo_line_to(cr, x, y);
    } else {
      cairo_move_to(cr, x, y);
      drawing = true;
    }
  }
  SetColour(cr, colour, alpha);
  cairo_set_line_width(cr, width);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
  cairo_restore(cr);
}

bool BelowFloor(float lufs) { return !(lufs >= kLoudnessFloorLufs); }
bool NotANumber(float value) { return std::isnan(value); }

// The level change as an area between the curve and 0 dB, gaps left where it is missing.
void ChangeArea(cairo_t* cr, const Panel& panel, const std::vector<float>& change, double hop) {
  cairo_save(cr);
  cairo_rectangle(cr, panel.x, panel.y, panel.width, panel.height);
  cairo_clip(cr);
  const double zero = panel.Y(0.0);
  size_t i = 0;
  while (i < change.size()) {
    if (std::isnan(change[i]) || static_cast<double>(i + 1) * hop < kShortTermSeconds - 1e-6) {
      ++i;
      continue;
    }
    const size_t first = i;
    cairo_move_to(cr, panel.X(static_cast<double>(first + 1) * hop), zero);
    for (; i < change.size() && !std::isnan(change[i]); ++i) {
      cairo_line_to(cr, panel.X(static_cast<double>(i + 1) * hop), panel.Y(change[i]));
    }
    cairo_line_to(cr, panel.X(static_cast<double>(i) * hop), zero);
    cairo_close_path(cr);
  }
  SetColour(cr, kChangeColour, 0.25);
  cairo_fill(cr);
  cairo_restore(cr);
  Curve(cr, panel, change, hop, kShortTermSeconds, kChangeColour, 1.5, 1.0, NotANumber);
}

// A dashed line across the panel at `value`, labelled in the margin on the right at `labelY`.
void Level(cairo_t* cr, const Panel& panel, double value, Colour colour, const std::string& label, double labelY,
           bool dotted = false) {
  if (!std::isfinite(value) || value < panel.low || value > panel.high) return;
  const double y = panel.Y(value);
  cairo_save(cr);
  const double dashes[] = {8.0, 5.0};
  const double dots[] = {2.0, 4.0};
  cairo_set_dash(cr, dotted ? dots : dashes, 2, 0.0);
  cairo_set_line_width(cr, dotted ? 2.0 : 1.5);
  SetColour(cr, colour);
  cairo_move_to(cr, panel.x, y);
  cairo_line_to(cr, panel.x + panel.width, y);
  cairo_stroke(cr);
  cairo_restore(cr);
  Text(cr, label, panel.x + panel.width + 8, labelY, 12, colour, Align::Start, true);
}

// Label heights for levels that may lie close together: each at its line, moved apart just
// enough not to overlap, in the order given.
std::vector<double> SpreadLabels(const Panel& panel, const std::vector<double>& values) {
  std::vector<size_t> order(values.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return panel.Y(values[a]) < panel.Y(values[b]); });
  std::vector<double> ys(values.size());
  double previous = -INFINITY;
  for (const size_t i : order) {
    ys[i] = std::max(panel.Y(values[i]), previous + 15);
    previous = ys[i];
  }
  return ys;
}

// Every hop whose true peak is above `limit`: a faint band down the panel behind the curves, so
// that overs stand out however short, and a red mark along its top edge above them.
enum class OverLayer { Bands, Marks };

void Overs(cairo_t* cr, const Panel& panel, const std::vector<float>& truePeak, double hop, double limit,
           OverLayer layer) {
  for (size_t i = 0; i < truePeak.size(); ++i) {
    if (!(truePeak[i] > limit)) continue;
    const double from = panel.X(static_cast<double>(i) * hop);
    const double to = panel.X(static_cast<double>(i + 1) * hop);
    const double middle = (from + to) / 2;
    const double half = std::max(1.0, (to - from) / 2);
    if (layer == OverLayer::Bands) {
      SetColour(cr, kOverColour, 0.12);
      cairo_rectangle(cr, middle - half, panel.y, 2 * half, panel.height);
      cairo_fill(cr);
    } else {
      SetColour(cr, kOverColour);
      cairo_move_to(cr, middle - std::max(3.0, half), panel.y + 1);
      cairo_line_to(cr, middle + std::max(3.0, half), panel.y + 1);
      cairo_line_to(cr, middle, panel.y + 10);
      cairo_close_path(cr);
      cairo_fill(cr);
    }
  }
}

struct LegendEntry {
  std::string label;
  Colour colour;
  enum { Line, Thin, Dashed, Dotted, Area, Mark } kind;
};

// The legend in rows from (left, top) to `right`; returns where the rows end.
double Legend(cairo_t* cr, double left, double top, double right, const std::vector<LegendEntry>& entries) {
  const double rowHeight = 18;
  double x = left, y = top + rowHeight / 2;
  for (const LegendEntry& entry : entries) {
    const double width = 32 + TextWidth(cr, entry.label, 12) + 22;
    if (x + width > right && x > left) {
      x = left;
      y += rowHeight;
    }
    cairo_save(cr);
    SetColour(cr, entry.colour, entry.kind == LegendEntry::Thin ? 0.45 : 1.0);
    if (entry.kind == LegendEntry::Area) {
      SetColour(cr, entry.colour, 0.25);
      cairo_rectangle(cr, x, y - 5, 24, 10);
      cairo_fill(cr);
      SetColour(cr, entry.colour);
    }
    if (entry.kind == LegendEntry::Mark) {
      cairo_move_to(cr, x + 7, y - 5);
      cairo_line_to(cr, x + 17, y - 5);
      cairo_line_to(cr, x + 12, y + 4);
      cairo_close_path(cr);
      cairo_fill(cr);
    } else {
      const double dashes[] = {6.0, 4.0};
      const double dots[] = {2.0, 4.0};
      if (entry.kind == LegendEntry::Dashed) cairo_set_dash(cr, dashes, 2, 0.0);
      if (entry.kind == LegendEntry::Dotted) cairo_set_dash(cr, dots, 2, 0.0);
      cairo_set_line_width(cr, entry.kind == LegendEntry::Thin ? 1.2 : entry.kind == LegendEntry::Dashed ? 1.5 : 2.5);
      cairo_move_to(cr, x, y);
      cairo_line_to(cr, x + 24, y);
      cairo_stroke(cr);
    }
    cairo_restore(cr);
    Text(cr, entry.label, x + 32, y, 12, kTextColour);
    x += width;
  }
  return y + rowHeight / 2;
}

// The loudness axis: from a little below the quietest short-term value to a little above the
// loudest value drawn, in whole 5 LU, at least 30 LU tall, never below the floor.
void LoudnessRange(const std::vector<const LoudnessSeries*>& sides, const std::vector<double>& levels, double* low,
                   double* high) {
  double quietest = INFINITY, loudest = -INFINITY;
  for (const LoudnessSeries* side : sides) {
    for (const float value : side->shortTerm) {
      if (value >= kLoudnessFloorLufs) quietest = std::min<double>(quietest, value);
    }
    for (const std::vector<float>* values : {&side->shortTerm, &side->momentary}) {
      for (const float value : *values) {
        if (std::isfinite(value)) loudest = std::max<double>(loudest, value);
      }
    }
  }
  for (const double level : levels) {
    if (std::isfinite(level)) {
      quietest = std::min(quietest, level);
      loudest = std::max(loudest, level);
    }
  }
  if (!std::isfinite(quietest) || !std::isfinite(loudest)) {
    quietest = -40;
    loudest = -10;
  }
  *high = std::min(10.0, std::ceil((loudest + 2) / 5) * 5);
  *low = std::max(kLoudnessFloorLufs, std::floor((quietest - 3) / 5) * 5);
  *low = std::max(kLoudnessFloorLufs, std::min(*low, *high - 30));
}

std::string DisplayName(const std::string& path) {
  if (path == "-") return "standard input";
  const std::string name = fs::path(path).filename().string();
  return name.empty() ? path : name;
}

std::string SideFigures(const LoudnessFigures& figures) {
  return LoudnessText(figures.integratedLufs) + ", LRA " + Figure(figures.rangeLu, 1) + " LU, true peak " +
         PeakText(figures.truePeakDbtp);
}

void Draw(cairo_t* cr, const FileReport& report) {
  const bool render = !report.analysisOnly && report.after.measured;
  const LoudnessOverTime overTime = SeriesOverTime(report);
  const double hop = overTime.hopSeconds;
  const double seconds = std::max({report.DurationSeconds(), hop * static_cast<double>(overTime.input.shortTerm.size()), 1.0});
  const double limit = render && report.ceilingUsed ? report.ceilingDbtp : 0.0;
  const std::vector<float>& peaks = render ? overTime.output.truePeak : overTime.input.truePeak;
  const double left = 72, right = kWidth - 112;

  SetColour(cr, {1, 1, 1});
  cairo_paint(cr);

  // Title: the file names, then the key figures, then the legend.
  const std::string title = render ? DisplayName(report.input) + "  \u2192  " + DisplayName(report.output)
                                   : DisplayName(report.input);
  Text(cr, title, 24, 22, 18, kTextColour, Align::Start, true);
  const std::string length = ClockText(report.DurationSeconds(), report.DurationSeconds() >= 3600);
  Text(cr, length + ", " + std::to_string(report.sampleRate) + " Hz, " + std::to_string(report.channels) +
               (report.channels == 1 ? " channel" : " channels"),
       kWidth - 24, 22, 13, kMutedColour, Align::End);
  std::string figures = "input " + SideFigures(report.before);
  if (render) figures += "      output " + SideFigures(report.after);
  if (render && report.targetUsed) figures += "      target " + LoudnessText(report.targetLufs);
  if (render && report.ceilingUsed) figures += ", ceiling " + PeakText(report.ceilingDbtp);
  Text(cr, figures, 24, 46, 13, kTextColour);

  int overs = 0;
  bool inside = false;
  for (const float peak : peaks) {
    if (peak > limit && !inside) ++overs;
    inside = peak > limit;
  }
  std::vector<LegendEntry> legend = {{"input short-term (3 s)", kInputColour, LegendEntry::Line},
                                     {"input momentary (400 ms)", kInputColour, LegendEntry::Thin}};
  if (render) {
    legend.push_back({"output short-term (3 s)", kOutputColour, LegendEntry::Line});
    legend.push_back({"output momentary (400 ms)", kOutputColour, LegendEntry::Thin});
  }
  legend.push_back({"integrated loudness", kAxisColour, LegendEntry::Dashed});
  if (render && report.targetUsed) legend.push_back({"target", kTargetColour, LegendEntry::Dotted});
  legend.push_back({(render ? "output" : "input") + std::string(" true peak above ") + Figure(limit, 1) + " dBTP: " +
                        (overs == 0 ? std::string("none") : std::to_string(overs) + (overs == 1 ? " place" : " places")),
                    kOverColour, LegendEntry::Mark});
  const double top = Legend(cr, 24, 62, kWidth - 24, legend) + 12;

  const double bottom = kHeight - 44;
  const double changeHeight = render ? 150 : 0, gap = render ? 30 : 0;
  Panel loudness{left, top, right - left, bottom - top - changeHeight - gap, seconds, 0, 0};
  std::vector<const LoudnessSeries*> sides = {&overTime.input};
  std::vector<double> levels = {report.before.integratedLufs};
  if (render) {
    sides.push_back(&overTime.output);
    levels.push_back(report.after.integratedLufs);
    if (report.targetUsed) levels.push_back(report.targetLufs);
  }
  LoudnessRange(sides, levels, &loudness.low, &loudness.high);
  Grid(cr, loudness, (loudness.high - loudness.low) > 40 ? 10 : 5, "LUFS", !render);
  // True-peak overs of what was written (of the input, for an analysis).
  Overs(cr, loudness, peaks, hop, limit, OverLayer::Bands);

  Curve(cr, loudness, overTime.input.momentary, hop, kMomentarySeconds, kInputColour, 1.0, 0.35, BelowFloor);
  if (render) Curve(cr, loudness, overTime.output.momentary, hop, kMomentarySeconds, kOutputColour, 1.0, 0.35, BelowFloor);
  Curve(cr, loudness, overTime.input.shortTerm, hop, kShortTermSeconds, kInputColour, 2.2, 1.0, BelowFloor);
  if (render) Curve(cr, loudness, overTime.output.shortTerm, hop, kShortTermSeconds, kOutputColour, 2.2, 1.0, BelowFloor);

  // Integrated loudness of each side and the target, labelled in the margin.
  std::vector<double> values = {report.before.integratedLufs};
  if (render) values.push_back(report.after.integratedLufs);
  if (render && report.targetUsed) values.push_back(report.targetLufs);
  for (double& value : values) value = std::isfinite(value) ? value : loudness.low - 100;
  const std::vector<double> labels = SpreadLabels(loudness, values);
  Level(cr, loudness, report.before.integratedLufs, kInputColour, Figure(report.before.integratedLufs, 1), labels[0]);
  if (render) {
    Level(cr, loudness, report.after.integratedLufs, kOutputColour, Figure(report.after.integratedLufs, 1), labels[1]);
    if (report.targetUsed) {
      Level(cr, loudness, report.targetLufs, kTargetColour, "target " + Figure(report.targetLufs, 1), labels[2], true);
    }
  }

  Overs(cr, loudness, peaks, hop, limit, OverLayer::Marks);

  if (render) {
    Panel change{left, bottom - changeHeight, right - left, changeHeight, seconds, 0, 0};
    double lowest = 0, highest = 0;
    for (const float value : overTime.levelChange) {
      if (std::isnan(value)) continue;
      lowest = std::min<double>(lowest, value);
      highest = std::max<double>(highest, value);
    }
    const double step = TickStep(std::max(highest - lowest, 1.0), 4, {1, 2, 3, 5, 10, 20});
    change.low = std::min(-step, std::floor((lowest - 0.5) / step) * step);
    change.high = std::max(step, std::ceil((highest + 0.5) / step) * step);
    Grid(cr, change, step, "dB", true);
    ChangeArea(cr, change, overTime.levelChange, hop);
    Text(cr, "level change: output \u2212 input short-term loudness", change.x, change.y - 11, 12, kChangeColour,
         Align::Start, true);
  }
  Text(cr, "time (" + std::string(seconds >= 3600 ? "h:mm:ss" : "m:ss") + ")", left + (right - left) / 2,
       kHeight - 12, 12, kTextColour, Align::Middle);
}

cairo_status_t WriteToFile(void* closure, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                   : CAIRO_STATUS_WRITE_ERROR;
}

bool EndsWith(const std::string& text, const std::string& ending) {
  if (text.size() < ending.size()) return false;
  for (size_t i = 0; i < ending.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - ending.size() + i])) != ending[i]) return false;
  }
  return true;
}

// The picture into `file`: cairo's SVG surface, or its image surface saved as PNG.
cairo_status_t DrawInto(std::FILE* file, const FileReport& report, bool svg) {
  cairo_surface_t* surface = svg ? cairo_svg_surface_create_for_stream(WriteToFile, file, kWidth, kHeight)
                                 : cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(kWidth),
                                                              static_cast<int>(kHeight));
  cairo_t* cr = cairo_create(surface);
  Draw(cr, report);
  cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  if (status == CAIRO_STATUS_SUCCESS && !svg) status = cairo_surface_write_to_png_stream(surface, WriteToFile, file);
  cairo_surface_finish(surface);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  return status;
}

}  // namespace

bool IsPlotPath(const std::string& path) { return EndsWith(path, ".svg") || EndsWith(path, ".png"); }

std::vector<std::string> PlotPaths(const std::string& plot, const std::vector<std::string>& inputs) {
  if (inputs.size() == 1) return {plot};
  const fs::path base(plot);
  const auto stemOf = [](const std::string& input) {
    return input == "-" ? std::string("stdin") : fs::path(input).stem().string();
  };
  std::map<std::string, int> uses;
  for (const std::string& input : inputs) ++uses[stemOf(input)];
  std::vector<std::string> paths;
  for (size_t i = 0; i < inputs.size(); ++i) {
    // Appended piece by piece: g++ 12 at -O3 misreads "literal" + string as an overlapping copy.
    std::string name = base.stem().string();
    name += '-';
    name += stemOf(inputs[i]);
    if (uses[stemOf(inputs[i])] > 1) {
      name += '-';
      name += std::to_string(i + 1);
    }
    paths.push_back((base.parent_path() / (name + base.extension().string())).string());
  }
  return paths;
}

void CheckPlotDestination(const std::string& path, bool overwrite) {
  std::error_code error;
  const fs::path picture(path);
  const fs::path folder = picture.parent_path().empty() ? fs::path(".") : picture.parent_path();
  if (!fs::is_directory(folder, error)) throw CliError(path + ": the folder " + folder.string() + " does not exist");
  if (fs::is_directory(picture, error)) throw CliError(path + ": is a folder, not a picture file");
  if (!overwrite && fs::exists(picture, error)) throw CliError(path + ": already exists (give -y to replace it)");
}

void DrawPlot(const FileReport& report, const std::string& path) {
  // A name of our own beside the picture: the process and a count tell concurrent files apart.
  static std::atomic<unsigned> drawn{0};
  const fs::path picture(path);
  std::string name = ".";
  name += picture.filename().string();
  name += '.';
  name += std::to_string(::getpid());
  name += '.';
  name += std::to_string(drawn++);
  const fs::path temporary = picture.parent_path() / name;
  const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) throw CliError(path + ": cannot write the picture: " + std::strerror(errno));
  std::FILE* file = ::fdopen(descriptor, "wb");
  if (file == nullptr) {
    ::close(descriptor);
    ::unlink(temporary.c_str());
    throw CliError(path + ": cannot write the picture: " + std::strerror(errno));
  }
  const cairo_status_t status = DrawInto(file, report, EndsWith(path, ".svg"));
  const bool flushed = std::fflush(file) == 0 && ::fsync(descriptor) == 0;
  const int savedErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (status != CAIRO_STATUS_SUCCESS || !flushed || !closed) {
    ::unlink(temporary.c_str());
    throw CliError(path + ": cannot write the picture: " +
                   (status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : std::strerror(savedErrno)));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int renameErrno = errno;
    ::unlink(temporary.c_str());
    throw CliError(path + ": cannot write the picture: " + std::strerror(renameErrno));
  }
}

}  // namespace tessil::cli

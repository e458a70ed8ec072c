// Loudness over time as render and analyse report and draw it: the JSON series against
// libebur128 run here on the files themselves, the SVG read as XML and the PNG decoded, the
// pictures' names with several inputs, and the series keeping its size on long programmes.
#include <cairo.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_harness.h"
#include "cli/loudness.h"
#include "support/ebur128_reference.h"

namespace tessil::cli_test {
namespace {

// The array stored under `key`, NaN for each null.
std::vector<double> JsonArray(const std::string& json, const std::string& key) {
  std::vector<double> values;
  size_t at = json.find("\"" + key + "\": [");
  if (at == std::string::npos) return values;
  at = json.find('[', at) + 1;
  while (json[at] != ']') {
    const char* start = json.c_str() + at;
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start) {  // null
      values.push_back(NAN);
      end = const_cast<char*>(start) + 4;
    } else {
      values.push_back(value);
    }
    at = static_cast<size_t>(end - json.c_str());
    if (json[at] == ',') at += 2;
  }
  return values;
}

test_support::Ebur128Figures Ebur128File(const std::string& path, double hopSeconds) {
  SF_INFO info;
  const std::vector<float> samples = ReadFloats(path, &info);
  return test_support::Ebur128Measure(samples.data(), samples.size() / static_cast<size_t>(info.channels), info.channels,
                                      info.samplerate, static_cast<size_t>(std::lround(hopSeconds * info.samplerate)));
}

// Paths in the SVG with at least `points` line segments: the curves, not the glyphs or the grid.
int LongPaths(xmlNode* node, int points) {
  int found = 0;
  for (; node != nullptr; node = node->next) {
    if (node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST "path")) {
      xmlChar* d = xmlGetProp(node, BAD_CAST "d");
      if (d != nullptr) {
        const std::string data(reinterpret_cast<const char*>(d));
        found += std::count(data.begin(), data.end(), 'L') >= points ? 1 : 0;
        xmlFree(d);
      }
    }
    found += LongPaths(node->children, points);
  }
  return found;
}

// Pixels of exactly this colour in a decoded PNG.
int PixelsOf(cairo_surface_t* image, int red, int green, int blue) {
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  int count = 0;
  for (int y = 0; y < cairo_image_surface_get_height(image); ++y) {
    for (int x = 0; x < cairo_image_surface_get_width(image); ++x) {
      const auto pixel = *reinterpret_cast<const uint32_t*>(data + y * stride + 4 * x);
      count += (pixel & 0xFFFFFFu) == (static_cast<uint32_t>(red) << 16 | green << 8 | blue) ? 1 : 0;
    }
  }
  return count;
}

TEST(LoudnessOverTime, RenderReportsAndDrawsWhatLibebur128Measures) {
  ScratchDirectory scratch;
  const RunResult run = RunTessil({"demo", "-o", scratch.Root(), "--json", "--plot", scratch.Path("demo.svg")});
  ASSERT_EQ(run.status, 0) << run.err;
  const double hop = JsonNumber(run.out, "loudness_over_time", "hop_seconds");
  EXPECT_DOUBLE_EQ(hop, 0.1);
  const std::vector<double> input = JsonArray(run.out, "input_short_term");
  const std::vector<double> output = JsonArray(run.out, "output_short_term");
  const std::vector<double> change = JsonArray(run.out, "level_change");
  struct Side {
    const char* file;
    const char* object;
    const std::vector<double>& series;
  };
  for (const Side& side : {Side{"demo-input.wav", "input_loudness", input}, Side{"demo-output.wav", "output_loudness", output}}) {
    const test_support::Ebur128Figures reference = Ebur128File(scratch.Path(side.file), hop);
    ASSERT_EQ(side.series.size(), reference.shortTermPerHop.size()) << side.file;
    ASSERT_EQ(side.series.size(), 200u);
    for (size_t i = 0; i < reference.shortTermPerHop.size(); ++i) {
      if (reference.shortTermPerHop[i] < -70.0) {
        EXPECT_TRUE(std::isnan(side.series[i])) << side.file << " " << i;
      } else {
        EXPECT_NEAR(side.series[i], reference.shortTermPerHop[i], 0.1) << side.file << " " << i;
      }
    }
    EXPECT_NEAR(JsonNumber(run.out, side.object, "integrated_lufs"), reference.integratedLufs, 0.01) << side.file;
    EXPECT_NEAR(JsonNumber(run.out, side.object, "range_lu"), reference.rangeLu, 0.05) << side.file;
  }
  ASSERT_EQ(change.size(), input.size());
  int changes = 0;
  for (size_t i = 0; i < change.size(); ++i) {
    if (std::isnan(input[i]) || std::isnan(output[i])) {
      EXPECT_TRUE(std::isnan(change[i])) << i;
    } else {
      EXPECT_NEAR(change[i], output[i] - input[i], 0.016) << i;
      changes += std::fabs(change[i]) > 3.0 ? 1 : 0;
    }
  }
  EXPECT_GT(changes, 50);  // the leveller lifted the quiet passages

  // The SVG is XML and holds the curves: both sides' two loudness curves and the level change,
  // each drawn through most of the 200 points.
  xmlDoc* document = xmlReadFile(scratch.Path("demo.svg").c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
  ASSERT_NE(document, nullptr);
  EXPECT_GE(LongPaths(xmlDocGetRootElement(document), 150), 5);
  xmlFreeDoc(document);
  EXPECT_NE(run.out.find("\"plot\": \"" + scratch.Path("demo.svg") + "\""), std::string::npos);
}

TEST(LoudnessOverTime, AnalysePicturesArePngsNamedPerInputAndNeverReplacedUnasked) {
  ScratchDirectory scratch;
  std::filesystem::create_directory(scratch.Path("other"));
  const std::vector<std::string> inputs = {scratch.Path("take.wav"), scratch.Path("loud.wav"),
                                           scratch.Path("other/take.wav")};
  for (size_t i = 0; i < inputs.size(); ++i) {
    // Full-scale noise has true peaks over 0 dBTP; the quieter takes have none.
    WritePcm(inputs[i], SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 16, TestNoise(48000 * 2 * 8, i == 1 ? 32767 : 3000, 5));
  }
  std::vector<std::string> arguments = {"analyse", "--json", "--plot", scratch.Path("loudness.png")};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  const RunResult run = RunTessil(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(JsonArray(run.out, "input_short_term").size(), 80u) << run.out;
  EXPECT_EQ(run.out.find("output_short_term"), std::string::npos);
  const std::vector<std::string> pictures = {"loudness-take-1.png", "loudness-loud.png", "loudness-take-3.png"};
  for (size_t i = 0; i < pictures.size(); ++i) {
    cairo_surface_t* image = cairo_image_surface_create_from_png(scratch.Path(pictures[i]).c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << pictures[i];
    EXPECT_EQ(cairo_image_surface_get_width(image), 1200);
    EXPECT_EQ(cairo_image_surface_get_height(image), 720);
    EXPECT_GT(PixelsOf(image, 38, 107, 184), 500) << pictures[i] << ": the input's short-term curve";
    const int overMarks = PixelsOf(image, 220, 15, 15);
    EXPECT_EQ(overMarks > 100, i == 1) << pictures[i] << ": " << overMarks << " pixels of overs";
    cairo_surface_destroy(image);
  }
  // Asked again, the pictures stay as they are unless -y says otherwise.
  const std::string before = FileBytes(scratch.Path(pictures[0]));
  const RunResult again = RunTessil(arguments);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
  arguments.push_back("-y");
  EXPECT_EQ(RunTessil(arguments).status, 0);
  EXPECT_EQ(FileBytes(scratch.Path(pictures[0])), before);
  // A picture of another kind, or without the report, is a usage error.
  EXPECT_EQ(RunTessil({"analyse", "--plot", scratch.Path("p.jpg"), inputs[0]}).status, 2);
  EXPECT_EQ(RunTessil({"render", "--no-report", "--plot", scratch.Path("p.svg"), inputs[0], scratch.Path("o.wav")}).status, 2);
}

TEST(SeriesRecorder, HalvesToStayBoundedAndKeepsWhatEachPointMeans) {
  // Step k reads k LUFS; its peak is 1 + k / 1e6, except one loud step.
  constexpr size_t kSteps = cli::LoudnessSeries::kMaximumPoints * 5 + 17;
  constexpr size_t kLoudStep = 100002;
  cli::SeriesRecorder recorder;
  for (size_t k = 0; k < kSteps; ++k) {
    recorder.AddStep(-static_cast<double>(k), static_cast<double>(k), k == kLoudStep ? 10.0 : 1.0 + k * 1e-6);
  }
  const cli::LoudnessSeries series = recorder.Series(0.1);
  // Five times the capacity needs three halvings: eight steps a point.
  ASSERT_DOUBLE_EQ(series.hopSeconds, 0.8);
  ASSERT_EQ(series.shortTerm.size(), kSteps / 8);
  for (size_t i = 0; i < series.shortTerm.size(); ++i) {
    const size_t last = (i + 1) * 8 - 1;  // the step point i ends with
    ASSERT_EQ(series.shortTerm[i], static_cast<float>(last));
    ASSERT_EQ(series.momentary[i], -static_cast<float>(last));
    const double peak = last / 8 == kLoudStep / 8 ? 10.0 : 1.0 + last * 1e-6;
    ASSERT_NEAR(series.truePeak[i], 20 * std::log10(peak), 1e-5) << i;
  }
}

}  // namespace
}  // namespace tessil::cli_test

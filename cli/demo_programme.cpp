#include "cli/demo_programme.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace tessil::cli {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kOffDecibels = -120.0;
constexpr double kBeatSeconds = 0.5;  // 120 beats per minute

struct Point {
  double seconds;
  double decibels;
};

// Level of one voice over time: straight lines in decibels between points; the short steps
// between neighbouring points keep the section changes free of clicks.
double Level(const Point* points, size_t count, double t) {
  if (t <= points[0].seconds) return std::pow(10.0, points[0].decibels / 20.0);
  for (size_t i = 1; i < count; ++i) {
    if (t <= points[i].seconds) {
      const double span = points[i].seconds - points[i - 1].seconds;
      const double x = (t - points[i - 1].seconds) / span;
      const double db = points[i - 1].decibels + x * (points[i].decibels - points[i - 1].decibels);
      return db <= kOffDecibels ? 0.0 : std::pow(10.0, db / 20.0);
    }
  }
  const double db = points[count - 1].decibels;
  return db <= kOffDecibels ? 0.0 : std::pow(10.0, db / 20.0);
}

// Quiet pad and melody, a loud band section, a quiet solo, a near-silent gap, a crescendo into
// a loud ending with hard transients, and a decaying tail.
constexpr Point kPad[] = {{0.0, -22}, {4.0, -22}, {4.02, -14}, {8.0, -14}, {8.02, kOffDecibels},
                          {10.5, kOffDecibels}, {10.52, -32}, {16.0, -12}, {19.0, -12},
                          {20.0, -60}};
constexpr Point kDrums[] = {{0.0, kOffDecibels}, {3.98, kOffDecibels}, {4.0, -6}, {8.0, -6},
                            {8.02, kOffDecibels}, {13.0, kOffDecibels}, {13.02, -22},
                            {16.0, -3}, {19.0, -3}, {19.02, kOffDecibels}};
constexpr Point kBass[] = {{0.0, kOffDecibels}, {3.98, kOffDecibels}, {4.0, -10}, {8.0, -10},
                           {8.02, kOffDecibels}, {12.0, -30}, {16.0, -8}, {19.0, -8},
                           {20.0, kOffDecibels}};
constexpr Point kMelody[] = {{0.0, -28}, {4.0, -28}, {4.02, -18}, {8.0, -18}, {8.02, -26},
                             {10.0, -26}, {10.02, kOffDecibels}, {10.5, kOffDecibels},
                             {10.52, -30}, {16.0, -14}, {19.0, -14}, {20.0, -60}};

// A minor, F, C, G: two seconds each, as MIDI note numbers.
constexpr int kChords[4][3] = {{57, 60, 64}, {53, 57, 60}, {60, 64, 67}, {55, 59, 62}};
constexpr int kMelodyNotes[16] = {69, 72, 76, 74, 72, 69, 67, 69, 72, 74, 76, 79, 76, 74, 72, 67};

double NoteHertz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// xorshift32: a fixed sequence, the same on every platform.
class Noise {
 public:
  double Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<double>(state_) / 2147483648.0 - 1.0;
  }

 private:
  uint32_t state_ = 0x2545F491u;
};

double Pluck(double age, double decay) { return age < 0.0 ? 0.0 : std::exp(-age / decay); }

}  // namespace

std::vector<float> SynthesiseDemoProgramme(int sampleRate, double seconds) {
  const auto frames = static_cast<size_t>(seconds * sampleRate);
  std::vector<double> mix(frames * 2);
  Noise noise;
  double previousNoise = 0.0;
  double kickPhase = 0.0;
  for (size_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / sampleRate;
    double left = 0.0;
    double right = 0.0;

    // Pad: three harmonics per chord note, detuned a little between the channels for width.
    const int chord = static_cast<int>(t / 2.0) % 4;
    const double pad = Level(kPad, std::size(kPad), t);
    for (int note : kChords[chord]) {
      const double f = NoteHertz(note);
      for (int h = 1; h <= 3; ++h) {
        const double weight = pad / (3.0 * h * h);
        left += weight * std::sin(kTwoPi * f * h * 0.999 * t);
        right += weight * std::sin(kTwoPi * f * h * 1.001 * t);
      }
    }

    // Melody: plucked sixteenth notes, wandering from left to right over the clip.
    const double melody = Level(kMelody, std::size(kMelody), t);
    const double step = kBeatSeconds / 2.0;
    const auto index = static_cast<int>(t / step);
    const double melodyAge = t - index * step;
    const double melodyFrequency = NoteHertz(kMelodyNotes[index % 16]);
    const double tone = melody * Pluck(melodyAge, 0.12) *
                        (std::sin(kTwoPi * melodyFrequency * t) +
                         0.3 * std::sin(kTwoPi * 2.0 * melodyFrequency * t));
    const double pan = 0.5 + 0.4 * std::sin(kTwoPi * t / 20.0);
    left += tone * (1.0 - pan);
    right += tone * pan;

    // Bass: the chord's root two octaves down, on every eighth note.
    const double bass = Level(kBass, std::size(kBass), t);
    const double eighthAge = std::fmod(t, kBeatSeconds / 2.0);
    const double bassTone = bass * Pluck(eighthAge, 0.18) *
                            std::tanh(2.0 * std::sin(kTwoPi * NoteHertz(kChords[chord][0] - 24) * t));
    left += bassTone;
    right += bassTone;

    // Drums: kick on beats one and three, snare on two and four, hi-hat on every eighth note.
    const double drums = Level(kDrums, std::size(kDrums), t);
    const double white = noise.Next();
    const double bright = white - previousNoise;
    previousNoise = white;
    const double barAge = std::fmod(t, 4.0 * kBeatSeconds);
    const double kickAge = std::fmod(barAge, 2.0 * kBeatSeconds);
    const double kickFrequency = 45.0 + 65.0 * std::exp(-kickAge / 0.04);
    kickPhase += kTwoPi * kickFrequency / sampleRate;
    const double kick = Pluck(kickAge, 0.25) * std::sin(kickPhase) + 0.4 * Pluck(kickAge, 0.003) * white;
    const double snareAge = std::fmod(barAge + kBeatSeconds, 2.0 * kBeatSeconds);
    const double snare = 0.7 * Pluck(snareAge, 0.09) * white +
                         0.5 * Pluck(snareAge, 0.05) * std::sin(kTwoPi * 190.0 * snareAge);
    const double hat = 0.25 * Pluck(eighthAge, 0.03) * bright;
    left += drums * (kick + snare + 0.8 * hat);
    right += drums * (kick + snare + 1.2 * hat);

    mix[2 * n] = left;
    mix[2 * n + 1] = right;
  }

  double peak = 0.0;
  for (double v : mix) peak = std::max(peak, std::fabs(v));
  const double gain = peak > 0.0 ? std::pow(10.0, -0.5 / 20.0) / peak : 0.0;
  std::vector<float> programme(mix.size());
  for (size_t i = 0; i < mix.size(); ++i) programme[i] = static_cast<float>(mix[i] * gain);
  return programme;
}

}  // namespace tessil::cli

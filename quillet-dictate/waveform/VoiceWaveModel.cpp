#include "quillet-dictate/waveform/VoiceWaveModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace quillet::dictate {

namespace {

constexpr double kFullFadeSeconds = 0.15;
constexpr double kFadePerSecond = 1.5;
// Below this energy the drawing ignores the bands and heads for rest.
constexpr float kAudibleEnergy = 0.02f;
// Above this energy the wobble follows the voice instead of idling.
constexpr float kLivelyEnergy = 0.03f;
// The smallest energy the geometry uses, which keeps lines moving slowly at rest.
constexpr float kRestEnergy = 0.12f;
constexpr double kCentreLayer = (VoiceWaveModel::kLayerCount - 1) / 2.0;

// Pins a line's ends: 0 at both ends of the line, rising to 1 at `plateauStart` of its length.
double envelopeAt(double position, double plateauStart) {
  const auto rise = std::sin(std::min(position / plateauStart, 1.0) * std::numbers::pi / 2);
  const auto fall = std::sin(std::min((1 - position) / (1 - plateauStart), 1.0) * std::numbers::pi / 2);
  return std::pow(rise, 1.4) * std::pow(fall, 1.4);
}

WavePoint midpoint(WavePoint first, WavePoint second) {
  return {(first.x + second.x) / 2, (first.y + second.y) / 2};
}

}  // namespace

struct VoiceWaveModel::Motion {
  // Loudness of the faded levels this redraw, before any smoothing.
  float energy;
  // Smoothed energy as the geometry uses it, never below kRestEnergy.
  double e;
};

VoiceWaveModel::VoiceWaveModel(const VoiceLevels& levels, std::shared_ptr<WaveState> state, double speedScale,
                               int pointCount)
    : levels_(levels), state_(std::move(state)), speedScale_(speedScale), pointCount_(std::max(pointCount, 2)) {}

double VoiceWaveModel::fade(double secondsSinceLastUpdate) {
  if (secondsSinceLastUpdate <= kFullFadeSeconds) return 1;
  return std::max(0.0, 1 - kFadePerSecond * (secondsSinceLastUpdate - kFullFadeSeconds));
}

float VoiceWaveModel::energy(float rms, double fade) {
  return std::clamp((static_cast<float>(fade) * rms - 0.004f) / 0.03f, 0.0f, 1.0f);
}

VoiceWaveModel::Drawing VoiceWaveModel::draw(double width, double height, double now,
                                             std::chrono::system_clock::time_point wallNow) {
  const Motion motion = smooth(wallNow);
  Drawing drawing;
  for (int layerIndex = 0; layerIndex < kLayerCount; ++layerIndex) {
    drawing[static_cast<std::size_t>(layerIndex)] = layOut(layerIndex, motion, width, height, now);
  }
  return drawing;
}

VoiceWaveModel::Motion VoiceWaveModel::smooth(std::chrono::system_clock::time_point wallNow) {
  const double since = std::chrono::duration<double>(wallNow - levels_.lastUpdate.get()).count();
  const float loudness = energy(levels_.rms.get(), fade(since));

  // Lines of another length (a state shared with a differently sized view) restart as well, never read out of range.
  auto& lines = state_->lineBands;
  const bool linesFit = lines.size() == kLayerCount && std::all_of(lines.begin(), lines.end(), [&](const auto& line) {
                          return line.size() == static_cast<std::size_t>(pointCount_);
                        });
  if (!linesFit) lines.assign(kLayerCount, std::vector<float>(static_cast<std::size_t>(pointCount_), 0.0f));

  const float total = smoothLines(displayBands(loudness));
  const float average = total / static_cast<float>(kLayerCount * pointCount_);
  const float goal = loudness > kAudibleEnergy ? std::min(0.9f * loudness + 1.3f * average, 0.85f) : 0.0f;
  float& visualEnergy = state_->visualEnergy;
  const float rate = visualEnergy < goal ? 0.32f : 0.12f;
  visualEnergy += rate * (goal - visualEnergy);
  return {loudness, std::max(visualEnergy, kRestEnergy)};
}

std::vector<float> VoiceWaveModel::displayBands(float loudness) const {
  std::vector<float> bands = levels_.bands.get();
  if (loudness <= kAudibleEnergy) {
    std::fill(bands.begin(), bands.end(), 0.0f);
    return bands;
  }
  // Starting from 0 keeps the power below defined even if a band were negative.
  float peak = 0;
  for (float band : bands) peak = std::max(peak, band);
  const float boost = std::min(1.8f * std::pow(peak, 0.9f), 1.0f);
  for (float& band : bands) band = std::min(boost * band, 1.0f);
  return bands;
}

float VoiceWaveModel::smoothLines(const std::vector<float>& display) {
  const int bandCount = static_cast<int>(display.size());
  const auto bandAt = [&](int index) { return index < bandCount ? display[static_cast<std::size_t>(index)] : 0.0f; };
  float total = 0;
  for (int layerIndex = 0; layerIndex < kLayerCount; ++layerIndex) {
    const WaveLayer& layer = waveLayers[static_cast<std::size_t>(layerIndex)];
    const int start = std::max(0, static_cast<int>(layer.bandFrom * static_cast<float>(bandCount)));
    const int end = std::min(bandCount, static_cast<int>(layer.bandTo * static_cast<float>(bandCount)));
    const int span = end - start;
    const int bandsPerPoint = span < 1 || span < pointCount_ ? 1 : span / pointCount_;
    auto& line = state_->lineBands[static_cast<std::size_t>(layerIndex)];
    for (int k = 0; k < pointCount_; ++k) {
      float sum = 0;
      for (int offset = 0; offset < bandsPerPoint; ++offset) sum += bandAt(start + bandsPerPoint * k + offset);
      const float target = sum / static_cast<float>(bandsPerPoint);
      float& value = line[static_cast<std::size_t>(k)];
      // Lines rise at the layer's rate and fall at half of it, so peaks linger.
      const float rate = value < target ? layer.smoothing : layer.smoothing * 0.5f;
      value += (target - value) * rate;
      total += value;
    }
  }
  return total;
}

WaveLayerDrawing VoiceWaveModel::layOut(int layerIndex, const Motion& motion, double width, double height,
                                        double now) const {
  const WaveLayer& layer = waveLayers[static_cast<std::size_t>(layerIndex)];
  const std::vector<float>& values = state_->lineBands[static_cast<std::size_t>(layerIndex)];
  const double e = motion.e;
  const bool lively = motion.energy > kLivelyEnergy;

  const double mid = height / 2;
  const double amplitude = e * std::min(0.22 * height, 32.0) + 8;
  const double spread = 2.2 * e + 0.4;
  const double left = 0.075 * width;
  const double span = 0.85 * width;
  const double sway = 16 * e;
  const double wobbleAmplitude = lively ? 0.7 * e + 0.2 : 0.15;
  const double wobbleStep = lively ? 0.32 : 0.5;

  const double sign = layerIndex % 2 == 1 ? 1 : -1;
  const double layerNumber = layerIndex;
  const double phase = 0.73 * layerNumber + 0.15 * layerNumber * layerNumber;
  const double base = mid + spread * (layerNumber - kCentreLayer);
  const double plateauStart = 0.42 + 0.03 * layerNumber;
  const double cycles = 1.4 + 0.35 * layerNumber;
  const double drift = now * layer.speed * speedScale_;
  const double wobbleDrift = lively ? 1.5 * drift : 0.6 * now * speedScale_;
  const double gainSquared = static_cast<double>(layer.gain) * layer.gain;

  const int last = pointCount_ - 1;
  const auto valueAt = [&](int k) { return static_cast<double>(values[static_cast<std::size_t>(k)]); };
  std::vector<WavePoint> points;
  points.reserve(static_cast<std::size_t>(pointCount_));
  for (int k = 0; k < pointCount_; ++k) {
    const double position = static_cast<double>(k) / last;
    const double blended = 0.5 * valueAt(k) + 0.25 * (valueAt(std::max(k - 1, 0)) + valueAt(std::min(k + 1, last)));
    const double offset = sign * sway * std::sin(phase + drift + cycles * std::numbers::pi * position) +
                          sign * amplitude * gainSquared * blended +
                          wobbleAmplitude * std::sin(phase + wobbleDrift + wobbleStep * k);
    points.push_back({left + span * position, base + offset * envelopeAt(position, plateauStart)});
  }
  // Every line starts and ends at the middle height, whatever its own base.
  points.front().y = mid;
  points.back().y = mid;

  const WaveColor color = waveColors[static_cast<std::size_t>(layerIndex)];
  std::vector<WavePathSegment> path = smoothPath(points);
  return WaveLayerDrawing{
      .points = std::move(points),
      .path = std::move(path),
      .stroke = {color, 0.55 + 0.45 * e, layer.lineWidth * (0.7 + 0.5 * e)},
      .glow = {color, 0.06 * e, layer.lineWidth * (2 + 3 * e)},
  };
}

std::vector<WavePathSegment> VoiceWaveModel::smoothPath(const std::vector<WavePoint>& points) {
  std::vector<WavePathSegment> path;
  path.reserve(points.size());
  path.push_back({WavePathSegment::Kind::move, points.front()});
  for (std::size_t k = 1; k + 1 < points.size(); ++k) {
    path.push_back({WavePathSegment::Kind::quadraticCurve, midpoint(points[k], points[k + 1]), points[k]});
  }
  path.push_back({WavePathSegment::Kind::line, points.back()});
  return path;
}

}  // namespace quillet::dictate

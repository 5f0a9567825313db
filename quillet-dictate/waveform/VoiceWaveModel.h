#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "quillet-dictate/waveform/VoiceLevels.h"
#include "quillet-dictate/waveform/WaveState.h"

namespace quillet::dictate {

// One line of the waveform: which share of the bands it follows, how it moves and how it is stroked.
struct WaveLayer {
  float bandFrom;
  float bandTo;
  double speed;
  double lineWidth;
  float gain;
  float smoothing;
};

// An opaque sRGB colour, components in 0...1.
struct WaveColor {
  double red;
  double green;
  double blue;

  bool operator==(const WaveColor&) const = default;
};

// Canvas coordinates: origin at the top left, y growing downwards.
struct WavePoint {
  double x;
  double y;

  bool operator==(const WavePoint&) const = default;
};

struct WavePathSegment {
  enum class Kind { move, quadraticCurve, line };

  Kind kind;
  WavePoint end;
  // Used by quadratic curves only.
  WavePoint control{};
};

// One stroke of a line's path: always round caps and round joins, solid, with this miter limit.
struct WaveStroke {
  static constexpr double kMiterLimit = 10.0;

  WaveColor color;
  double opacity;
  double width;
};

// Everything a canvas needs to draw one layer: its points, the smooth path through them,
// and the two strokes to apply in order, the line itself and then its glow.
struct WaveLayerDrawing {
  std::vector<WavePoint> points;
  std::vector<WavePathSegment> path;
  WaveStroke stroke;
  WaveStroke glow;
};

// The waveform view without the drawing: each redraw smooths the shared levels into the
// state's six lines and lays them out on a canvas of the given size. A view only
// translates the result into strokes, layer 0 first. Main thread only.
class VoiceWaveModel {
 public:
  static constexpr int kLayerCount = 6;
  static constexpr double kStandardSpeedScale = 0.65;
  static constexpr int kStandardPointCount = 28;

  // Drawn in this order.
  static constexpr std::array<WaveLayer, kLayerCount> waveLayers{{
      {0.00f, 0.35f, 4.5, 3.8, 0.85f, 0.30f},
      {0.05f, 0.50f, 3.6, 3.0, 1.00f, 0.26f},
      {0.15f, 0.65f, 5.2, 2.4, 0.75f, 0.34f},
      {0.25f, 0.75f, 3.0, 3.4, 0.90f, 0.22f},
      {0.40f, 0.90f, 5.8, 2.6, 0.80f, 0.28f},
      {0.55f, 1.00f, 4.0, 3.2, 0.95f, 0.24f},
  }};
  static constexpr std::array<WaveColor, kLayerCount> waveColors{{
      {0.30, 0.65, 1.00},
      {0.965, 0.335, 0.44},
      {0.213, 0.888, 0.494},
      {0.98, 0.79, 0.22},
      {0.766, 0.424, 0.936},
      {0.168, 0.741, 0.933},
  }};

  using Drawing = std::array<WaveLayerDrawing, kLayerCount>;

  // `pointCount` below 2 leaves no line to draw and is raised to 2.
  VoiceWaveModel(const VoiceLevels& levels, std::shared_ptr<WaveState> state,
                 double speedScale = kStandardSpeedScale, int pointCount = kStandardPointCount);

  // One redraw at animation time `now` (the state's clock) and wall time `wallNow`: updates the
  // state's smoothed energy and lines, then lays out the six layers on a `width` × `height` canvas.
  Drawing draw(double width, double height, double now, std::chrono::system_clock::time_point wallNow);

  // How much of the last update still shows `secondsSinceLastUpdate` after it:
  // 1 for 0.15 s, then linearly down to 0 at about 0.817 s.
  static double fade(double secondsSinceLastUpdate);

  // Loudness of the drawing in 0...1 for a faded rms.
  static float energy(float rms, double fade);

  [[nodiscard]] int pointCount() const { return pointCount_; }
  [[nodiscard]] double speedScale() const { return speedScale_; }

 private:
  struct Motion;

  // Moves the state's lines and energy one redraw toward the levels; answers the motion the geometry uses.
  Motion smooth(std::chrono::system_clock::time_point wallNow);
  [[nodiscard]] std::vector<float> displayBands(float loudness) const;
  float smoothLines(const std::vector<float>& display);
  WaveLayerDrawing layOut(int layerIndex, const Motion& motion, double width, double height, double now) const;
  static std::vector<WavePathSegment> smoothPath(const std::vector<WavePoint>& points);

  const VoiceLevels& levels_;
  std::shared_ptr<WaveState> state_;
  double speedScale_;
  int pointCount_;
};

}  // namespace quillet::dictate

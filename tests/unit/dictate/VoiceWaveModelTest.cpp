#include "quillet-dictate/waveform/VoiceWaveModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"

namespace quillet::dictate {
namespace {

// The layer table as the waveform's design lists it, kept apart from the model's copy.
constexpr std::array<int, 6> kStartBand = {0, 1, 4, 8, 12, 17};
constexpr std::array<double, 6> kLineWidth = {3.8, 3.0, 2.4, 3.4, 2.6, 3.2};
constexpr std::array<double, 6> kSmoothing = {0.30, 0.26, 0.34, 0.22, 0.28, 0.24};
constexpr std::array<WaveColor, 6> kColors = {{
    {0.30, 0.65, 1.00},
    {0.965, 0.335, 0.44},
    {0.213, 0.888, 0.494},
    {0.98, 0.79, 0.22},
    {0.766, 0.424, 0.936},
    {0.168, 0.741, 0.933},
}};

// Visual energy after the first redraw of fresh, full-loudness levels: 0.32 of the goal's ceiling 0.85.
constexpr double kFirstLoudVisualEnergy = 0.32 * 0.85;
constexpr double kRestEnergy = 0.12;

// Heights drawn today at fixed moments, so a change to the motion shows up as a failing point.
constexpr double kRestLayer0Point7At0 = 44.967711;
constexpr double kRestLayer4Point20At12_34 = 47.792783;
constexpr double kLoudLayer1Point9At7_5 = 56.979914;
constexpr double kLoudLayer5Point16At7_5 = 61.409286;
constexpr double kLayer1LitShift = 1.585622;
constexpr double kLayer1BesideShift = 0.736644;

std::vector<float> uniformBands(float value) { return std::vector<float>(32, value); }

std::vector<float> oneBand(int band) {
  auto bands = uniformBands(0);
  bands[static_cast<std::size_t>(band)] = 1;
  return bands;
}

// One waveform: the shared levels, a fresh animation state and the model, on virtual time.
struct Scene {
  explicit Scene(int pointCount = VoiceWaveModel::kStandardPointCount)
      : model(levels, state, VoiceWaveModel::kStandardSpeedScale, pointCount) {}

  VoiceWaveModel::Drawing redraw(double width = 300, double height = 96, double now = 0) {
    return model.draw(width, height, now, loop.wallNow());
  }

  [[nodiscard]] float line(int layer, int point) const {
    return state->lineBands[static_cast<std::size_t>(layer)][static_cast<std::size_t>(point)];
  }

  platform::fake::VirtualMainLoop loop;
  VoiceLevels levels{loop};
  std::shared_ptr<WaveState> state = WaveState::create(loop, loop);
  VoiceWaveModel model;
};

// The largest distance of any point of the drawing from the canvas's middle line.
double largestSwing(const VoiceWaveModel::Drawing& drawing, double height) {
  double largest = 0;
  for (const auto& layer : drawing) {
    for (const auto& point : layer.points) largest = std::max(largest, std::abs(point.y - height / 2));
  }
  return largest;
}

// Points spread evenly over the middle 85 % of the width, and every y on the canvas.
void expectEvenlySpreadOnTheCanvas(const VoiceWaveModel::Drawing& drawing, double width, double height) {
  for (std::size_t layer = 0; layer < drawing.size(); ++layer) {
    const auto& points = drawing[layer].points;
    ASSERT_EQ(points.size(), 28u);
    for (std::size_t k = 0; k < points.size(); ++k) {
      EXPECT_NEAR(points[k].x, 0.075 * width + 0.85 * width * double(k) / 27.0, 1e-9) << "layer " << layer << " point " << k;
      EXPECT_GT(points[k].y, 0) << "layer " << layer << " point " << k;
      EXPECT_LT(points[k].y, height) << "layer " << layer << " point " << k;
    }
  }
}

TEST(VoiceWaveModelTest, StandardWaveformsTravelAt0_65With28Points) {
  Scene scene;
  EXPECT_EQ(scene.model.speedScale(), 0.65);
  EXPECT_EQ(scene.model.pointCount(), 28);
}

TEST(VoiceWaveModelTest, FadeHoldsFor0_15SecondsThenFallsToZeroAtAbout0_817Seconds) {
  const struct {
    double since;
    double fade;
  } cases[] = {
      {-1, 1}, {0, 1}, {0.15, 1}, {0.25, 0.85}, {0.5, 0.475}, {0.81, 0.01}, {0.15 + 1 / 1.5, 0}, {0.9, 0}, {1e9, 0},
  };
  for (const auto& testCase : cases) {
    EXPECT_NEAR(VoiceWaveModel::fade(testCase.since), testCase.fade, 1e-12) << testCase.since << " s";
  }
}

TEST(VoiceWaveModelTest, EnergyMapsTheFadedRmsFrom0_004To0_034OntoZeroToOne) {
  const struct {
    float rms;
    double fade;
    float energy;
  } cases[] = {
      {0.034f, 1, 1},       {0.2f, 1, 1},   {0.019f, 1, 0.5f},        {0.0045f, 1, 0.5f / 30},
      {0.004f, 1, 0},       {0.0f, 1, 0},   {0.034f, 0.5, 0.013f / 0.03f}, {1.0f, 0, 0},
  };
  for (const auto& testCase : cases) {
    EXPECT_NEAR(VoiceWaveModel::energy(testCase.rms, testCase.fade), testCase.energy, 1e-5)
        << "rms " << testCase.rms << " fade " << testCase.fade;
  }
}

TEST(VoiceWaveModelTest, FreshLevelsPullVisualEnergyTowardTheirGoal) {
  const struct {
    float rms;
    double visualEnergy;
  } cases[] = {
      {0.034f, kFirstLoudVisualEnergy},
      {0.2f, kFirstLoudVisualEnergy},
      {0.019f, 0.32 * 0.9 * 0.5},
      {0.0047f, 0.32 * 0.9 * (0.0007 / 0.03)},
      {0.0045f, 0},
  };
  for (const auto& testCase : cases) {
    Scene scene;
    scene.levels.update(testCase.rms, uniformBands(0));
    scene.redraw();
    EXPECT_NEAR(scene.state->visualEnergy, testCase.visualEnergy, 1e-6) << "rms " << testCase.rms;
  }
}

TEST(VoiceWaveModelTest, BandsShowOnlyWhenRmsReaches0_0046) {
  const struct {
    float rms;
    bool linesMove;
  } cases[] = {{0.0045f, false}, {0.00459f, false}, {0.0047f, true}, {0.1f, true}};
  for (const auto& testCase : cases) {
    Scene scene;
    scene.levels.update(testCase.rms, uniformBands(1));
    scene.redraw();
    const auto& lines = scene.state->lineBands;
    const bool anyMoved = std::any_of(lines.begin(), lines.end(), [](const auto& line) {
      return std::any_of(line.begin(), line.end(), [](float value) { return value != 0; });
    });
    EXPECT_EQ(anyMoved, testCase.linesMove) << "rms " << testCase.rms;
  }
}

TEST(VoiceWaveModelTest, PointKOfEachLineFollowsBandStartPlusK) {
  for (int band : {0, 17, 31}) {
    Scene scene;
    scene.levels.update(1.0f, oneBand(band));
    scene.redraw();
    ASSERT_EQ(scene.state->lineBands.size(), 6u);
    for (int layer = 0; layer < 6; ++layer) {
      for (int k = 0; k < 28; ++k) {
        // A lone full band is the peak, so its display value is min(1.8 · 1^0.9, 1) = 1.
        const bool follows = kStartBand[static_cast<std::size_t>(layer)] + k == band;
        EXPECT_FLOAT_EQ(scene.line(layer, k), follows ? kSmoothing[static_cast<std::size_t>(layer)] : 0.0)
            << "band " << band << ", layer " << layer << ", point " << k;
      }
    }
  }
}

TEST(VoiceWaveModelTest, LinesRiseAtTheLayerSmoothingAndFallAtHalfOfIt) {
  Scene scene;
  const double display = std::min(1.8 * std::pow(0.5, 0.9), 1.0) * 0.5;
  scene.levels.update(1.0f, uniformBands(0.5f));
  scene.redraw();
  std::array<double, 6> risen{};
  for (std::size_t layer = 0; layer < 6; ++layer) {
    risen[layer] = kSmoothing[layer] * display;
    EXPECT_NEAR(scene.line(static_cast<int>(layer), 0), risen[layer], 1e-6) << "layer " << layer;
  }

  scene.levels.update(1.0f, uniformBands(0));
  scene.redraw();
  for (std::size_t layer = 0; layer < 6; ++layer) {
    EXPECT_NEAR(scene.line(static_cast<int>(layer), 0), risen[layer] * (1 - kSmoothing[layer] / 2), 1e-6)
        << "layer " << layer;
  }
}

TEST(VoiceWaveModelTest, VisualEnergyRisesAt0_32AndFallsAt0_12PerRedraw) {
  Scene scene;
  scene.levels.update(1.0f, uniformBands(0));
  double energy = 0;
  for (double goal : {0.85, 0.85, 0.0, 0.0}) {
    if (goal == 0) scene.levels.update(0.0f, uniformBands(0));
    energy += (energy < goal ? 0.32 : 0.12) * (goal - energy);
    scene.redraw();
    EXPECT_NEAR(scene.state->visualEnergy, energy, 1e-6) << "toward " << goal;
  }
}

TEST(VoiceWaveModelTest, AverageLineHeightRaisesTheGoal) {
  Scene scene;
  scene.levels.update(0.019f, uniformBands(1));
  scene.redraw();
  // Each line rises by its smoothing on every point whose band exists: min(28, 32 − start) points.
  double total = 0;
  for (std::size_t layer = 0; layer < 6; ++layer) total += kSmoothing[layer] * std::min(28, 32 - kStartBand[layer]);
  const double goal = std::min(0.9 * 0.5 + 1.3 * total / 168, 0.85);
  EXPECT_NEAR(scene.state->visualEnergy, 0.32 * goal, 1e-6);
}

TEST(VoiceWaveModelTest, FadeTakesTheEnergyAwayWhenUpdatesStop) {
  const struct {
    double secondsAfterUpdate;
    double visualEnergy;
  } cases[] = {
      {0, kFirstLoudVisualEnergy},
      {0.15, kFirstLoudVisualEnergy},
      {0.5, 0.32 * 0.9 * (0.034 * 0.475 - 0.004) / 0.03},
      {0.82, 0},
      {5, 0},
  };
  for (const auto& testCase : cases) {
    Scene scene;
    scene.levels.update(0.034f, uniformBands(0));
    scene.loop.advance(testCase.secondsAfterUpdate);
    scene.redraw();
    EXPECT_NEAR(scene.state->visualEnergy, testCase.visualEnergy, 1e-6) << testCase.secondsAfterUpdate << " s";
  }
}

TEST(VoiceWaveModelTest, AfterResetTheLinesSettleIntoAQuietMotionNearTheMiddle) {
  Scene scene;
  scene.levels.update(0.3f, uniformBands(1));
  for (int redraw = 0; redraw < 10; ++redraw) scene.redraw();
  scene.levels.reset();
  for (int redraw = 0; redraw < 400; ++redraw) scene.redraw();

  EXPECT_LT(scene.state->visualEnergy, kRestEnergy);
  for (int layer = 0; layer < 6; ++layer) {
    for (int k = 0; k < 28; ++k) EXPECT_LT(scene.line(layer, k), 1e-12f) << "layer " << layer << " point " << k;
  }
  const auto early = scene.redraw(320, 96, 0.0);
  const auto later = scene.redraw(320, 96, 12.34);
  for (const auto& drawing : {early, later}) {
    expectEvenlySpreadOnTheCanvas(drawing, 320, 96);
    EXPECT_LT(largestSwing(drawing, 96), 4.0) << "at rest the lines stay within a few pixels of the middle";
  }
  EXPECT_NE(early[2].points[13].y, later[2].points[13].y) << "the lines keep moving at rest";
  // Fixed points of the rest motion, as drawn today.
  EXPECT_NEAR(early[0].points[7].y, kRestLayer0Point7At0, 1e-4);
  EXPECT_NEAR(later[4].points[20].y, kRestLayer4Point20At12_34, 1e-4);
}

TEST(VoiceWaveModelTest, LoudLevelsSwingTheLinesWiderThanRestWithinTheCanvas) {
  Scene quiet;
  quiet.levels.update(0.0f, uniformBands(0));
  Scene loud;
  loud.levels.update(1.0f, uniformBands(0));
  const auto quietDrawing = quiet.redraw(500, 110, 7.5);
  const auto loudDrawing = loud.redraw(500, 110, 7.5);
  expectEvenlySpreadOnTheCanvas(loudDrawing, 500, 110);
  EXPECT_GT(largestSwing(loudDrawing, 110), largestSwing(quietDrawing, 110) + 1.0);
  EXPECT_NEAR(loudDrawing[1].points[9].y, kLoudLayer1Point9At7_5, 1e-4);
  EXPECT_NEAR(loudDrawing[5].points[16].y, kLoudLayer5Point16At7_5, 1e-4);
}

TEST(VoiceWaveModelTest, BandContentPushesOddLinesDownAndEvenLinesUpAroundTheBandsPoint) {
  // Full loudness caps the goal in both scenes, so they differ only by where the band shows.
  Scene silent;
  Scene voiced;
  silent.levels.update(1.0f, uniformBands(0));
  voiced.levels.update(1.0f, oneBand(17));
  const auto without = silent.redraw(300, 96, 3.0);
  const auto with = voiced.redraw(300, 96, 3.0);

  for (int layer = 0; layer < 6; ++layer) {
    const auto index = static_cast<std::size_t>(layer);
    const int litPoint = 17 - kStartBand[index];
    const double downwards = layer % 2 == 1 ? 1 : -1;
    double largest = 0;
    int largestAt = -1;
    for (int k = 1; k < 27; ++k) {
      const auto point = static_cast<std::size_t>(k);
      const double shift = with[index].points[point].y - without[index].points[point].y;
      if (std::abs(k - litPoint) >= 2) {
        EXPECT_NEAR(shift, 0, 1e-9) << "layer " << layer << " point " << k << " is too far from the band to move";
        continue;
      }
      EXPECT_GT(shift * downwards, 0) << "layer " << layer << " point " << k;
      if (std::abs(shift) > largest) {
        largest = std::abs(shift);
        largestAt = k;
      }
    }
    // The line's ends stay pinned, so a band at its first point shows only beside it.
    EXPECT_EQ(largestAt, std::max(litPoint, 1)) << "layer " << layer;
  }
  // Layer 1 at its band's point and beside it, as drawn today.
  const int litPoint = 17 - kStartBand[1];
  EXPECT_NEAR(with[1].points[std::size_t(litPoint)].y - without[1].points[std::size_t(litPoint)].y, kLayer1LitShift, 1e-4);
  EXPECT_NEAR(with[1].points[std::size_t(litPoint + 1)].y - without[1].points[std::size_t(litPoint + 1)].y,
              kLayer1BesideShift, 1e-4);
}

TEST(VoiceWaveModelTest, EveryLineStartsAndEndsAtMidHeight) {
  const struct {
    double width;
    double height;
    float rms;
  } cases[] = {{300, 96, 0.0f}, {640, 110, 1.0f}, {37, 13, 0.02f}};
  for (const auto& testCase : cases) {
    Scene scene;
    scene.levels.update(testCase.rms, uniformBands(1));
    for (const auto& layer : scene.redraw(testCase.width, testCase.height, 42.0)) {
      EXPECT_EQ(layer.points.front().y, testCase.height / 2);
      EXPECT_EQ(layer.points.back().y, testCase.height / 2);
      EXPECT_DOUBLE_EQ(layer.points.front().x, 0.075 * testCase.width);
      EXPECT_DOUBLE_EQ(layer.points.back().x, 0.925 * testCase.width);
    }
  }
}

TEST(VoiceWaveModelTest, PathCurvesToMidpointsWithEachInnerPointAsControl) {
  for (int pointCount : {2, 3, 28}) {
    Scene scene(pointCount);
    scene.levels.update(1.0f, uniformBands(0.7f));
    for (const auto& layer : scene.redraw()) {
      const auto& points = layer.points;
      const auto& path = layer.path;
      ASSERT_EQ(points.size(), static_cast<std::size_t>(pointCount));
      ASSERT_EQ(path.size(), points.size());
      EXPECT_EQ(path.front().kind, WavePathSegment::Kind::move);
      EXPECT_EQ(path.front().end, points.front());
      for (std::size_t k = 1; k + 1 < points.size(); ++k) {
        EXPECT_EQ(path[k].kind, WavePathSegment::Kind::quadraticCurve);
        EXPECT_EQ(path[k].control, points[k]);
        EXPECT_DOUBLE_EQ(path[k].end.x, (points[k].x + points[k + 1].x) / 2);
        EXPECT_DOUBLE_EQ(path[k].end.y, (points[k].y + points[k + 1].y) / 2);
      }
      EXPECT_EQ(path.back().kind, WavePathSegment::Kind::line);
      EXPECT_EQ(path.back().end, points.back());
    }
  }
}

TEST(VoiceWaveModelTest, StrokesUseTheLayerColourThenAGlowThatGrowWithEnergy) {
  const struct {
    float rms;
    double e;
  } cases[] = {{0.0f, kRestEnergy}, {1.0f, kFirstLoudVisualEnergy}};
  EXPECT_EQ(WaveStroke::kMiterLimit, 10.0);
  for (const auto& testCase : cases) {
    Scene scene;
    scene.levels.update(testCase.rms, uniformBands(0));
    const auto drawing = scene.redraw();
    for (std::size_t layer = 0; layer < 6; ++layer) {
      const WaveStroke& stroke = drawing[layer].stroke;
      const WaveStroke& glow = drawing[layer].glow;
      EXPECT_EQ(stroke.color, kColors[layer]);
      EXPECT_EQ(glow.color, kColors[layer]);
      EXPECT_NEAR(stroke.opacity, 0.55 + 0.45 * testCase.e, 1e-6) << "layer " << layer;
      EXPECT_NEAR(stroke.width, kLineWidth[layer] * (0.7 + 0.5 * testCase.e), 1e-6) << "layer " << layer;
      EXPECT_NEAR(glow.opacity, 0.06 * testCase.e, 1e-6) << "layer " << layer;
      EXPECT_NEAR(glow.width, kLineWidth[layer] * (2 + 3 * testCase.e), 1e-6) << "layer " << layer;
    }
  }
}

TEST(VoiceWaveModelTest, PointCountBelowTwoIsRaisedToTwo) {
  for (int pointCount : {1, 0, -3}) {
    Scene scene(pointCount);
    EXPECT_EQ(scene.model.pointCount(), 2);
    for (const auto& layer : scene.redraw(300, 96)) {
      ASSERT_EQ(layer.points.size(), 2u);
      EXPECT_DOUBLE_EQ(layer.points.front().x, 22.5);
      EXPECT_DOUBLE_EQ(layer.points.back().x, 277.5);
    }
  }
}

TEST(VoiceWaveModelTest, LinesOfAnotherLengthStartOverFromZero) {
  Scene scene;
  scene.state->lineBands.assign(6, std::vector<float>(5, 0.7f));
  scene.redraw();
  ASSERT_EQ(scene.state->lineBands.size(), 6u);
  for (const auto& line : scene.state->lineBands) EXPECT_EQ(line, std::vector<float>(28, 0.0f));
}

}  // namespace
}  // namespace quillet::dictate

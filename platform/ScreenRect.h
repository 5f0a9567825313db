#pragma once

#include <algorithm>

namespace quillet::platform {

// A rectangle in screen points with the origin at the bottom-left corner of the primary screen,
// y growing upwards: the coordinates every window and field frame is exchanged in.
struct ScreenRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  [[nodiscard]] double minX() const { return x; }
  [[nodiscard]] double minY() const { return y; }
  [[nodiscard]] double maxX() const { return x + width; }
  [[nodiscard]] double maxY() const { return y + height; }
  [[nodiscard]] double midX() const { return x + width / 2; }
  [[nodiscard]] double midY() const { return y + height / 2; }

  // Grown by `dx` on the left and right and by `dy` at the top and bottom (shrunk for negative values).
  [[nodiscard]] ScreenRect grownBy(double dx, double dy) const {
    return ScreenRect{x - dx, y - dy, width + 2 * dx, height + 2 * dy};
  }

  // Whether the point lies in the rectangle: its left and bottom edges count, its right and top ones do not.
  [[nodiscard]] bool contains(double pointX, double pointY) const {
    return pointX >= minX() && pointX < maxX() && pointY >= minY() && pointY < maxY();
  }
  // Whether the two share an area of more than nothing.
  [[nodiscard]] bool intersects(const ScreenRect& other) const {
    return std::min(maxX(), other.maxX()) > std::max(minX(), other.minX()) &&
           std::min(maxY(), other.maxY()) > std::max(minY(), other.minY());
  }

  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

}  // namespace quillet::platform

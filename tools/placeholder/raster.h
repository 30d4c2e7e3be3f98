// tools/placeholder/raster.h - a small RGBA canvas with the shapes and the
// tiny bitmap font that the placeholder pictures are drawn with.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace placeholder {

struct Rgba {
  uint8_t r, g, b, a;
};

class Canvas {
 public:
  Canvas(int w, int h) : w_(w), h_(h), px_(static_cast<size_t>(w) * h, Rgba{0, 0, 0, 0}) {}
  int width() const { return w_; }
  int height() const { return h_; }
  const std::vector<Rgba>& pixels() const { return px_; }

  // Source-over blend of one pixel, clipped to the canvas and to the clip box.
  void Blend(int x, int y, Rgba c) {
    if (x < cx0_ || y < cy0_ || x >= cx1_ || y >= cy1_ || x < 0 || y < 0 || x >= w_ || y >= h_) {
      return;
    }
    Rgba& d = px_[static_cast<size_t>(y) * w_ + x];
    const int sa = c.a;
    if (sa == 0) return;
    const int da = d.a;
    const int oa = sa + da * (255 - sa) / 255;
    if (oa == 0) return;
    auto mix = [&](int s, int dd) { return (s * sa + dd * da * (255 - sa) / 255) / oa; };
    d = Rgba{static_cast<uint8_t>(mix(c.r, d.r)), static_cast<uint8_t>(mix(c.g, d.g)),
             static_cast<uint8_t>(mix(c.b, d.b)), static_cast<uint8_t>(oa)};
  }
  void Set(int x, int y, Rgba c) {
    if (x < cx0_ || y < cy0_ || x >= cx1_ || y >= cy1_ || x < 0 || y < 0 || x >= w_ || y >= h_) {
      return;
    }
    px_[static_cast<size_t>(y) * w_ + x] = c;
  }
  void Clip(int x, int y, int w, int h) {
    cx0_ = x;
    cy0_ = y;
    cx1_ = x + w;
    cy1_ = y + h;
  }
  void NoClip() {
    cx0_ = cy0_ = 0;
    cx1_ = w_;
    cy1_ = h_;
  }

  void FillRect(int x, int y, int w, int h, Rgba c) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i) Blend(i, j, c);
  }
  void Frame(int x, int y, int w, int h, int t, Rgba c) {
    FillRect(x, y, w, t, c);
    FillRect(x, y + h - t, w, t, c);
    FillRect(x, y + t, t, h - 2 * t, c);
    FillRect(x + w - t, y + t, t, h - 2 * t, c);
  }
  // A disc with a soft one-pixel edge.
  void Disc(double cx, double cy, double r, Rgba c) {
    for (int j = static_cast<int>(cy - r - 1); j <= static_cast<int>(cy + r + 1); ++j) {
      for (int i = static_cast<int>(cx - r - 1); i <= static_cast<int>(cx + r + 1); ++i) {
        const double d = std::hypot(i + 0.5 - cx, j + 0.5 - cy);
        const double cover = std::clamp(r - d + 0.5, 0.0, 1.0);
        if (cover > 0) Blend(i, j, Rgba{c.r, c.g, c.b, static_cast<uint8_t>(c.a * cover)});
      }
    }
  }
  void Ring(double cx, double cy, double r, double t, Rgba c) {
    for (int j = static_cast<int>(cy - r - 1); j <= static_cast<int>(cy + r + 1); ++j) {
      for (int i = static_cast<int>(cx - r - 1); i <= static_cast<int>(cx + r + 1); ++i) {
        const double d = std::hypot(i + 0.5 - cx, j + 0.5 - cy);
        const double cover = std::clamp(std::min(r - d, d - (r - t)) + 0.5, 0.0, 1.0);
        if (cover > 0) Blend(i, j, Rgba{c.r, c.g, c.b, static_cast<uint8_t>(c.a * cover)});
      }
    }
  }
  // A radial glow: full alpha at the centre falling to 0 at r.
  void Glow(double cx, double cy, double r, Rgba c) {
    for (int j = static_cast<int>(cy - r); j <= static_cast<int>(cy + r); ++j) {
      for (int i = static_cast<int>(cx - r); i <= static_cast<int>(cx + r); ++i) {
        const double d = std::hypot(i + 0.5 - cx, j + 0.5 - cy) / r;
        if (d < 1.0) {
          const double f = (1.0 - d) * (1.0 - d);
          Blend(i, j, Rgba{c.r, c.g, c.b, static_cast<uint8_t>(c.a * f)});
        }
      }
    }
  }
  // A soft ring glow: brightest at radius r, fading over width w both ways.
  void RingGlow(double cx, double cy, double r, double w, Rgba c) {
    for (int j = static_cast<int>(cy - r - w); j <= static_cast<int>(cy + r + w); ++j) {
      for (int i = static_cast<int>(cx - r - w); i <= static_cast<int>(cx + r + w); ++i) {
        const double d = std::fabs(std::hypot(i + 0.5 - cx, j + 0.5 - cy) - r) / w;
        if (d < 1.0) Blend(i, j, Rgba{c.r, c.g, c.b, static_cast<uint8_t>(c.a * (1 - d) * (1 - d))});
      }
    }
  }
  // A filled convex or concave polygon by the even-odd rule, sampled at
  // pixel centres.
  void Polygon(const std::vector<std::pair<double, double>>& pts, Rgba c) {
    double y0 = 1e9, y1 = -1e9;
    for (auto& p : pts) {
      y0 = std::min(y0, p.second);
      y1 = std::max(y1, p.second);
    }
    for (int j = static_cast<int>(std::floor(y0)); j <= static_cast<int>(std::ceil(y1)); ++j) {
      const double sy = j + 0.5;
      std::vector<double> xs;
      for (size_t k = 0; k < pts.size(); ++k) {
        auto a = pts[k], b = pts[(k + 1) % pts.size()];
        if ((a.second <= sy) != (b.second <= sy)) {
          xs.push_back(a.first + (sy - a.second) * (b.first - a.first) / (b.second - a.second));
        }
      }
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2) {
        for (int i = static_cast<int>(std::ceil(xs[k] - 0.5)); i < static_cast<int>(std::ceil(xs[k + 1] - 0.5)); ++i) {
          Blend(i, j, c);
        }
      }
    }
  }
  void Line(double x0, double y0, double x1, double y1, double t, Rgba c) {
    const int steps = static_cast<int>(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0)) * 2) + 1;
    for (int s = 0; s <= steps; ++s) {
      const double f = static_cast<double>(s) / steps;
      Disc(x0 + (x1 - x0) * f, y0 + (y1 - y0) * f, t / 2, c);
    }
  }

  // Text in the 5 x 7 font, each font pixel `scale` pixels wide.
  void Text(int x, int y, const std::string& text, int scale, Rgba c);
  static int TextWidth(const std::string& text, int scale) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * 6 * scale - scale;
  }
  // Small digits (3 x 5) for row numbers.
  void SmallNumber(int x, int y, int value, Rgba c);

  // Visible pixels never come out pure black: black is the library's
  // transparent colour.
  void AvoidBlack() {
    for (Rgba& p : px_) {
      if (p.a != 0 && p.r < 8 && p.g < 8 && p.b < 8) p = Rgba{8, 8, 12, p.a};
      if (p.a == 0) p = Rgba{0, 0, 0, 0};
    }
  }

 private:
  int w_, h_;
  int cx0_ = 0, cy0_ = 0, cx1_ = 1 << 30, cy1_ = 1 << 30;
  std::vector<Rgba> px_;
};

}  // namespace placeholder

// tools/placeholder/art.cpp - little drawings for every cell of every sheet,
// each with its row number in a corner.
#include "tools/placeholder/art.h"

#include <cmath>
#include <string>

namespace placeholder {

namespace {

constexpr double kPi = 3.14159265358979;

// Eight bullet and item colours.
constexpr Rgba kPalette[8] = {
    {255, 80, 80, 255},  {255, 170, 60, 255}, {250, 240, 90, 255}, {100, 230, 100, 255},
    {90, 220, 240, 255}, {90, 120, 255, 255}, {200, 100, 255, 255}, {240, 240, 240, 255},
};

Rgba WithAlpha(Rgba c, int a) { return Rgba{c.r, c.g, c.b, static_cast<uint8_t>(a)}; }
Rgba Shade(Rgba c, double f) {
  auto s = [f](int v) { return static_cast<uint8_t>(std::clamp(v * f, 0.0, 255.0)); };
  return Rgba{s(c.r), s(c.g), s(c.b), c.a};
}

struct Cell {
  int x, y, w, h;
  double cx() const { return x + w / 2.0; }
  double cy() const { return y + h / 2.0; }
  int m() const { return std::min(w, h); }
};

void RowNumber(Canvas& c, const Cell& cell, int row) {
  if (cell.w < 24 || cell.h < 24) return;
  c.SmallNumber(cell.x + 2, cell.y + 2, row, Rgba{255, 255, 255, 255});
}

// A small enemy craft, its wings swinging with the frame.
void Enemy(Canvas& c, const Cell& k, Rgba body, int frame, bool big) {
  const double cx = k.cx(), cy = k.cy(), s = k.m() / 48.0 * (big ? 1.0 : 0.9);
  const double swing = std::sin(frame * kPi / 2) * 4 * s;
  c.Polygon({{cx - 20 * s, cy - 8 * s - swing}, {cx - 6 * s, cy - 2 * s}, {cx - 6 * s, cy + 6 * s},
             {cx - 18 * s, cy + 12 * s - swing}}, Shade(body, 0.7));
  c.Polygon({{cx + 20 * s, cy - 8 * s - swing}, {cx + 6 * s, cy - 2 * s}, {cx + 6 * s, cy + 6 * s},
             {cx + 18 * s, cy + 12 * s - swing}}, Shade(body, 0.7));
  c.Polygon({{cx, cy + 18 * s}, {cx - 9 * s, cy - 10 * s}, {cx, cy - 16 * s}, {cx + 9 * s, cy - 10 * s}},
            body);
  c.Disc(cx, cy + 2 * s, 4 * s, Rgba{250, 250, 255, 255});
  c.Disc(cx, cy + 2 * s, 2 * s, Shade(body, 0.4));
  if (big) {
    c.Ring(cx, cy, k.m() * 0.42, 3, Shade(body, 1.2));
    c.Disc(cx - 14 * s, cy + 20 * s, 3 * s, Rgba{255, 220, 120, 255});
    c.Disc(cx + 14 * s, cy + 20 * s, 3 * s, Rgba{255, 220, 120, 255});
  }
}

void Bullet(Canvas& c, const Cell& k, Rgba color, int frame, int shape) {
  const double r = k.m() / 2.0 - 1;
  const double pulse = 1.0 - 0.08 * (frame % 2);
  if (shape == 0) {
    c.Disc(k.cx(), k.cy(), r * pulse, WithAlpha(color, 230));
    c.Disc(k.cx(), k.cy(), r * 0.55, Rgba{255, 255, 255, 255});
  } else if (shape == 1) {
    // An elongated rice-grain bullet turning with the frame.
    const double a = frame * kPi / 4;
    const double dx = std::cos(a), dy = std::sin(a);
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i < 16; ++i) {
      const double t = i * 2 * kPi / 16;
      const double u = std::cos(t) * r, v = std::sin(t) * r * 0.45;
      pts.push_back({k.cx() + u * dx - v * dy, k.cy() + u * dy + v * dx});
    }
    c.Polygon(pts, WithAlpha(color, 240));
    c.Disc(k.cx(), k.cy(), r * 0.3, Rgba{255, 255, 255, 255});
  } else {
    c.Ring(k.cx(), k.cy(), r * pulse, std::max(2.0, r * 0.3), WithAlpha(color, 255));
    c.Disc(k.cx(), k.cy(), r * 0.35, Rgba{255, 255, 255, 220});
  }
}

void Explosion(Canvas& c, const Cell& k, int frame, int seq) {
  const double f = frame / 9.0;
  const double r = k.m() * (0.12 + 0.36 * f);
  const int a = static_cast<int>(255 * (1.0 - f * 0.85));
  const Rgba hot = seq % 2 == 0 ? Rgba{255, 200, 80, 255} : Rgba{120, 200, 255, 255};
  c.Glow(k.cx(), k.cy(), r * 1.2, WithAlpha(hot, a));
  c.Disc(k.cx(), k.cy(), r * 0.6 * (1.0 - f), WithAlpha(Rgba{255, 255, 230, 255}, a));
  for (int i = 0; i < 6; ++i) {
    const double t = i * kPi / 3 + seq;
    c.Disc(k.cx() + std::cos(t) * r, k.cy() + std::sin(t) * r, 2 + 3 * (1 - f),
           WithAlpha(Shade(hot, 0.9), a));
  }
}

void Item(Canvas& c, const Cell& k, Rgba color, const char* letter) {
  c.FillRect(k.x + 4, k.y + 4, k.w - 8, k.h - 8, WithAlpha(color, 230));
  c.Frame(k.x + 4, k.y + 4, k.w - 8, k.h - 8, 2, Rgba{255, 255, 255, 255});
  const int scale = k.m() >= 48 ? 3 : 2;
  c.Text(static_cast<int>(k.cx()) - Canvas::TextWidth(letter, scale) / 2,
         static_cast<int>(k.cy()) - 7 * scale / 2, letter, scale, Rgba{40, 40, 60, 255});
}

void Ship(Canvas& c, const Cell& k, int frame, Rgba body) {
  const double cx = k.cx(), cy = k.cy(), s = k.m() / 64.0;
  c.Glow(cx, cy + 30 * s, (10 + 3 * (frame % 2)) * s, Rgba{120, 200, 255, 220});
  c.Polygon({{cx, cy - 34 * s}, {cx + 10 * s, cy - 4 * s}, {cx + 28 * s, cy + 18 * s},
             {cx + 8 * s, cy + 22 * s}, {cx, cy + 16 * s}, {cx - 8 * s, cy + 22 * s},
             {cx - 28 * s, cy + 18 * s}, {cx - 10 * s, cy - 4 * s}}, body);
  c.Polygon({{cx, cy - 26 * s}, {cx + 5 * s, cy - 2 * s}, {cx - 5 * s, cy - 2 * s}},
            Rgba{200, 240, 255, 255});
  c.Line(cx - 22 * s, cy + 16 * s, cx - 22 * s, cy - 2 * s, 2 * s, Shade(body, 1.3));
  c.Line(cx + 22 * s, cy + 16 * s, cx + 22 * s, cy - 2 * s, 2 * s, Shade(body, 1.3));
}

void Portrait(Canvas& c, const Cell& k, Rgba hair, int expression) {
  const double cx = k.cx(), s = k.w / 256.0;
  const double top = k.y + k.h * 0.15;
  c.Polygon({{cx - 90 * s, k.y + k.h}, {cx - 70 * s, top + 230 * s}, {cx + 70 * s, top + 230 * s},
             {cx + 90 * s, k.y + k.h}}, Shade(hair, 0.6));
  c.Disc(cx, top + 110 * s, 70 * s, Rgba{250, 220, 200, 255});
  c.Polygon({{cx - 80 * s, top + 120 * s}, {cx - 70 * s, top + 40 * s}, {cx, top + 10 * s},
             {cx + 70 * s, top + 40 * s}, {cx + 80 * s, top + 120 * s}, {cx + 50 * s, top + 60 * s},
             {cx - 50 * s, top + 60 * s}}, hair);
  c.Disc(cx - 25 * s, top + 110 * s, 8 * s, Rgba{60, 60, 120, 255});
  c.Disc(cx + 25 * s, top + 110 * s, 8 * s, Rgba{60, 60, 120, 255});
  const double mouth = 4 + 4 * (expression % 3);
  c.Line(cx - 14 * s, top + 150 * s, cx + 14 * s, top + 150 * s + mouth * s * 0.5, 3 * s,
         Rgba{180, 80, 80, 255});
}

void Label(Canvas& c, int x, int y, const std::string& text, int scale, Rgba color) {
  c.Text(x, y, text, scale, color);
}

void Centered(Canvas& c, const Cell& k, const std::string& text, int scale, Rgba color) {
  c.Text(static_cast<int>(k.cx()) - Canvas::TextWidth(text, scale) / 2,
         static_cast<int>(k.cy()) - 7 * scale / 2, text, scale, color);
}

// A background that wraps vertically: every feature repeats with the period
// of the picture's height.
void Background(Canvas& c, const Cell& k, int stage, bool parallax) {
  const Rgba base[5] = {{40, 70, 120, 255}, {60, 100, 60, 255}, {100, 60, 90, 255},
                        {90, 80, 50, 255},  {50, 50, 90, 255}};
  const Rgba b = base[(stage - 1) % 5];
  for (int j = 0; j < k.h; ++j) {
    const double t = std::sin(j * 2 * kPi / k.h * 2) * 0.15 + 1.0;
    for (int i = 0; i < k.w; ++i) {
      if (parallax) continue;
      const double v = t + std::sin((i * 3 + j) * 2 * kPi / 140.0) * 0.05;
      c.Set(k.x + i, k.y + j, Shade(b, v));
    }
  }
  // Features spaced so that they repeat over the height.
  const int n = parallax ? 6 : 12;
  for (int f = 0; f < n; ++f) {
    const double fy = k.y + (f + 0.5) * k.h / n;
    const double fx = k.x + 40 + std::fmod(f * 97.0, k.w - 80.0);
    if (parallax) {
      c.Glow(fx, fy, 50, Rgba{220, 230, 255, 120});
      c.Glow(fx + 30, fy + 10, 40, Rgba{220, 230, 255, 100});
    } else {
      c.Disc(fx, fy, 22, Shade(b, 1.5));
      c.Ring(fx, fy, 30, 3, Shade(b, 0.6));
    }
  }
  if (!parallax) {
    c.Text(k.x + 10, k.y + 10, "STAGE " + std::to_string(stage), 3, Rgba{255, 255, 255, 160});
  }
}

}  // namespace

namespace {

void DrawCell(Canvas& c, const SheetDef& sheet, int variant, int index, const CutDef& cut) {
  const Cell k{cut.x, cut.y, cut.w, cut.h};
  const int row = cut.row;
  c.Clip(k.x, k.y, k.w, k.h);
  switch (sheet.cuts) {
    case kCutsEnemy1: {
      int color = 0, frame = 0;
      if (row >= 53 && row <= 84) { color = (row - 53) / 4; frame = (row - 53) % 4; }
      else if (row >= 85 && row <= 100) { color = 4 + (row - 85) / 4; frame = (row - 85) % 4; }
      else { color = (row - 37) % 8; }
      Enemy(c, k, kPalette[color], frame, false);
      break;
    }
    case kCutsEnemy2:
      Enemy(c, k, kPalette[(row - 101) % 8], row % 2, true);
      break;
    case kCutsBullets: {
      int color = 0, frame = 0, shape = 0;
      if (row <= 179) { color = (row - 148) / 4; frame = (row - 148) % 4; shape = 2; }
      else if (row <= 243) { color = (row - 180) / 8; frame = (row - 180) % 4; shape = 0; }
      else { color = (row - 244) / 8; frame = (row - 244) % 4; shape = ((row - 244) / 4) % 2; }
      Bullet(c, k, kPalette[color % 8], frame, shape);
      break;
    }
    case kCutsEffects:
      if (row == 19) {
        c.FillRect(k.x, k.y, 2, 2, Rgba{255, 255, 255, 255});
      } else if (row >= 456 && row <= 463) {
        // Soft rings for the additive effects.
        c.RingGlow(k.cx(), k.cy(), k.m() * 0.3, k.m() * 0.16, WithAlpha(kPalette[row - 456], 255));
      } else if (row >= 472 && row <= 475) {
        c.Glow(k.cx(), k.cy() + 10, 28 + 3 * (row - 472), Rgba{255, 140, 60, 230});
        c.Glow(k.cx(), k.cy(), 14, Rgba{255, 240, 200, 255});
      } else if (row >= 372 && row <= 379) {
        static const char* kLetters[8] = {"P", "S", "B", "L", "F", "G", "D", "H"};
        Item(c, k, kPalette[row - 372], kLetters[row - 372]);
      } else {
        const int i = row >= 464 ? row - 464 : row - 440;
        if (row >= 464) {
          c.Ring(k.cx(), k.cy(), k.m() * 0.4, 4, WithAlpha(kPalette[i], 200));
          c.Ring(k.cx(), k.cy(), k.m() * 0.25, 2, WithAlpha(kPalette[i], 160));
        } else {
          c.Glow(k.cx(), k.cy(), k.m() * 0.48, WithAlpha(kPalette[i], 255));
        }
      }
      break;
    case kCutsExplosions:
      if (row <= 419) {
        Explosion(c, k, (row - 380) % 10, (row - 380) / 10);
      } else {
        // Sparks of a burst.
        for (int s = 0; s < 8; ++s) {
          const double t = s * kPi / 4 + (row - 448) * 0.3;
          c.Line(k.cx(), k.cy(), k.cx() + std::cos(t) * 26, k.cy() + std::sin(t) * 26, 3,
                 WithAlpha(kPalette[(row - 448) % 8], 220));
        }
        c.Glow(k.cx(), k.cy(), 14, Rgba{255, 255, 255, 255});
      }
      break;
    case kCutsPanel:
      if (row == 499) {
        // The side panel: a frame with a transparent window for the portrait.
        c.FillRect(k.x, k.y, k.w, k.h, Rgba{50, 40, 80, 255});
        c.Frame(k.x, k.y, k.w, k.h, 4, Rgba{200, 180, 240, 255});
        c.Clip(k.x + 18, k.y + 64, 192, 144);
        c.FillRect(k.x + 18, k.y + 64, 192, 144, Rgba{0, 0, 0, 0});
        for (int j = 0; j < 144; ++j)
          for (int i = 0; i < 192; ++i) c.Set(k.x + 18 + i, k.y + 64 + j, Rgba{0, 0, 0, 0});
        c.Clip(k.x, k.y, k.w, k.h);
        c.Frame(k.x + 16, k.y + 62, 196, 148, 2, Rgba{240, 220, 120, 255});
        Label(c, k.x + 16, k.y + 20, "QUILLONA", 3, Rgba{240, 220, 255, 255});
        Label(c, k.x + 16, k.y + 230, "SCORE", 2, Rgba{255, 240, 200, 255});
        Label(c, k.x + 16, k.y + 300, "LIFE", 2, Rgba{255, 200, 200, 255});
        Label(c, k.x + 16, k.y + 370, "POWER", 2, Rgba{200, 255, 200, 255});
      } else if (row == 500 || row == 501) {
        c.FillRect(k.x, k.y, k.w, k.h, Rgba{30, 30, 60, 200});
        c.Frame(k.x, k.y, k.w, k.h, 3, Rgba{180, 200, 255, 255});
        Centered(c, k, row == 500 ? "SPEECH L" : "SPEECH R", 2, Rgba{220, 230, 255, 255});
      } else if (row == 502 || row == 503 || row == 504) {
        c.Glow(k.cx(), k.cy(), k.m() * 0.5, Rgba{255, 220, 160, 200});
        Centered(c, k, row == 504 ? "BONUS" : (row == 502 ? "CLEAR" : "BOMB"), 2,
                 Rgba{255, 255, 255, 255});
      } else if (row >= 505 && row <= 509) {
        c.Disc(k.cx(), k.cy(), k.m() / 2.0 - 1, kPalette[row - 505]);
      } else if (row >= 510 && row <= 513) {
        c.Polygon({{k.cx(), k.y + 3.0}, {k.x + k.w - 4.0, k.cy()}, {k.cx(), k.y + k.h - 3.0},
                   {k.x + 4.0, k.cy()}}, kPalette[row - 510 + 4]);
      } else if (row == 514) {
        c.FillRect(k.x, k.y, k.w, k.h, Rgba{120, 255, 120, 255});
      } else if (row >= 515 && row <= 522) {
        c.FillRect(k.x, k.y, k.w, k.h, kPalette[row - 515]);
        c.FillRect(k.x, k.y, k.w, 2, Rgba{255, 255, 255, 200});
      } else if (row == 523) {
        // The menu cursor: an arrow pointing right.
        c.Polygon({{k.x + 6.0, k.y + 6.0}, {k.x + 28.0, k.cy()}, {k.x + 6.0, k.y + 26.0}},
                  Rgba{255, 230, 120, 255});
      }
      break;
    case kCutsBanners:
      // The speech windows of the dialogues: 479 the left side's, 478 the
      // right side's; the text is drawn over them, so they carry none.
      if (row == 479) {
        c.FillRect(k.x, k.y, k.w, k.h, Rgba{40, 30, 60, 230});
        c.Frame(k.x, k.y, k.w, k.h, 4, Rgba{255, 220, 140, 255});
      } else {
        c.FillRect(k.x, k.y, k.w, k.h, Rgba{25, 45, 55, 230});
        c.Frame(k.x, k.y, k.w, k.h, 4, Rgba{160, 230, 200, 255});
      }
      break;
    case kCutsPlayer: {
      const Rgba body = variant == 0 ? Rgba{120, 170, 255, 255} : Rgba{255, 150, 200, 255};
      if (row >= 24 && row <= 32) {
        Ship(c, k, row, body);
      } else if (row == 129) {
        c.Glow(k.cx(), k.cy(), 16, Rgba{180, 230, 255, 255});
        c.FillRect(k.x + 28, k.y + 2, 8, 28, Rgba{220, 250, 255, 255});
      } else if (row == 476) {
        c.RingGlow(k.cx(), k.cy(), 50, 12, Rgba{200, 230, 255, 220});
      } else if (row == 477) {
        c.Disc(k.cx(), k.cy(), 6, Rgba{255, 255, 255, 255});
        c.Ring(k.cx(), k.cy(), 9, 2, Rgba{255, 80, 80, 255});
      } else if (row >= 130 && row <= 135) {
        c.RingGlow(k.cx(), k.cy(), 30 + 5 * (row - 130), 14, WithAlpha(body, 220));
      } else if (row >= 140 && row <= 144) {
        c.FillRect(k.x + 4, k.y + 4, k.w - 8, k.h - 8, Shade(body, 0.5));
        Portrait(c, Cell{k.x + 48, k.y, 96, k.h}, body, row - 140);
        Label(c, k.x + 8, k.y + 8, row == 141 ? "HIT" : "PILOT", 2, Rgba{255, 255, 255, 255});
      } else {
        Portrait(c, k, body, row - 136);
      }
      break;
    }
    case kCutsPartner: {
      const Rgba body = variant == 0 ? Rgba{140, 255, 180, 255} : Rgba{255, 200, 120, 255};
      if (row >= 33 && row <= 36) {
        c.Disc(k.cx(), k.cy(), 18 + (row - 33) % 2, body);
        c.Ring(k.cx(), k.cy(), 26, 3, Shade(body, 0.7));
        c.Disc(k.cx() - 6, k.cy() - 4, 4, Rgba{255, 255, 255, 255});
      } else if (row == 145) {
        c.Polygon({{k.cx(), k.y + 2.0}, {k.cx() + 6, k.y + 30.0}, {k.cx() - 6, k.y + 30.0}},
                  WithAlpha(body, 230));
      } else {
        Portrait(c, k, body, row - 146);
      }
      break;
    }
    case kCutsStageA:
      if (row == 480) {
        Background(c, k, variant + 1, false);
      } else if (row == 495) {
        Background(c, k, variant + 1, true);
      } else {
        const int f = (row - 117) % 4;
        c.Ring(k.cx(), k.cy(), 40 + 4 * f, 6, Rgba{200, 200, 220, 230});
        c.Disc(k.cx(), k.cy(), 20, kPalette[(variant + (row - 117) / 4) % 8]);
      }
      break;
    case kCutsStageB:
      Portrait(c, k, kPalette[(variant * 2 + row) % 8], row - 484);
      break;
    case kCutsTitle:
      if (row == 524) {
        for (int j = 0; j < k.h; ++j)
          for (int i = 0; i < k.w; ++i)
            c.Set(k.x + i, k.y + j,
                  Rgba{static_cast<uint8_t>(20 + j / 6), static_cast<uint8_t>(20 + i / 12),
                       static_cast<uint8_t>(70 + j / 4), 255});
        for (int s = 0; s < 60; ++s) {
          c.Disc(k.x + (s * 137) % k.w, k.y + (s * 71) % 260, 1.5, Rgba{255, 255, 230, 255});
        }
        c.Text(k.x + 320 - Canvas::TextWidth("QUILLONA", 8) / 2, k.y + 90, "QUILLONA", 8,
               Rgba{255, 230, 160, 255});
        Ship(c, Cell{k.x + 480, k.y + 180, 128, 192}, 0, Rgba{120, 170, 255, 255});
      } else if (row >= 534 && row <= 547) {
        static const char* kItems[4] = {"START", "HIGH SCORE", "REPLAY", "EXIT"};
        const bool lit = row >= 544;
        const int item = (row - (lit ? 544 : 534));
        c.FillRect(k.x, k.y, k.w, k.h, lit ? Rgba{120, 80, 200, 230} : Rgba{40, 40, 80, 200});
        c.Frame(k.x, k.y, k.w, k.h, 2, lit ? Rgba{255, 230, 120, 255} : Rgba{140, 140, 180, 255});
        Centered(c, k, kItems[item], 2, lit ? Rgba{255, 255, 200, 255} : Rgba{200, 200, 220, 255});
      } else if (row == 554) {
        Centered(c, k, "PLACEHOLDER DATA", 2, Rgba{220, 220, 240, 255});
      }
      break;
    case kCutsNone:
    case kCutGroupCount:
      break;
  }
  RowNumber(c, k, row);
  c.NoClip();
  (void)index;
}

}  // namespace

Canvas DrawSheet(const SheetDef& sheet, int variant) {
  Canvas c(sheet.width, sheet.height);
  if (sheet.cuts == kCutsNone) {
    // The boot logo, shown whole.
    const Cell k{0, 0, sheet.width, sheet.height};
    c.Glow(k.cx(), k.cy(), 200, Rgba{120, 140, 255, 200});
    Centered(c, k, "QUILLONA", 6, Rgba{255, 240, 200, 255});
    c.Text(static_cast<int>(k.cx()) - Canvas::TextWidth("VER 2.00", 2) / 2,
           static_cast<int>(k.cy()) + 40, "VER 2.00", 2, Rgba{220, 220, 255, 255});
  }
  const CutList& list = kCutGroups[sheet.cuts];
  for (int i = 0; i < list.count; ++i) DrawCell(c, sheet, variant, i, list.cuts[i]);
  c.AvoidBlack();
  return c;
}

}  // namespace placeholder

// game/objects/resource_tables.h - every file that the game loads and every
// rectangle that it cuts from its sheets, as plain data.
//
// The game's loaders and the placeholder-data generator both read these
// tables, so the data that the generator makes always fits the game.
#pragma once

#include <cstddef>
#include <cstdint>

// One rectangle of a sheet cut into a graphics-table row. `frames_per_step`
// 0 is a still; otherwise the row is animated and leads to `next`.
struct CutDef {
  int row;
  int x, y, w, h;
  int next;
  int frames_per_step;
};

inline constexpr int kMaxCutsPerGroup = 200;

struct CutList {
  CutDef cuts[kMaxCutsPerGroup] = {};
  int count = 0;

  constexpr void Still(int row, int x, int y, int w, int h) {
    cuts[count++] = CutDef{row, x, y, w, h, 0, 0};
  }
  constexpr void Animated(int row, int x, int y, int w, int h, int next, int fps) {
    cuts[count++] = CutDef{row, x, y, w, h, next, fps};
  }
  // n rows from `first`, left to right at the given x positions, each leading
  // to the next and the last back to the first.
  constexpr void Loop(int first, int n, int fps, int w, int h, const int* xs, int y) {
    for (int i = 0; i < n; ++i) {
      Animated(first + i, xs[i], y, w, h, i + 1 < n ? first + i + 1 : first, fps);
    }
  }
};

// The groups of cuts; each belongs to one sheet row.
enum CutGroup {
  kCutsEnemy1,    // sheet row 5
  kCutsEnemy2,    // 6
  kCutsBullets,   // 7
  kCutsEffects,   // 9
  kCutsExplosions,// 8
  kCutsPanel,     // 10
  kCutsBanners,   // 11
  kCutsPlayer,    // 12
  kCutsPartner,   // 13
  kCutsStageA,    // 15
  kCutsStageB,    // 16
  kCutsTitle,     // 14 (title sheet)
  kCutsNone,      // a sheet without cuts (the boot logo)
  kCutGroupCount
};

namespace resource_detail {

constexpr CutList MakeEnemy1() {
  CutList c;
  for (int k = 0; k < 8; ++k) {
    const int xs[4] = {0, 48, 96, 144};
    c.Loop(53 + 4 * k, 4, 15, 48, 48, xs, 48 * k);
  }
  for (int k = 0; k < 4; ++k) {
    const int xs[4] = {192, 240, 288, 336};
    c.Loop(85 + 4 * k, 4, 15, 48, 48, xs, 48 * k);
  }
  for (int i = 0; i < 8; ++i) c.Still(37 + i, 48 * i, 384, 48, 48);
  for (int i = 0; i < 8; ++i) c.Still(45 + i, 48 * i, 432, 48, 48);
  return c;
}

constexpr CutList MakeEnemy2() {
  CutList c;
  {
    const int xs[2] = {0, 96};
    c.Loop(111, 2, 20, 96, 144, xs, 0);
  }
  {
    const int xs[2] = {192, 96};
    c.Loop(113, 2, 20, 96, 144, xs, 0);
  }
  {
    const int xs[2] = {288, 96};
    c.Loop(115, 2, 20, 96, 144, xs, 144);
  }
  {
    const int xs[4] = {0, 96, 192, 288};
    c.Loop(107, 4, 20, 96, 96, xs, 288);
  }
  {
    const int xs[2] = {0, 80};
    c.Loop(101, 2, 20, 80, 80, xs, 384);
  }
  {
    const int xs[2] = {160, 240};
    c.Loop(103, 2, 20, 80, 80, xs, 384);
  }
  {
    const int xs[2] = {320, 368};
    c.Loop(105, 2, 20, 48, 80, xs, 384);
  }
  return c;
}

constexpr CutList MakeBullets() {
  CutList c;
  for (int k = 0; k < 8; ++k) {
    const int x0 = 128 * (k % 4);
    const int xs[4] = {x0, x0 + 32, x0 + 64, x0 + 96};
    c.Loop(148 + 4 * k, 4, 3, 32, 32, xs, k < 4 ? 256 : 288);
  }
  for (int k = 0; k < 16; ++k) {
    const int x0 = 64 * (k / 2);
    const int xs[4] = {x0, x0 + 16, x0 + 32, x0 + 48};
    c.Loop(180 + 4 * k, 4, 3, 16, 16, xs, k % 2 == 0 ? 0 : 16);
  }
  for (int k = 0; k < 16; ++k) {
    const int x0 = 128 * ((k / 2) % 4);
    const int xs[4] = {x0, x0 + 32, x0 + 64, x0 + 96};
    const int y = k < 8 ? (k % 2 == 0 ? 64 : 128) : (k % 2 == 0 ? 96 : 160);
    c.Loop(244 + 4 * k, 4, 3, 32, 32, xs, y);
  }
  return c;
}

constexpr CutList MakeEffects() {
  CutList c;
  c.Still(19, 0, 0, 2, 2);
  for (int i = 0; i < 4; ++i) c.Still(456 + i, 128 * i, 0, 128, 128);
  for (int i = 0; i < 4; ++i) c.Still(460 + i, 128 * i, 128, 128, 128);
  {
    const int xs[4] = {0, 64, 128, 192};
    c.Loop(472, 4, 7, 64, 96, xs, 256);
  }
  for (int i = 0; i < 8; ++i) c.Still(372 + i, 32 * i, 352, 32, 32);
  for (int i = 0; i < 8; ++i) c.Still(440 + i, 64 * i, 384, 64, 64);
  for (int i = 0; i < 8; ++i) c.Still(464 + i, 64 * i, 448, 64, 64);
  return c;
}

constexpr CutList MakeExplosions() {
  CutList c;
  for (int s = 0; s < 4; ++s) {
    for (int i = 0; i < 10; ++i) {
      const int row = 380 + 10 * s + i;
      if (i < 9) {
        c.Animated(row, 48 * i, 48 * s, 48, 48, row + 1, 3);
      } else {
        c.Still(row, 48 * i, 48 * s, 48, 48);
      }
    }
  }
  for (int i = 0; i < 8; ++i) c.Still(448 + i, 64 * i, 288, 64, 64);
  return c;
}

constexpr CutList MakePanel() {
  CutList c;
  c.Still(523, 64, 0, 32, 32);
  c.Still(505, 0, 0, 32, 16);
  c.Still(506, 32, 0, 32, 16);
  c.Still(507, 0, 16, 32, 16);
  c.Still(508, 32, 16, 32, 16);
  c.Still(509, 96, 0, 16, 16);
  c.Still(510, 0, 32, 32, 32);
  c.Still(511, 32, 32, 32, 32);
  c.Still(512, 64, 32, 32, 32);
  c.Still(513, 96, 32, 32, 32);
  c.Still(514, 64, 48, 35, 6);
  c.Still(500, 0, 80, 220, 208);
  c.Still(501, 0, 304, 220, 208);
  c.Still(499, 256, 0, 220, 480);
  c.Still(502, 0, 320, 96, 96);
  c.Still(503, 96, 320, 96, 96);
  c.Still(504, 0, 448, 96, 32);
  for (int i = 0; i < 4; ++i) c.Still(515 + i, 128, 16 * i, 32, 8);
  for (int i = 0; i < 4; ++i) c.Still(519 + i, 176, 16 * i, 32, 8);
  return c;
}

constexpr CutList MakeBanners() {
  CutList c;
  c.Still(478, 0, 0, 400, 128);
  c.Still(479, 0, 128, 400, 128);
  return c;
}

constexpr CutList MakePlayer() {
  CutList c;
  {
    const int xs[4] = {0, 64, 128, 192};
    c.Loop(24, 4, 7, 64, 96, xs, 0);
  }
  // The entry sequence runs once and ends in the loop.
  const int fps[5] = {7, 2, 3, 2, 9};
  for (int i = 0; i < 5; ++i) {
    c.Animated(28 + i, 256 + 64 * i, 0, 64, 96, i < 4 ? 29 + i : 24, fps[i]);
  }
  c.Still(129, 576, 0, 64, 32);
  c.Still(476, 0, 128, 128, 128);
  c.Still(477, 672, 0, 32, 32);
  for (int i = 0; i < 6; ++i) c.Still(130 + i, 128 + 128 * i, 128, 128, 128);
  for (int i = 0; i < 5; ++i) c.Still(140 + i, 192 * i, 256, 192, 144);
  for (int i = 0; i < 4; ++i) c.Still(136 + i, 256 * i, 512, 256, 512);
  return c;
}

constexpr CutList MakePartner() {
  CutList c;
  const int xs[4] = {0, 64, 128, 192};
  c.Loop(33, 4, 7, 64, 64, xs, 0);
  c.Still(145, 0, 64, 32, 32);
  c.Still(146, 0, 128, 128, 128);
  c.Still(147, 128, 128, 128, 128);
  return c;
}

constexpr CutList MakeStageA() {
  CutList c;
  c.Still(480, 0, 0, 420, 960);
  c.Still(495, 512, 0, 420, 480);
  const int xs[4] = {512, 640, 768, 896};
  c.Loop(117, 4, 7, 128, 128, xs, 512);
  c.Loop(121, 4, 7, 128, 128, xs, 640);
  return c;
}

constexpr CutList MakeStageB() {
  CutList c;
  for (int i = 0; i < 4; ++i) c.Still(484 + i, 256 * i, 0, 256, 512);
  for (int i = 0; i < 4; ++i) c.Still(488 + i, 256 * i, 512, 256, 512);
  return c;
}

constexpr CutList MakeTitle() {
  CutList c;
  c.Still(524, 0, 0, 640, 480);
  for (int i = 0; i < 4; ++i) c.Still(534 + i, 672, 32 * i, 160, 32);
  for (int i = 0; i < 4; ++i) c.Still(544 + i, 832, 32 * i, 160, 32);
  c.Still(554, 16, 496, 304, 32);
  return c;
}

}  // namespace resource_detail

inline constexpr CutList kCutGroups[kCutGroupCount] = {
    resource_detail::MakeEnemy1(),     resource_detail::MakeEnemy2(),
    resource_detail::MakeBullets(),    resource_detail::MakeEffects(),
    resource_detail::MakeExplosions(), resource_detail::MakePanel(),
    resource_detail::MakeBanners(),    resource_detail::MakePlayer(),
    resource_detail::MakePartner(),    resource_detail::MakeStageA(),
    resource_detail::MakeStageB(),     resource_detail::MakeTitle(),
    CutList{},
};

// Every image file: the row it loads into, the error tag of a failed load,
// the cuts taken from it and the canvas of the placeholder sheet.
struct SheetDef {
  const char* file;
  int row;
  const char* tag;
  CutGroup cuts;
  int width, height;
};

// The seven common sheets in their loading order.
inline constexpr SheetDef kCommonSheets[] = {
    {"grp/tx_en1.png", 5, "tx_en1", kCutsEnemy1, 512, 512},
    {"grp/tx_en2.png", 6, "tx_en2", kCutsEnemy2, 512, 512},
    {"grp/tx_et1.png", 7, "tx_et1", kCutsBullets, 512, 512},
    {"grp/tx_fc1.png", 9, "tx_fc1", kCutsEffects, 512, 512},
    {"grp/tx_ex1.png", 8, "tx_ex1", kCutsExplosions, 512, 512},
    {"grp/tx_sk1.png", 10, "tx_sk1", kCutsPanel, 512, 512},
    {"grp/tx_sk2.png", 11, "tx_sk2", kCutsBanners, 512, 256},
};

// Player sheets by ship kind 1, 2; partner sheets by partner mode 1, 2.
inline constexpr SheetDef kPlayerSheets[] = {
    {"grp/sel_mya.png", 12, "sel_mya", kCutsPlayer, 1024, 1024},
    {"grp/sel_myb.png", 12, "sel_myb", kCutsPlayer, 1024, 1024},
};
inline constexpr SheetDef kPartnerSheets[] = {
    {"grp/sel_mfa.png", 13, "sel_mfa", kCutsPartner, 256, 256},
    {"grp/sel_mfb.png", 13, "sel_mfb", kCutsPartner, 256, 256},
};

// Stage sheets by stage number 1 to 5. Every stage reports a failed load with
// the first stage's tags.
inline constexpr SheetDef kStageSheetsA[] = {
    {"grp/stg1a.png", 15, "stg1a", kCutsStageA, 1024, 1024},
    {"grp/stg2a.png", 15, "stg1a", kCutsStageA, 1024, 1024},
    {"grp/stg3a.png", 15, "stg1a", kCutsStageA, 1024, 1024},
    {"grp/stg4a.png", 15, "stg1a", kCutsStageA, 1024, 1024},
    {"grp/stg5a.png", 15, "stg1a", kCutsStageA, 1024, 1024},
};
inline constexpr SheetDef kStageSheetsB[] = {
    {"grp/stg1b.png", 16, "stg1b", kCutsStageB, 1024, 1024},
    {"grp/stg2b.png", 16, "stg1b", kCutsStageB, 1024, 1024},
    {"grp/stg3b.png", 16, "stg1b", kCutsStageB, 1024, 1024},
    {"grp/stg4b.png", 16, "stg1b", kCutsStageB, 1024, 1024},
    {"grp/stg5b.png", 16, "stg1b", kCutsStageB, 1024, 1024},
};

// The boot logo and the title sheet, both loaded into row 14 by their scenes.
inline constexpr SheetDef kBootSheet = {"grp/stm0x.png", 14, "stm0a", kCutsNone, 512, 256};
inline constexpr SheetDef kTitleSheet = {"grp/stm1x.png", 14, "stm1a", kCutsTitle, 1024, 1024};

// The 31 sound-effect slots filled at start-up; slot 25 stays empty.
inline constexpr int kSoundEffectSlots = 31;
inline constexpr const char* kSoundEffectFiles[kSoundEffectSlots] = {
    "se/at1.wav", "se/at2.wav", "se/at3.wav", "se/ks1.wav", "se/cs1.wav", "se/cs2.wav",
    "se/cs3.wav", "se/cs4.wav", "se/cs5.wav", "se/dm1.wav", "se/eg1.wav", "se/eg2.wav",
    "se/eg3.wav", "se/eg4.wav", "se/eg5.wav", "se/eg6.wav", "se/ek1.wav", "se/em1.wav",
    "se/em2.wav", "se/et1.wav", "se/et2.wav", "se/et3.wav", "se/et4.wav", "se/ex1.wav",
    "se/ex2.wav", nullptr,      "se/ht1.wav", "se/mb1.wav", "se/mb2.wav", "se/mh1.wav",
    "se/mt1.wav"};

// Music files with their loop positions in milliseconds (-1: played once).
struct MusicDef {
  const char* file;
  int loop_ms;
};
inline constexpr MusicDef kMusicFiles[] = {
    {"bgm/op1.mp3", -1},      {"bgm/stg1.mp3", 100},    {"bgm/boss1.mp3", 11667},
    {"bgm/stg2.mp3", 1039},   {"bgm/boss2.mp3", 16077}, {"bgm/stg3.mp3", 8140},
    {"bgm/stg4.mp3", 245196}, {"bgm/boss4.mp3", 7610},  {"bgm/stg5.mp3", 245196},
    {"bgm/boss5.mp3", 13584},
};

// platform/d3d9/d3d9_spans_kernel.h - the vector span loop, written once
// over a set of lane operations (O) that d3d9_spans_sse41.cpp,
// d3d9_spans_avx2.cpp and d3d9_spans_avx512.cpp supply; each includes this
// after switching its instruction set on, so every function here is
// compiled for it.
//
// Channels are worked two to a 32-bit lane ("rb": blue and red, "ag": green
// and alpha, each in a 16-bit half), with the reference's integer steps:
// - clamped texel addresses, as SamplePointClamp and SampleBilinearClamp;
// - the bilinear blend (top * (256 - fy) + bottom * fy + 32768) >> 16, with
//   the rows top = c0 * 256 + (c1 - c0) * fx (exact modulo 2^16, as the
//   true value is below 65536) and the column blend in 32-bit sums of
//   16-bit products (see LerpColumn);
// - rounded products t = x * y + 128, (t + (t >> 8)) >> 8;
// - a pixel whose source alpha is 0 (blending) or that fails the alpha
//   test is not written.
// Lanes past the span's end sample clamped addresses too and are not
// written.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <type_traits>

#include "platform/d3d9/d3d9_spans_simd.h"

namespace plat {

namespace {

// The n bytes of a byte shuffle's pattern that gives every 32-bit lane p's
// bytes (byte indices within the lane, 0x80 for zero): each index is offset
// to its lane's place in its 16-byte block. Made when compiling.
template <uint32_t p, int n>
struct LanePattern {
  static constexpr std::array<uint8_t, n> Make() {
    std::array<uint8_t, n> b{};
    for (int i = 0; i < n; i++) {
      const uint8_t k = uint8_t(p >> (8 * (i & 3)));
      b[i] = k & 0x80 ? 0x80 : uint8_t(k + (i & 12));
    }
    return b;
  }
  alignas(64) static constexpr std::array<uint8_t, n> kBytes = Make();
};

// (t + (t >> 8)) >> 8 for 16-bit t, taken as t * 257 >> 16: the fraction
// t / 256 - (t >> 8) left out of the sum never carries it past a multiple
// of 256, so the two are equal.
template <class O>
__attribute__((always_inline)) inline typename O::I Round255(typename O::I t) {
  return O::MulHiU16(t, O::Set1(0x01010101u));
}

// One row of the bilinear blend in 16-bit halves: c0 * 256 + (c1 - c0) * f.
template <class O>
__attribute__((always_inline)) inline typename O::I LerpRow(typename O::I c0, typename O::I c1, typename O::I f) {
  return O::Add16(O::template Sll16<8>(c0), O::Mul16(O::Sub16(c1, c0), f));
}

// The column blend of the rows in 16-bit halves, as 32-bit sums of products:
// each row less 32768 is a signed 16-bit value, top * (256 - f) + bot * f
// comes out less 32768 * 256, which the constant adds back with the
// rounding: bias = 32768 * 256 + 32768. w_lo and w_hi hold 256 - f and f
// for the lanes of UnpackLo16 and UnpackHi16.
template <class O>
__attribute__((always_inline)) inline typename O::I LerpColumn(typename O::I top, typename O::I bot,
                                                               typename O::I w_lo, typename O::I w_hi,
                                                               typename O::I flip, typename O::I bias) {
  using I = typename O::I;
  const I t = O::Xor(top, flip), b = O::Xor(bot, flip);
  const I lo = O::template Srl32<16>(O::Add32(O::Madd16(O::UnpackLo16(t, b), w_lo), bias));
  const I hi = O::template Srl32<16>(O::Add32(O::Madd16(O::UnpackHi16(t, b), w_hi), bias));
  return O::PackUs32(lo, hi);
}

// The spans of one triangle, the draw's constants set up once for all of
// them. kTest: the draw has an alpha test; kPlain: texels are taken as they
// are (no alpha ORed in, every channel kept) and a bilinear texture is at
// least 2x2. kTerms: the "texels" are a term table's entries, each the
// value an additive span adds for its texel (0 where it writes nothing, see
// VecTermSpanForLevel), and a pixel only takes the saturated sum.
template <class O, int kFilter, bool kModulate, int kBlend, int kTarget, bool kTest, bool kPlain, bool kTerms = false>
void SpanLoop(const SpanRows& s) {
  static_assert(!kTerms || (kFilter == 1 && !kModulate && kBlend == 2 && kTarget != 2 && !kTest && kPlain));
  using I = typename O::I;
  constexpr int kN = O::kLanes;
  const SpanDraw& d = *s.draw;
  if (kTest && !d.pass_lt && !d.pass_eq && !d.pass_gt) return;
  const I z = O::Zero();
  const I ones = O::Set1(0xFFFFFFFFu);
  const I low = O::Set1(0x00FF00FFu);  // also 255 in each half
  const I half = O::Set1(0x00800080u);
  const I alpha_bits = O::Set1(0xFF000000u);
  const I lt_m = d.pass_lt ? ones : z, eq_m = d.pass_eq ? ones : z, gt_m = d.pass_gt ? ones : z;
  const I ref = O::Set1(d.alpha_ref);
  const I ao = O::Set1(d.alpha_or);
  const I tmask = O::Set1(d.tmask), tfill = O::Set1(d.tfill);
  const I tmask_rb = O::And(tmask, low), tmask_ag = O::And(O::template Srl32<8>(tmask), low);
  const I tfill_rb = O::And(tfill, low), tfill_ag = O::And(O::template Srl32<8>(tfill), low);
  const I dif = O::Set1(s.diffuse);
  const I dif_rb = O::And(dif, low), dif_ag = O::And(O::template Srl32<8>(dif), low);
  const I lane = O::Lane();
  const I wmax = O::Set1(uint32_t(d.width - 1)), hmax = O::Set1(uint32_t(d.height - 1));
  const I stride = O::Set1(uint32_t(d.stride));
  const I one = O::Set1(1), byte = O::Set1(255);
  const I wmax1 = O::Set1(uint32_t(d.width - 2)), hmax1 = O::Set1(uint32_t(d.height - 2));
  const I w256 = O::Set1(256), flip = O::Set1(0x80008000u), bias = O::Set1(32768 * 256 + 32768);
  // Byte shuffles: green and alpha of a pixel to 16-bit halves, and the
  // alpha half of a pair to both halves.
  const I ag_pattern = O::LoadBytes(LanePattern<0x80038001u, sizeof(I)>::kBytes.data());
  const I alpha_pattern = O::LoadBytes(LanePattern<0x80028002u, sizeof(I)>::kBytes.data());
  auto ag_of = [&](I c) __attribute__((always_inline)) { return O::Shuffle8(c, ag_pattern); };
  const uint32_t* texels = d.texels;
  // Texel positions in 32-bit lanes, exact within +-2^30; bilinear samples
  // are centred half a texel back.
  const uint32_t off = kFilter == 2 ? 32768 : 0;
  const I u_steps = O::LaneSteps(uint32_t(s.du)), v_steps = O::LaneSteps(uint32_t(s.dv));
  const I du = O::Set1(uint32_t(s.du) * kN), dv = O::Set1(uint32_t(s.dv) * kN);
  // Point-sampled rows of one texel a pixel (sprites drawn at their size):
  // the texels of a step lie side by side in one texture row.
  const bool unit_row = kFilter == 1 && s.du == 65536 && s.dv == 0;
  // Held in registers: stores into the target could otherwise alias the
  // arguments and force reloads.
  const int width = d.width, height = d.height;
  const int32_t step_u = s.du, step_v = s.dv;
  const uint32_t step_first = uint32_t(s.du) * kN;  // lane 0's per step
  const intptr_t tstride = d.stride, pitch = s.pitch;
  uint8_t* const bits = s.bits;
  const bool skip_clear = d.skip_clear;
  // Point-sampled rows of at most a texel a pixel along one texture row
  // load their texels (see below); limits of the texel positions, in 16.16.
  const bool row_loads = kFilter == 1 && step_v == 0 && step_u >= 0 && step_u <= 65536 && width >= kN;
  const uint64_t wlim = uint64_t(width) << 16, hlim = uint64_t(height) << 16;
  const SpanRow* const rows_end = s.rows + s.count;
  for (const SpanRow* span = s.rows; span != rows_end; span++) {
    const int x_end = span->x1;
    I u = O::Add32(O::Set1(uint32_t(span->u) - off), u_steps);
    I v = O::Add32(O::Set1(uint32_t(span->v) - off), v_steps);
    // Point-sampled rows that stay inside the texture need no clamping, and
    // those of one texture row take their row once.
    bool inside = false;
    const uint32_t* row_texels = nullptr;  // rows of one texture row, at most a texel a pixel
    const uint32_t* trow = texels;         // rows of one texel a pixel, from column tx0 + x
    int32_t tx0 = 0;
    if constexpr (kFilter == 1) {
      // Every lane of the last step samples, those past the end too; the
      // positions are linear, so all are inside when the first and the last
      // are (a negative one is a large unsigned one).
      const int64_t last = int64_t(uint32_t(x_end - span->x0 + kN - 1) & ~uint32_t(kN - 1)) - 1;
      const int64_t u0 = span->u, u1 = span->u + int64_t(step_u) * last;
      const int64_t v0 = span->v, v1 = span->v + int64_t(step_v) * last;
      inside = (uint64_t(u0) < wlim) & (uint64_t(u1) < wlim) & (uint64_t(v0) < hlim) & (uint64_t(v1) < hlim);
      if (step_v == 0) {
        const uint32_t* const texture_row = texels + std::clamp(span->v >> 16, 0, height - 1) * tstride;
        if (row_loads) row_texels = texture_row;
        if (unit_row) {
          trow = texture_row;
          tx0 = (span->u >> 16) - span->x0;
        }
      }
    }
    uint8_t* const row = bits + span->y * pitch;
    uint32_t* row32 = reinterpret_cast<uint32_t*>(row);
    uint16_t* row16 = reinterpret_cast<uint16_t*>(row);
    uint32_t u_first = uint32_t(span->u);  // lane 0's
    // The steps of the row, their way of fetching texels chosen once a row
    // (kFetch 1: from one texture row, 2: gathered, 0: decided a step).
    auto steps = [&](auto fetch_kind, auto inside_kind) __attribute__((always_inline)) {
      constexpr int kFetch = decltype(fetch_kind)::value;
      // Rows that stay inside the texture need no clamping (kFetch 1 and 2
      // know it when compiled).
      const bool clamp = kFetch == 0 ? !inside : !decltype(inside_kind)::value;
      for (int x = span->x0; x < x_end;
           x += kN, u = O::Add32(u, du), v = O::Add32(v, dv), u_first += step_first) {
        const int left = x_end - x;
        const bool whole = left >= kN;
        // With masked loads and stores, whole steps and the last one go alike.
        constexpr bool kMasked = O::kMaskedMemory && kTarget != 2;
        const I valid = whole ? ones : O::Gt32(O::Set1(uint32_t(left)), lane);
        // The source colour, as packed pixels (src) or channel pairs.
        I src = dif, s_rb = dif_rb, s_ag = dif_ag;
        constexpr bool kPairs = kFilter == 2 || kModulate || kBlend != 0;
        if constexpr (kFilter == 1) {
          I tex;
          const int32_t tx = tx0 + x;
          if (kFetch == 0 && unit_row && tx >= 0 && tx + (whole ? kN : left) <= width) {
            tex = whole ? O::Load32(trow + tx) : O::Load32Part(trow + tx, left, valid);
          } else if (kFetch == 1 || (kFetch == 0 && row_texels != nullptr)) {
            // The lanes' texels lie within kN of lane 0's: one load of kN
            // texels from there (or from the row's last kN), then each lane
            // takes its own.
            const int32_t first = int32_t(u_first);
            const int32_t t0 = first < 0 ? 0 : std::min(first >> 16, width - kN);
            I xi = O::template Sra32<16>(u);
            if (clamp) xi = O::Min32(O::Max32(xi, z), wmax);
            tex = O::Permute32(O::Load32(row_texels + t0), O::Sub32(xi, O::Set1(uint32_t(t0))));
          } else {
            I xi = O::template Sra32<16>(u), yi = O::template Sra32<16>(v);
            if (clamp) {
              xi = O::Min32(O::Max32(xi, z), wmax);
              yi = O::Min32(O::Max32(yi, z), hmax);
            }
            tex = O::Gather(texels, O::Add32(O::MulRow(yi, stride), xi));
          }
          if constexpr (kTerms) {
            // Without a branch: an entry of 0 adds nothing, so the sum is the
            // target's own value and writing it back changes nothing.
            const I dst = whole ? O::Load32(row32 + x) : O::Load32Part(row32 + x, left, valid);
            const I out = O::AddSatU8(tex, dst);
            if (whole) O::Store32(row32 + x, out);
            else O::Store32Masked(row32 + x, out, valid);
            continue;
          }
          if constexpr (!kPlain) tex = O::Or(tex, ao);
          if (skip_clear && O::NoneInBoth(tex, alpha_bits)) continue;
          src = kPlain ? tex : O::Or(O::And(tex, tmask), tfill);
          if constexpr (kPairs) {
            s_rb = O::And(src, low);
            s_ag = ag_of(src);
          }
        } else if constexpr (kFilter == 2) {
          const I xi = O::template Sra32<16>(u), yi = O::template Sra32<16>(v);
          I c00, c10, c01, c11, fx0, fy0;
          if constexpr (kPlain) {
            // The texel left of and above the sample, clamped so that its
            // right and lower neighbours are in the texture too, and weights
            // that say where the sample lies from it: 0 before the first
            // texel, where both of a pair are the first, and 256 past the
            // last, where both are the last. A row c0 * 256 + (c1 - c0) * f is
            // then c0 * 256 or c1 * 256, as the blend of a texel with itself
            // is; so is the column blend.
            const I px = O::Min32(O::Max32(xi, z), wmax1), py = O::Min32(O::Max32(yi, z), hmax1);
            fx0 = O::Min32(O::Max32(O::Sub32(O::template Sra32<8>(u), O::template Sll32<8>(px)), z), w256);
            fy0 = O::Min32(O::Max32(O::Sub32(O::template Sra32<8>(v), O::template Sll32<8>(py)), z), w256);
            const I i0 = O::Add32(O::MulRow(py, stride), px), i1 = O::Add32(i0, stride);
            c00 = O::Gather(texels, i0);
            c10 = O::Gather(texels + 1, i0);
            c01 = O::Gather(texels, i1);
            c11 = O::Gather(texels + 1, i1);
          } else {
            const I x0 = O::Min32(O::Max32(xi, z), wmax), x1 = O::Min32(O::Max32(O::Add32(xi, one), z), wmax);
            const I y0 = O::Min32(O::Max32(yi, z), hmax), y1 = O::Min32(O::Max32(O::Add32(yi, one), z), hmax);
            const I r0 = O::MulRow(y0, stride);
            const I r1 = O::Add32(r0, O::And(O::Gt32(y1, y0), stride));
            c00 = O::Or(O::Gather(texels, O::Add32(r0, x0)), ao);
            c10 = O::Or(O::Gather(texels, O::Add32(r0, x1)), ao);
            c01 = O::Or(O::Gather(texels, O::Add32(r1, x0)), ao);
            c11 = O::Or(O::Gather(texels, O::Add32(r1, x1)), ao);
            fx0 = O::And(O::template Srl32<8>(u), byte);
            fy0 = O::And(O::template Srl32<8>(v), byte);
          }
          // No early way out for clear texels here: the branch costs the short
          // rotated spans more than the filtering it saves.
          const I fx = O::Or(fx0, O::template Sll32<16>(fx0));
          const I wy = O::Or(O::Sub32(w256, fy0), O::template Sll32<16>(fy0));
          const I wy_lo = O::UnpackLo32(wy, wy), wy_hi = O::UnpackHi32(wy, wy);
          const I top_rb = LerpRow<O>(O::And(c00, low), O::And(c10, low), fx);
          const I bot_rb = LerpRow<O>(O::And(c01, low), O::And(c11, low), fx);
          const I top_ag = LerpRow<O>(ag_of(c00), ag_of(c10), fx);
          const I bot_ag = LerpRow<O>(ag_of(c01), ag_of(c11), fx);
          s_rb = LerpColumn<O>(top_rb, bot_rb, wy_lo, wy_hi, flip, bias);
          s_ag = LerpColumn<O>(top_ag, bot_ag, wy_lo, wy_hi, flip, bias);
          if constexpr (!kPlain) {
            s_rb = O::Or(O::And(s_rb, tmask_rb), tfill_rb);
            s_ag = O::Or(O::And(s_ag, tmask_ag), tfill_ag);
          }
        }
        if constexpr (kModulate) {
          s_rb = Round255<O>(O::Add16(O::Mul16(s_rb, dif_rb), half));
          s_ag = Round255<O>(O::Add16(O::Mul16(s_ag, dif_ag), half));
        }
        const I alpha = kPairs ? O::template Srl32<16>(s_ag) : O::template Srl32<24>(src);  // for the test
        // Lanes left as they are.
        I keep = z;
        // The alpha in both halves of a pair; 0 where the alpha is.
        const I a16 = O::Shuffle8(s_ag, alpha_pattern);
        if (kBlend != 0) keep = O::Eq32(a16, z);
        if constexpr (kTest) {
          const I ok = O::Or(O::Or(O::And(O::Gt32(ref, alpha), lt_m), O::And(O::Eq32(alpha, ref), eq_m)),
                             O::And(O::Gt32(alpha, ref), gt_m));
          keep = O::Or(keep, O::AndNot(ok, ones));
        }
        if (!kMasked && O::AllZero(O::AndNot(keep, valid))) continue;
        // The target's own values (R5G6B5 widened to 32-bit lanes).
        I dst = z;
        if constexpr (kMasked) {
          if (kBlend != 0) dst = whole ? O::Load32(row32 + x) : O::Load32Part(row32 + x, left, valid);
        } else if (kBlend != 0 || (whole && !O::AllZero(keep))) {
          if constexpr (kTarget == 2) dst = whole ? O::Load16(row16 + x) : O::Load16Part(row16 + x, left);
          else dst = whole ? O::Load32(row32 + x) : O::Load32Part(row32 + x, left, valid);
        }
        I out;
        if constexpr (kBlend == 0) {
          out = kPairs ? O::Or(s_rb, O::template Sll32<8>(s_ag)) : src;
        } else if constexpr (kBlend == 2 && kTarget != 2) {
          // The sum saturates at 255 byte by byte (the alpha of a target
          // without one counts as 255 and comes out so).
          const I r_rb = Round255<O>(O::Add16(O::Mul16(s_rb, a16), half));
          const I r_ag = Round255<O>(O::Add16(O::Mul16(s_ag, a16), half));
          out = O::AddSatU8(O::Or(r_rb, O::template Sll32<8>(r_ag)), dst);
        } else {
          I d = dst;
          if constexpr (kTarget == 1) d = O::Or(d, alpha_bits);
          I d_rb, d_ag;
          if constexpr (kTarget == 2) {
            // 5 and 6 bits widened by repeating their top bits, alpha 255.
            const I rb5 = O::Or(O::And(dst, O::Set1(0x1F)), O::And(O::template Sll32<5>(dst), O::Set1(0x1F0000)));
            d_rb = O::Or(O::template Sll16<3>(rb5), O::template Srl16<2>(rb5));
            const I g6 = O::And(O::template Srl32<5>(dst), O::Set1(0x3F));
            d_ag = O::Or(O::Or(O::template Sll32<2>(g6), O::template Srl32<4>(g6)), O::Set1(0x00FF0000u));
          } else {
            d_rb = O::And(d, low);
            d_ag = ag_of(d);
          }
          I r_rb, r_ag;
          if constexpr (kBlend == 1) {
            const I inv = O::Sub16(low, a16);
            r_rb = Round255<O>(O::Add16(O::Add16(O::Mul16(s_rb, a16), O::Mul16(d_rb, inv)), half));
            r_ag = Round255<O>(O::Add16(O::Add16(O::Mul16(s_ag, a16), O::Mul16(d_ag, inv)), half));
          } else {
            r_rb = O::MinU16(O::Add16(Round255<O>(O::Add16(O::Mul16(s_rb, a16), half)), d_rb), low);
            r_ag = O::MinU16(O::Add16(Round255<O>(O::Add16(O::Mul16(s_ag, a16), half)), d_ag), low);
          }
          out = O::Or(r_rb, O::template Sll32<8>(r_ag));
        }
        if constexpr (kTarget == 1) out = O::Or(out, alpha_bits);
        if constexpr (kTarget == 2) {
          out = O::Or(O::Or(O::And(O::template Srl32<8>(out), O::Set1(0xF800)),
                            O::And(O::template Srl32<5>(out), O::Set1(0x07E0))),
                      O::And(O::template Srl32<3>(out), O::Set1(0x1F)));
        }
        if constexpr (kMasked) {
          O::Store32Masked(row32 + x, out, O::AndNot(keep, valid));
        } else if (whole) {
          out = O::Blend(out, dst, keep);
          if constexpr (kTarget == 2) O::Store16(row16 + x, out);
          else O::Store32(row32 + x, out);
        } else {
          const I write = O::AndNot(keep, valid);
          if constexpr (kTarget == 2) O::Store16Masked(row16 + x, out, write);
          else O::Store32Masked(row32 + x, out, write);
        }
      }
    };
    using Fetch0 = std::integral_constant<int, 0>;
    using Fetch1 = std::integral_constant<int, 1>;
    using Fetch2 = std::integral_constant<int, 2>;
    if (kFilter != 1 || unit_row) steps(Fetch0(), std::false_type());
    else if (row_texels != nullptr && inside) steps(Fetch1(), std::true_type());
    else if (row_texels != nullptr) steps(Fetch1(), std::false_type());
    else if (inside) steps(Fetch2(), std::true_type());
    else steps(Fetch2(), std::false_type());
  }
}

template <class O, int kFilter, bool kModulate, int kBlend, int kTarget, bool kTest>
void SpanKernel(const SpanRows& s) {
  const SpanDraw& d = *s.draw;
  if (kFilter != 0 && d.alpha_or == 0 && d.tmask == 0xFFFFFFFFu && d.tfill == 0 &&
      (kFilter != 2 || (d.width >= 2 && d.height >= 2)))
    SpanLoop<O, kFilter, kModulate, kBlend, kTarget, kTest, true>(s);
  else
    SpanLoop<O, kFilter, kModulate, kBlend, kTarget, kTest, false>(s);
}

template <class O, int kFilter, bool kModulate, int kBlend, int kTarget>
VecSpanFn PickKernelTest(bool test) {
  return test ? SpanKernel<O, kFilter, kModulate, kBlend, kTarget, true>
              : SpanKernel<O, kFilter, kModulate, kBlend, kTarget, false>;
}

template <class O, int kFilter, bool kModulate, int kBlend>
VecSpanFn PickKernelTarget(int target, bool test) {
  switch (target) {
    case 0: return PickKernelTest<O, kFilter, kModulate, kBlend, 0>(test);
    case 1: return PickKernelTest<O, kFilter, kModulate, kBlend, 1>(test);
    default: return PickKernelTest<O, kFilter, kModulate, kBlend, 2>(test);
  }
}

template <class O, int kFilter, bool kModulate>
VecSpanFn PickKernelBlend(int blend, int target, bool test) {
  switch (blend) {
    case 0: return PickKernelTarget<O, kFilter, kModulate, 0>(target, test);
    case 1: return PickKernelTarget<O, kFilter, kModulate, 1>(target, test);
    default: return PickKernelTarget<O, kFilter, kModulate, 2>(target, test);
  }
}

// The additive point-sampled spans that read a term table (see
// SpanLoop), into 32-bit targets.
template <class O>
VecSpanFn PickTermKernel(int target) {
  switch (target) {
    case 0: return SpanLoop<O, 1, false, 2, 0, false, true, true>;
    case 1: return SpanLoop<O, 1, false, 2, 1, false, true, true>;
    default: return nullptr;
  }
}

template <class O>
VecSpanFn PickKernel(int filter, bool modulate, int blend, int target, bool test) {
  if (filter == 0) return PickKernelBlend<O, 0, false>(blend, target, test);
  if (filter == 1)
    return modulate ? PickKernelBlend<O, 1, true>(blend, target, test) : PickKernelBlend<O, 1, false>(blend, target, test);
  return modulate ? PickKernelBlend<O, 2, true>(blend, target, test) : PickKernelBlend<O, 2, false>(blend, target, test);
}

}  // namespace

}  // namespace plat

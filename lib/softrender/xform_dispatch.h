// lib/softrender/xform_dispatch.h - the once-per-call choice of the pixel
// operation of the transformed kernels: family, blend mode (with its
// parameter shortcuts) and variant. The visitor is called with the chosen
// operation type, so each frame gets its own loop per operation.
#pragma once

#include <cstdint>
#include <utility>

#include "lib/softrender/xform_pixel_ops.h"

namespace softxform {

// The blend mode a call really runs, after the parameter shortcuts, or -1
// when the call draws nothing.
inline int EffectiveMode(uint32_t mode, uint32_t p, bool paletted) {
  switch (mode) {
    case kCopy:
    case kMul:
    case kInverse:
    case kMulBlend:
      return static_cast<int>(mode);
    case kAlpha:
      if (p == 0) return -1;
      return p == 255 ? kCopy : kAlpha;
    case kAdd:
      return p == 0 ? -1 : kAdd;
    case kSub:
      // A paletted source still visits every pixel at p = 0 (subtracting 0
      // rewrites the guard bits), a direct one draws nothing.
      return (p == 0 && !paletted) ? -1 : kSub;
    default:
      return -1;
  }
}

// The same for a triangle without a source.
inline int EffectiveFillMode(uint32_t mode, uint32_t p) {
  switch (mode) {
    case kCopy:
    case kMul:
    case kInverse:
    case kMulBlend:
      return static_cast<int>(mode);
    case kAlpha:
      if (p == 0) return -1;
      return p == 255 ? kCopy : kAlpha;
    case kAdd:
    case kSub:
      return p == 0 ? -1 : static_cast<int>(mode);
    default:
      return -1;
  }
}

namespace detail {

template <Family F, int M, class V, std::size_t... I>
void VisitVariant(unsigned index, V& visitor, std::index_sequence<I...>) {
  ((index == I ? (visitor.template operator()<
                      PixelOp<F, M, (I & 8) != 0, (I & 4) != 0, (I & 2) != 0 && !kIsPal<F>, (I & 1) != 0>>(),
                  0)
               : 0),
   ...);
}

template <Family F, class V>
void VisitMode(int mode, unsigned index, V& visitor) {
  constexpr auto seq = std::make_index_sequence<16>();
  switch (mode) {
    case kCopy: VisitVariant<F, kCopy>(index, visitor, seq); break;
    case kAlpha: VisitVariant<F, kAlpha>(index, visitor, seq); break;
    case kAdd: VisitVariant<F, kAdd>(index, visitor, seq); break;
    case kSub: VisitVariant<F, kSub>(index, visitor, seq); break;
    case kMul: VisitVariant<F, kMul>(index, visitor, seq); break;
    case kInverse: VisitVariant<F, kInverse>(index, visitor, seq); break;
    case kMulBlend: VisitVariant<F, kMulBlend>(index, visitor, seq); break;
    default: break;
  }
}

}  // namespace detail

// Calls visitor.template operator()<PixelOp<...>>() for the operation of a
// textured draw. mode must come from EffectiveMode. The variant tests run in
// their fixed order: blend image, white bright colour, alpha channel (direct
// sources only), transparency flag.
template <class V>
void VisitPixelOp(Family family, int mode, bool blend, bool white, bool alpha, bool trans, V&& visitor) {
  const bool paletted = family == Family::kPal32 || family == Family::kPal16;
  const unsigned index = (blend ? 8u : 0u) | (white ? 4u : 0u) | ((alpha && !paletted) ? 2u : 0u) | (trans ? 1u : 0u);
  switch (family) {
    case Family::kPal32: detail::VisitMode<Family::kPal32>(mode, index, visitor); break;
    case Family::kDirect32: detail::VisitMode<Family::kDirect32>(mode, index, visitor); break;
    case Family::kPal16: detail::VisitMode<Family::kPal16>(mode, index, visitor); break;
    case Family::kDirect16: detail::VisitMode<Family::kDirect16>(mode, index, visitor); break;
    default: break;
  }
}

// Calls visitor.template operator()<FillOp<...>>() for a triangle without a
// source. mode must come from EffectiveFillMode.
template <class V>
void VisitFillOp(Family family, int mode, V&& visitor) {
  auto by_mode = [&]<Family F>() {
    switch (mode) {
      case kCopy: visitor.template operator()<FillOp<F, kCopy>>(); break;
      case kAlpha: visitor.template operator()<FillOp<F, kAlpha>>(); break;
      case kAdd: visitor.template operator()<FillOp<F, kAdd>>(); break;
      case kSub: visitor.template operator()<FillOp<F, kSub>>(); break;
      case kMul: visitor.template operator()<FillOp<F, kMul>>(); break;
      case kInverse: visitor.template operator()<FillOp<F, kInverse>>(); break;
      case kMulBlend: visitor.template operator()<FillOp<F, kMulBlend>>(); break;
      default: break;
    }
  };
  if (family == Family::kFill32) by_mode.template operator()<Family::kFill32>();
  if (family == Family::kFill16) by_mode.template operator()<Family::kFill16>();
}

}  // namespace softxform

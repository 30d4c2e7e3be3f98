// lib/softrender/alpha_rows_body.h - the vector rows' arithmetic, written once
// over a vector type V (V::kLanes 32-bit pixels a step) and included by each
// level's file after its target is set, inside that file's unnamed namespace,
// after the file's vector types Wide (the widest) and Vec128 (the last one to
// three pixels of a row).
// The steps are those of the scalar operations, lane for lane:
//   form of mode 0 with alpha, mode 1 without: (d * (256 - f) + x * f) >> 8 in
//     16-bit lanes (every product and the sum stay below 2^16);
//   form of mode 1 with alpha: d + floor((x - d) * a * p / 2^16), the product
//     formed exactly by a pair multiply-add;
//   mode 2: floor(s * p / 255) (without alpha) or floor(s * a * p / 2^16) (with
//     it), then the packed add with its carries.
// Forms that keep the destination's top byte keep it here.
// A destination pixel is read only where a form needs it: an opaque copy
// writes without reading, as a run of opaque pixels mostly does.
// Not a header to include elsewhere: it has no guard and needs those types.

template <class V, int Mode, alpharows::Classes C>
struct AlphaSteps {
  using T = typename V::T;
  static constexpr int kLanes = V::kLanes;

  struct Consts {
    T zero, low24, top8, k255, fefeff, carry_bits, low_bits, m16_low, m16_high, p32, p16, div255, key;
    T w_lo, w_hi, f_lo, f_hi;
  };

  static Consts MakeConsts(uint32_t p, uint32_t key = 0) {
    Consts k;
    k.key = V::Set1(key);
    k.zero = V::Zero();
    k.low24 = V::Set1(0x00FFFFFFu);
    k.top8 = V::Set1(0xFF000000u);
    k.k255 = V::Set1(255u);
    k.fefeff = V::Set1(0x00FEFEFFu);
    k.carry_bits = V::Set1(0x01010100u);
    k.low_bits = V::Set1(0x00010100u);
    k.m16_low = V::Set1(0x0000FFFFu);
    k.m16_high = V::Set1(32767u << 16);
    k.p32 = V::Set1(p);
    k.p16 = V::Set1(p | (p << 16));
    k.div255 = V::Set1(0x80818081u);
    // The low 16 bits of each pixel's 32-bit lane into its first three 16-bit
    // lanes and its bit 8 alone into the fourth, for the low and the high pair
    // of pixels of each 128 bits.
    k.w_lo = V::Shuffle(0, 1, 0, 1, 0, 1, 0x80, 1, 4, 5, 4, 5, 4, 5, 0x80, 5);
    k.w_hi = V::Shuffle(8, 9, 8, 9, 8, 9, 0x80, 9, 12, 13, 12, 13, 12, 13, 0x80, 13);
    // The low 16 bits of each pixel's 32-bit lane into its four 16-bit lanes.
    k.f_lo = V::Words16(0, 0, 0, 0, 4, 4, 4, 4);
    k.f_hi = V::Words16(8, 8, 8, 8, 12, 12, 12, 12);
    return k;
  }

  // (d * (256 - f) + x * f) >> 8 on every byte, f given per 16-bit lane.
  static T Lerp8(T D, T X, T f_lo, T f_hi, const Consts& k) {
    const T k256 = V::Set1(0x01000100u);
    const T dl = V::Unpacklo8(D, k.zero), dh = V::Unpackhi8(D, k.zero);
    const T xl = V::Unpacklo8(X, k.zero), xh = V::Unpackhi8(X, k.zero);
    const T rl = V::Srli16(V::Add16(V::Mullo16(dl, V::Sub16(k256, f_lo)), V::Mullo16(xl, f_lo)), 8);
    const T rh = V::Srli16(V::Add16(V::Mullo16(dh, V::Sub16(k256, f_hi)), V::Mullo16(xh, f_hi)), 8);
    return V::Packus16(rl, rh);
  }

  // d + floor((x - d) * f / 2^16) on the four bytes of one pixel: e and d16
  // hold the differences and the destination bytes in 16-bit lanes, High
  // picks the pixel of the upper half; m holds f - 32767 in the low and 32767
  // in the high 16 bits of each 32-bit lane.
  template <bool High>
  static T Lerp16Pixel(T e, T d16, T m, const Consts& k) {
    const T ee = High ? V::Unpackhi16(e, e) : V::Unpacklo16(e, e);
    const T d32 = High ? V::Unpackhi16(d16, k.zero) : V::Unpacklo16(d16, k.zero);
    return V::Add32(d32, V::Srai32(V::Madd16(ee, m), 16));
  }

  // d + floor((x - d) * f / 2^16) on every byte; m holds f - 32767 in the low
  // and 32767 in the high 16 bits of each pixel's 32-bit lane.
  static T Lerp16(T D, T X, T m, const Consts& k) {
    const T dl = V::Unpacklo8(D, k.zero), dh = V::Unpackhi8(D, k.zero);
    const T el = V::Sub16(V::Unpacklo8(X, k.zero), dl), eh = V::Sub16(V::Unpackhi8(X, k.zero), dh);
    const T r0 = Lerp16Pixel<false>(el, dl, V::template Shuffle32<0x00>(m), k);
    const T r1 = Lerp16Pixel<true>(el, dl, V::template Shuffle32<0x55>(m), k);
    const T r2 = Lerp16Pixel<false>(eh, dh, V::template Shuffle32<0xAA>(m), k);
    const T r3 = Lerp16Pixel<true>(eh, dh, V::template Shuffle32<0xFF>(m), k);
    return V::Packus16(V::Packs32(r0, r1), V::Packs32(r2, r3));
  }

  static T PackedAdd(T D, T Tw, const Consts& k) {
    const T s = V::Add32(V::And(D, k.fefeff), V::And(Tw, k.fefeff));
    const T c = V::And(s, k.carry_bits);
    return V::Or(V::Or(s, V::Sub32(c, V::Srli32(c, 8))), V::And(V::Or(D, Tw), k.low_bits));
  }

  // One step of N pixels (N: V::kLanes, or fewer with Vec128).
  // kMasked: bit i of solid_in and alpha_in classes pixel i.
  template <int N>
  static void Step(uint8_t* dst, const uint8_t* src, const Consts& k, uint32_t solid_in = 0, uint32_t alpha_in = 0) {
    constexpr bool kMixed = C == alpharows::Classes::kFromAlpha || C == alpharows::Classes::kMasked ||
                            C == alpharows::Classes::kFromKey;
    // Whether a pixel can take the form with alpha.
    constexpr bool kAlphaForm = C != alpharows::Classes::kAllSolid && C != alpharows::Classes::kFromKey;
    constexpr uint32_t kValid = N * 4 == 32 ? 0xFFFFFFFFu : (1u << (N * 4)) - 1u;  // mask bits of the N pixels
    const T S = V::template Load<N>(src);
    T skip, solid;
    uint32_t solid_bits = 0;
    if constexpr (C == alpharows::Classes::kFromAlpha) {
      const T a = V::Srli32(S, 24);
      skip = V::Cmpeq32(a, k.zero);
      solid = V::Cmpeq32(a, k.k255);
      if ((V::Movemask8(skip) & kValid) == kValid) return;
      solid_bits = V::Movemask8(solid) & kValid;
    } else if constexpr (C == alpharows::Classes::kFromKey) {
      skip = V::Cmpeq32(S, k.key);
      const uint32_t skip_bits = V::Movemask8(skip) & kValid;
      if (skip_bits == kValid) return;
      solid = V::AndNot(skip, V::Cmpeq32(k.zero, k.zero));
      solid_bits = ~skip_bits & kValid;
    } else if constexpr (C == alpharows::Classes::kMasked) {
      // Only compared with kValid (all solid) and 0 (none).
      solid_bits = solid_in == (1u << N) - 1u ? kValid : solid_in != 0 ? 1u : 0u;
    } else if constexpr (C == alpharows::Classes::kAllSolid) {
      solid_bits = kValid;
    }
    if constexpr (Mode == 0) {
      if (solid_bits == kValid) {
        V::template Store<N>(dst, S);
        return;
      }
    }
    if constexpr (C == alpharows::Classes::kMasked) {
      solid = V::LanesFromBits(solid_in);
      skip = V::LanesFromBits(~(solid_in | alpha_in));
    }
    const T D = V::template Load<N>(dst);
    T R;
    if constexpr (Mode == 0) {
      // One lerp for every class: the weight is the alpha on blue, green and
      // red and 0 on the top byte (the destination's), or 256 on all four
      // bytes of a solid pixel (the source word), or 0 on all four of a
      // skipped one; the lerp at 256 gives x, at 0 gives d.
      T f;
      if constexpr (C == alpharows::Classes::kFromAlpha) {
        const T a = V::Srli32(S, 24);
        f = V::Sub32(a, solid);  // a, or 256 where a is 255
      } else if constexpr (C == alpharows::Classes::kMasked) {
        f = V::Blend8(V::AndNot(skip, V::Srli32(S, 24)), V::Set1(256u), solid);
      } else if constexpr (C == alpharows::Classes::kFromKey) {
        f = V::And(solid, V::Set1(256u));
      } else {
        f = V::Srli32(S, 24);
      }
      R = Lerp8(D, S, V::Shuffle8(f, k.w_lo), V::Shuffle8(f, k.w_hi), k);
    } else if constexpr (Mode == 1) {
      T with_a = D, without = D;
      if (kAlphaForm && solid_bits != kValid) {
        const T f = V::Mullo16(V::Srli32(S, 24), k.p32);  // a * p in the low 16 bits
        const T m = V::Or(V::And(V::Sub32(f, V::Set1(32767u)), k.m16_low), k.m16_high);
        with_a = Lerp16(D, S, m, k);
      }
      if (solid_bits != 0) without = Lerp8(D, S, k.p16, k.p16, k);
      if constexpr (kMixed) {
        R = V::Blend8(V::Blend8(with_a, without, solid), D, k.top8);
      } else {
        R = V::Blend8(C == alpharows::Classes::kAllSolid ? without : with_a, D, k.top8);
      }
    } else {
      const T sl = V::Unpacklo8(S, k.zero), sh = V::Unpackhi8(S, k.zero);
      T with_a = k.zero, without = k.zero;
      if (kAlphaForm && solid_bits != kValid) {
        const T f = V::Mullo16(V::Srli32(S, 24), k.p32);
        const T fl = V::Shuffle8(f, k.f_lo), fh = V::Shuffle8(f, k.f_hi);
        with_a = V::Packus16(V::MulhiU16(sl, fl), V::MulhiU16(sh, fh));
      }
      if (solid_bits != 0) {
        // floor(x / 255) = (x * 0x8081) >> 23 for every 16-bit x.
        const T ql = V::Srli16(V::MulhiU16(V::Mullo16(sl, k.p16), k.div255), 7);
        const T qh = V::Srli16(V::MulhiU16(V::Mullo16(sh, k.p16), k.div255), 7);
        without = V::Packus16(ql, qh);
      }
      T t;
      if constexpr (kMixed) {
        t = V::Blend8(with_a, without, solid);
      } else {
        t = C == alpharows::Classes::kAllSolid ? without : with_a;
      }
      R = PackedAdd(D, V::And(t, k.low24), k);
    }
    if constexpr (kMixed && Mode != 0) R = V::Blend8(R, D, skip);
    V::template Store<N>(dst, R);
  }
};

template <int Mode, alpharows::Classes C>
void AlphaRowOf(uint8_t* dst, const uint8_t* src, int n, uint32_t p, uint32_t key) {
  using WideSteps = AlphaSteps<Wide, Mode, C>;
  using NarrowSteps = AlphaSteps<Vec128, Mode, C>;
  int i = 0;
  if (n >= Wide::kLanes) {
    const typename WideSteps::Consts k = WideSteps::MakeConsts(p, key);
    for (; i + Wide::kLanes <= n; i += Wide::kLanes) {
      WideSteps::template Step<Wide::kLanes>(dst + 4 * i, src + 4 * i, k);
    }
    if (i == n) return;
  }
  const typename NarrowSteps::Consts k = NarrowSteps::MakeConsts(p, key);
  if constexpr (Wide::kLanes > 4) {
    if (n - i >= 4) {
      NarrowSteps::template Step<4>(dst + 4 * i, src + 4 * i, k);
      i += 4;
    }
  }
  if (n - i >= 2) {
    NarrowSteps::template Step<2>(dst + 4 * i, src + 4 * i, k);
    i += 2;
  }
  if (n - i >= 1) NarrowSteps::template Step<1>(dst + 4 * i, src + 4 * i, k);
}

template <int Mode>
struct MaskedRows {
  using WideSteps = AlphaSteps<Wide, Mode, alpharows::Classes::kMasked>;
  using NarrowSteps = AlphaSteps<Vec128, Mode, alpharows::Classes::kMasked>;
  static constexpr int kW = Wide::kLanes;

  __attribute__((always_inline)) static inline void Row(uint8_t* dst, const uint8_t* src, int n, uint64_t solid,
                                                        uint64_t with_alpha, const typename WideSteps::Consts& kw,
                                                        const typename NarrowSteps::Consts& kn) {
    int i = 0;
    for (; i + kW <= n; i += kW) {
      const uint32_t s = static_cast<uint32_t>(solid >> i) & ((1u << kW) - 1u);
      const uint32_t a = static_cast<uint32_t>(with_alpha >> i) & ((1u << kW) - 1u);
      if ((s | a) != 0) WideSteps::template Step<kW>(dst + 4 * i, src + 4 * i, kw, s, a);
    }
    if (i == n || ((solid | with_alpha) >> i) == 0) return;
    if constexpr (kW > 4) {
      if (n - i >= 4) {
        Narrow<4>(dst, src, i, solid, with_alpha, kn);
        i += 4;
      }
    }
    if (n - i >= 2) {
      Narrow<2>(dst, src, i, solid, with_alpha, kn);
      i += 2;
    }
    if (n - i >= 1) Narrow<1>(dst, src, i, solid, with_alpha, kn);
  }

  template <int N>
  __attribute__((always_inline)) static inline void Narrow(uint8_t* dst, const uint8_t* src, int i, uint64_t solid,
                                                           uint64_t with_alpha,
                                                           const typename NarrowSteps::Consts& kn) {
    const uint32_t s = static_cast<uint32_t>(solid >> i) & ((1u << N) - 1u);
    const uint32_t a = static_cast<uint32_t>(with_alpha >> i) & ((1u << N) - 1u);
    if ((s | a) != 0) NarrowSteps::template Step<N>(dst + 4 * i, src + 4 * i, kn, s, a);
  }

  static void One(uint8_t* dst, const uint8_t* src, int n, uint64_t solid, uint64_t with_alpha, uint32_t p) {
    Row(dst, src, n, solid, with_alpha, WideSteps::MakeConsts(p), NarrowSteps::MakeConsts(p));
  }

  static void Many(uint8_t* dst, ptrdiff_t dst_pitch, const uint8_t* src, ptrdiff_t src_pitch, int n, int rows,
                   const uint64_t* solid, const uint64_t* with_alpha, uint32_t p) {
    const typename WideSteps::Consts kw = WideSteps::MakeConsts(p);
    const typename NarrowSteps::Consts kn = NarrowSteps::MakeConsts(p);
    for (int j = 0; j < rows; ++j) Row(dst + j * dst_pitch, src + j * src_pitch, n, solid[j], with_alpha[j], kw, kn);
  }
};

inline alpharows::MaskedRowsFn PickAlphaMaskedRows(int mode) {
  switch (mode) {
    case 0: return &MaskedRows<0>::Many;
    case 1: return &MaskedRows<1>::Many;
    case 2: return &MaskedRows<2>::Many;
    default: return nullptr;
  }
}

inline alpharows::MaskedRowFn PickAlphaMaskedRow(int mode) {
  switch (mode) {
    case 0: return &MaskedRows<0>::One;
    case 1: return &MaskedRows<1>::One;
    case 2: return &MaskedRows<2>::One;
    default: return nullptr;
  }
}

inline alpharows::RowFn PickAlphaRow(int mode, alpharows::Classes classes) {
  using alpharows::Classes;
  auto by_classes = [&]<int M>() -> alpharows::RowFn {
    switch (classes) {
      case Classes::kFromAlpha: return &AlphaRowOf<M, Classes::kFromAlpha>;
      case Classes::kAllAlpha: return &AlphaRowOf<M, Classes::kAllAlpha>;
      case Classes::kAllSolid: return &AlphaRowOf<M, Classes::kAllSolid>;
      case Classes::kFromKey: return &AlphaRowOf<M, Classes::kFromKey>;
      case Classes::kMasked: return nullptr;
    }
    return nullptr;
  };
  switch (mode) {
    case 0: return by_classes.template operator()<0>();
    case 1: return by_classes.template operator()<1>();
    case 2: return by_classes.template operator()<2>();
    default: return nullptr;
  }
}

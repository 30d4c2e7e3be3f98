// lib/softrender/alpha16_rows_body.h - the vector rows of an RGB565 source
// with alpha (a pixel of four bytes: the RGB565 word, the alpha byte, one
// byte not read) drawn in blend mode 0 under the white bright colour without
// a blend image onto RGB565 pixels: a solid pixel stores the source word, a
// pixel with alpha a takes d + floor((s - d) a / 256) on each field, a
// skipped one is left alone. Included by each level's file after its target
// is set, inside its unnamed namespace, after Wide and Vec128.
// Not a header to include elsewhere: it has no guard and needs those types.

template <class V, alpharows::Classes C>
struct Alpha16Steps {
  using T = typename V::T;

  // d + floor((v - d) a / 256) on the field at shift sh of width mask.
  static T Field(T D, T W, T a, int sh, uint32_t mask) {
    const T m = V::Set1(mask);
    const T d = V::And(V::Srli32(D, sh), m), v = V::And(V::Srli32(W, sh), m);
    return V::Slli32(V::Add32(d, V::Srai32(V::Mullo32(V::Sub32(v, d), a), 8)), sh);
  }

  // N pixels: 4N source bytes, 2N destination bytes.
  template <int N>
  static void Step(uint8_t* dst, const uint8_t* src, uint32_t solid_in = 0, uint32_t alpha_in = 0) {
    constexpr uint32_t kValid = N * 4 == 32 ? 0xFFFFFFFFu : (1u << (N * 4)) - 1u;  // mask bits of the N pixels
    const T S = V::template Load<N>(src);
    const T w = V::And(S, V::Set1(0xFFFFu));
    const T a = V::And(V::Srli32(S, 16), V::Set1(0xFFu));
    T skip = V::Zero(), solid = V::Zero();
    bool all_solid = false;
    if constexpr (C == alpharows::Classes::kFromAlpha) {
      skip = V::Cmpeq32(a, V::Zero());
      solid = V::Cmpeq32(a, V::Set1(255u));
      if ((V::Movemask8(skip) & kValid) == kValid) return;
      all_solid = (V::Movemask8(solid) & kValid) == kValid;
    } else if constexpr (C == alpharows::Classes::kMasked) {
      all_solid = solid_in == (1u << N) - 1u;
      if (!all_solid) {
        solid = V::LanesFromBits(solid_in);
        skip = V::LanesFromBits(~(solid_in | alpha_in));
      }
    }
    if (all_solid) {
      V::template Store16<N>(dst, w);
      return;
    }
    const T D = V::template Load16<N>(dst);
    T R = V::Or(V::Or(Field(D, w, a, 0, 31u), Field(D, w, a, 5, 63u)), Field(D, w, a, 11, 31u));
    if constexpr (C != alpharows::Classes::kAllAlpha) R = V::Blend8(R, w, solid);
    // Alpha 0 leaves the pixel as it is; a skipped pixel of the masks may
    // have another alpha.
    if constexpr (C == alpharows::Classes::kMasked) R = V::Blend8(R, D, skip);
    V::template Store16<N>(dst, R);
  }
};

template <alpharows::Classes C>
struct Alpha16Rows {
  using WideSteps = Alpha16Steps<Wide, C>;
  using NarrowSteps = Alpha16Steps<Vec128, C>;
  static constexpr int kW = Wide::kLanes;

  static void Row(uint8_t* dst, const uint8_t* src, int n, uint32_t, uint32_t) {
    int i = 0;
    for (; i + kW <= n; i += kW) WideSteps::template Step<kW>(dst + 2 * i, src + 4 * i);
    if constexpr (kW > 4) {
      if (n - i >= 4) {
        NarrowSteps::template Step<4>(dst + 2 * i, src + 4 * i);
        i += 4;
      }
    }
    if (n - i >= 2) {
      NarrowSteps::template Step<2>(dst + 2 * i, src + 4 * i);
      i += 2;
    }
    if (n - i >= 1) NarrowSteps::template Step<1>(dst + 2 * i, src + 4 * i);
  }

  template <int N>
  static void Narrow(uint8_t* dst, const uint8_t* src, int i, uint64_t solid, uint64_t with_alpha) {
    const uint32_t s = static_cast<uint32_t>(solid >> i) & ((1u << N) - 1u);
    const uint32_t a = static_cast<uint32_t>(with_alpha >> i) & ((1u << N) - 1u);
    if ((s | a) != 0) NarrowSteps::template Step<N>(dst + 2 * i, src + 4 * i, s, a);
  }

  static void MaskedRow(uint8_t* dst, const uint8_t* src, int n, uint64_t solid, uint64_t with_alpha, uint32_t) {
    int i = 0;
    for (; i + kW <= n; i += kW) {
      const uint32_t s = static_cast<uint32_t>(solid >> i) & ((1u << kW) - 1u);
      const uint32_t a = static_cast<uint32_t>(with_alpha >> i) & ((1u << kW) - 1u);
      if ((s | a) != 0) WideSteps::template Step<kW>(dst + 2 * i, src + 4 * i, s, a);
    }
    if (i == n || ((solid | with_alpha) >> i) == 0) return;
    if constexpr (kW > 4) {
      if (n - i >= 4) {
        Narrow<4>(dst, src, i, solid, with_alpha);
        i += 4;
      }
    }
    if (n - i >= 2) {
      Narrow<2>(dst, src, i, solid, with_alpha);
      i += 2;
    }
    if (n - i >= 1) Narrow<1>(dst, src, i, solid, with_alpha);
  }

  static void MaskedRows(uint8_t* dst, ptrdiff_t dst_pitch, const uint8_t* src, ptrdiff_t src_pitch, int n,
                         int rows, const uint64_t* solid, const uint64_t* with_alpha, uint32_t p) {
    for (int j = 0; j < rows; ++j) MaskedRow(dst + j * dst_pitch, src + j * src_pitch, n, solid[j], with_alpha[j], p);
  }
};

inline alpharows::RowFn PickAlpha16Row(alpharows::Classes classes) {
  switch (classes) {
    case alpharows::Classes::kFromAlpha: return &Alpha16Rows<alpharows::Classes::kFromAlpha>::Row;
    case alpharows::Classes::kAllAlpha: return &Alpha16Rows<alpharows::Classes::kAllAlpha>::Row;
    default: return nullptr;
  }
}

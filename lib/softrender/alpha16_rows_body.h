// lib/softrender/alpha16_rows_body.h - the vector rows of an RGB565 source
// with alpha (a pixel of four bytes: the RGB565 word, the alpha byte, one
// byte not read) drawn under the white bright colour without a blend image
// onto RGB565 pixels, field by field in 32-bit lanes:
//   mode 0: a solid pixel stores the source word, one with alpha a takes
//     d + floor((s - d) a / 256);
//   mode 1: solid d + trunc((s - d) p / 255) (the Diff blend), with alpha
//     d + floor((s - d) a p / 2^16);
//   mode 2: the packed add of floor(x p / 255), x the field (solid) or
//     floor(field a / 256) (with alpha);
// a skipped pixel is left alone. floor(x / 255) = (x * 0x8081) >> 23 for
// every x below 2^16. Included by each level's file after its target
// is set, inside its unnamed namespace, after Wide and Vec128.
// Not a header to include elsewhere: it has no guard and needs those types.

template <class V, int Mode, alpharows::Classes C>
struct Alpha16Steps {
  using T = typename V::T;

  static T Div255(T x) { return V::Srli32(V::Mullo32(x, V::Set1(0x8081u)), 23); }

  // The field at shift sh of width mask, as the form with alpha (WithA) or
  // without it gives it; f is a (mode 0) or a p (mode 1).
  template <bool WithA>
  static T Field(T D, T W, T f, T p, int sh, uint32_t mask) {
    const T m = V::Set1(mask);
    const T d = V::And(V::Srli32(D, sh), m), v = V::And(V::Srli32(W, sh), m);
    const T e = V::Sub32(v, d);
    T r;
    if constexpr (Mode == 0) {
      r = V::Add32(d, V::Srai32(V::Mullo32(e, f), 8));
    } else if constexpr (WithA) {
      r = V::Add32(d, V::Srai32(V::Mullo32(e, f), 16));
    } else {
      r = V::Add32(d, V::Sign32(Div255(V::Mullo32(V::Abs32(e), p)), e));
    }
    return V::Slli32(r, sh);
  }

  // The add's operand field: floor(x p / 255).
  template <bool WithA>
  static T AddField(T W, T a, T p, int sh, uint32_t mask) {
    T x = V::And(V::Srli32(W, sh), V::Set1(mask));
    if constexpr (WithA) x = V::Srli32(V::Mullo32(x, a), 8);
    return V::Slli32(Div255(V::Mullo32(x, p)), sh);
  }

  template <bool WithA>
  static T Form(T D, T W, T a, T p) {
    if constexpr (Mode == 2) {
      const T t = V::Or(V::Or(AddField<WithA>(W, a, p, 0, 31u), AddField<WithA>(W, a, p, 5, 63u)),
                        AddField<WithA>(W, a, p, 11, 31u));
      const T mk = V::Set1(0xF7DEF7DFu);
      const T sum = V::Add32(V::And(D, mk), V::And(t, mk));
      const T k = V::And(sum, V::Set1(0x08210820u));
      const T r = V::Or(V::Or(V::Sub32(k, V::Srli32(k, 5)), V::And(V::Or(D, t), V::Set1(0x820u))), sum);
      return V::And(r, V::Set1(0xFFFFu));
    } else {
      const T f = Mode == 1 ? V::Mullo32(a, p) : a;
      return V::Or(V::Or(Field<WithA>(D, W, f, p, 0, 31u), Field<WithA>(D, W, f, p, 5, 63u)),
                   Field<WithA>(D, W, f, p, 11, 31u));
    }
  }

  // N pixels: 4N source bytes, 2N destination bytes.
  template <int N>
  static void Step(uint8_t* dst, const uint8_t* src, uint32_t p, uint32_t solid_in = 0, uint32_t alpha_in = 0) {
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
    if (Mode == 0 && all_solid) {
      V::template Store16<N>(dst, w);
      return;
    }
    const T D = V::template Load16<N>(dst);
    const T pv = V::Set1(p);
    T R;
    if constexpr (Mode == 0) {
      R = Form<true>(D, w, a, pv);
      if constexpr (C != alpharows::Classes::kAllAlpha) R = V::Blend8(R, w, solid);
    } else if constexpr (C == alpharows::Classes::kAllAlpha) {
      R = Form<true>(D, w, a, pv);
    } else {
      const T without = Form<false>(D, w, a, pv);
      R = all_solid ? without : V::Blend8(Form<true>(D, w, a, pv), without, solid);
    }
    // Alpha 0 leaves the pixel as it is in modes 0 and 1; a skipped pixel of
    // the masks may have another alpha.
    if constexpr (C == alpharows::Classes::kMasked || (C == alpharows::Classes::kFromAlpha && Mode == 2)) {
      R = V::Blend8(R, D, skip);
    }
    V::template Store16<N>(dst, R);
  }
};

template <int Mode, alpharows::Classes C>
struct Alpha16Rows {
  using WideSteps = Alpha16Steps<Wide, Mode, C>;
  using NarrowSteps = Alpha16Steps<Vec128, Mode, C>;
  static constexpr int kW = Wide::kLanes;

  static void Row(uint8_t* dst, const uint8_t* src, int n, uint32_t p, uint32_t) {
    int i = 0;
    for (; i + kW <= n; i += kW) WideSteps::template Step<kW>(dst + 2 * i, src + 4 * i, p);
    if constexpr (kW > 4) {
      if (n - i >= 4) {
        NarrowSteps::template Step<4>(dst + 2 * i, src + 4 * i, p);
        i += 4;
      }
    }
    if (n - i >= 2) {
      NarrowSteps::template Step<2>(dst + 2 * i, src + 4 * i, p);
      i += 2;
    }
    if (n - i >= 1) NarrowSteps::template Step<1>(dst + 2 * i, src + 4 * i, p);
  }

  template <int N>
  static void Narrow(uint8_t* dst, const uint8_t* src, int i, uint64_t solid, uint64_t with_alpha, uint32_t p) {
    const uint32_t s = static_cast<uint32_t>(solid >> i) & ((1u << N) - 1u);
    const uint32_t a = static_cast<uint32_t>(with_alpha >> i) & ((1u << N) - 1u);
    if ((s | a) != 0) NarrowSteps::template Step<N>(dst + 2 * i, src + 4 * i, p, s, a);
  }

  static void MaskedRow(uint8_t* dst, const uint8_t* src, int n, uint64_t solid, uint64_t with_alpha, uint32_t p) {
    int i = 0;
    for (; i + kW <= n; i += kW) {
      const uint32_t s = static_cast<uint32_t>(solid >> i) & ((1u << kW) - 1u);
      const uint32_t a = static_cast<uint32_t>(with_alpha >> i) & ((1u << kW) - 1u);
      if ((s | a) != 0) WideSteps::template Step<kW>(dst + 2 * i, src + 4 * i, p, s, a);
    }
    if (i == n || ((solid | with_alpha) >> i) == 0) return;
    if constexpr (kW > 4) {
      if (n - i >= 4) {
        Narrow<4>(dst, src, i, solid, with_alpha, p);
        i += 4;
      }
    }
    if (n - i >= 2) {
      Narrow<2>(dst, src, i, solid, with_alpha, p);
      i += 2;
    }
    if (n - i >= 1) Narrow<1>(dst, src, i, solid, with_alpha, p);
  }

  static void MaskedRows(uint8_t* dst, ptrdiff_t dst_pitch, const uint8_t* src, ptrdiff_t src_pitch, int n,
                         int rows, const uint64_t* solid, const uint64_t* with_alpha, uint32_t p) {
    for (int j = 0; j < rows; ++j) MaskedRow(dst + j * dst_pitch, src + j * src_pitch, n, solid[j], with_alpha[j], p);
  }
};

inline alpharows::RowFn PickAlpha16Row(int mode, alpharows::Classes classes) {
  using alpharows::Classes;
  auto by_classes = [&]<int M>() -> alpharows::RowFn {
    switch (classes) {
      case Classes::kFromAlpha: return &Alpha16Rows<M, Classes::kFromAlpha>::Row;
      case Classes::kAllAlpha: return &Alpha16Rows<M, Classes::kAllAlpha>::Row;
      default: return nullptr;
    }
  };
  switch (mode) {
    case 0: return by_classes.template operator()<0>();
    case 1: return by_classes.template operator()<1>();
    case 2: return by_classes.template operator()<2>();
    default: return nullptr;
  }
}

inline alpharows::MaskedRowFn PickAlpha16MaskedRow(int mode) {
  switch (mode) {
    case 0: return &Alpha16Rows<0, alpharows::Classes::kMasked>::MaskedRow;
    case 1: return &Alpha16Rows<1, alpharows::Classes::kMasked>::MaskedRow;
    case 2: return &Alpha16Rows<2, alpharows::Classes::kMasked>::MaskedRow;
    default: return nullptr;
  }
}

inline alpharows::MaskedRowsFn PickAlpha16MaskedRows(int mode) {
  switch (mode) {
    case 0: return &Alpha16Rows<0, alpharows::Classes::kMasked>::MaskedRows;
    case 1: return &Alpha16Rows<1, alpharows::Classes::kMasked>::MaskedRows;
    case 2: return &Alpha16Rows<2, alpharows::Classes::kMasked>::MaskedRows;
    default: return nullptr;
  }
}

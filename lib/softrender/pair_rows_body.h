// lib/softrender/pair_rows_body.h - the vector rows of the 16-bit pair forms:
// the full-strength add or subtract (blend mode 2 or 3 at parameter 255, the
// white bright colour, no blend image) of a plain RGB565 source, two adjacent
// pixels per 32-bit lane from the row's first pixel on, exactly as the scalar
// pair loop: a pair with both pixels drawn takes the pair form, whose left
// pixel is the single-pixel form's; a pair with one transparent pixel works
// the other alone by the single-pixel form; a last odd pixel takes the
// single-pixel form. Included by each level's file after its target is set,
// inside its unnamed namespace, after Wide and Vec128.
// Not a header to include elsewhere: it has no guard and needs those types.

template <class V, bool Sub, bool Keyed>
struct PairSteps {
  using T = typename V::T;

  // The single-pixel form on the low 16 bits of every lane (high bits of the
  // result undefined).
  static T Single(T d, T s) {
    if constexpr (Sub) {
      const T e = V::Sub32(V::Or(d, V::Set1(0x08210820u)), V::And(s, V::Set1(0xF7DEF7DFu)));
      const T k = V::And(e, V::Set1(0x08210820u));
      return V::And(V::Sub32(k, V::Srli32(k, 5)), e);
    } else {
      const T sum = V::Add32(V::And(d, V::Set1(0xF7DFu)), V::And(s, V::Set1(0xF7DFu)));
      const T k = V::And(sum, V::Set1(0x10820u));
      return V::Or(V::Sub32(k, V::Srli32(k, 5)), sum);
    }
  }

  // The pair form of every lane.
  static T Pair(T D, T S) {
    const T sign = V::Set1(0x80000000u);
    const T m = V::Set1(0xF7DEF7DFu), g = V::Set1(0x08210820u);
    if constexpr (Sub) {
      const T a = V::Or(D, g), b = V::And(S, m);
      const T e = V::Sub32(a, b);
      const T borrow = V::Cmpgt32(V::Xor(b, sign), V::Xor(a, sign));  // a < b unsigned
      const T k = V::And(e, g);
      return V::And(V::Or(V::Sub32(k, V::Srli32(k, 5)), V::AndNot(borrow, V::Set1(0xF8000000u))), e);
    } else {
      const T a = V::And(D, m), b = V::And(S, m);
      const T sum = V::Add32(a, b);
      const T carry = V::Cmpgt32(V::Xor(a, sign), V::Xor(sum, sign));  // sum < a unsigned: a carry out
      const T k = V::And(sum, g);
      return V::Or(V::Sub32(k, V::Or(V::Srli32(k, 5), V::And(carry, V::Set1(1u << 27)))), sum);
    }
  }

  // N lanes (2N pixels).
  template <int N>
  static void Step(uint8_t* dst, const uint8_t* src, T key) {
    const T S = V::template Load<N>(src);
    const T D = V::template Load<N>(dst);
    T R = Pair(D, S);
    if constexpr (Keyed) {
      const T skip = V::Cmpeq16(S, key);  // per pixel
      // The right pixel alone where the left one is transparent.
      const T right = V::Slli32(Single(V::Srli32(D, 16), V::Srli32(S, 16)), 16);
      R = V::Blend8(R, right, V::Slli32(skip, 16));
      R = V::Blend8(R, D, skip);
    }
    V::template Store<N>(dst, R);
  }

  // The last odd pixel.
  static void Last(uint8_t* dst, const uint8_t* src, uint32_t key) {
    uint16_t s, d;
    std::memcpy(&s, src, 2);
    std::memcpy(&d, dst, 2);
    if (Keyed && s == key) return;
    const uint16_t r = static_cast<uint16_t>(V::Low32(Single(V::Set1(d), V::Set1(s))));
    std::memcpy(dst, &r, 2);
  }
};

template <bool Sub, bool Keyed>
void PairRowOf(uint8_t* dst, const uint8_t* src, int n, uint32_t key) {
  using WideSteps = PairSteps<Wide, Sub, Keyed>;
  using NarrowSteps = PairSteps<Vec128, Sub, Keyed>;
  const int pairs = n / 2;
  int i = 0;  // lanes done
  const typename Wide::T wkey = Wide::Set1(key | (key << 16));
  for (; i + Wide::kLanes <= pairs; i += Wide::kLanes) {
    WideSteps::template Step<Wide::kLanes>(dst + 4 * i, src + 4 * i, wkey);
  }
  const typename Vec128::T nkey = Vec128::Set1(key | (key << 16));
  if constexpr (Wide::kLanes > 4) {
    if (pairs - i >= 4) {
      NarrowSteps::template Step<4>(dst + 4 * i, src + 4 * i, nkey);
      i += 4;
    }
  }
  if (pairs - i >= 2) {
    NarrowSteps::template Step<2>(dst + 4 * i, src + 4 * i, nkey);
    i += 2;
  }
  if (pairs - i >= 1) {
    NarrowSteps::template Step<1>(dst + 4 * i, src + 4 * i, nkey);
    i += 1;
  }
  if (n & 1) NarrowSteps::Last(dst + 4 * i, src + 4 * i, key);
}

inline alpharows::PairRowFn PickPairRow(bool sub, bool keyed) {
  if (sub) return keyed ? &PairRowOf<true, true> : &PairRowOf<true, false>;
  return keyed ? &PairRowOf<false, true> : &PairRowOf<false, false>;
}

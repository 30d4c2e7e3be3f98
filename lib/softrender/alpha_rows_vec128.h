// lib/softrender/alpha_rows_vec128.h - the 128-bit vector operations of the
// vector rows (four pixels a step, or the first one or two of them), included
// by each level's file after its target is set, inside its unnamed namespace.
// Not a header to include elsewhere: it has no guard and needs <immintrin.h>.

struct Vec128 {
  using T = __m128i;
  static constexpr int kLanes = 4;
  static T Zero() { return _mm_setzero_si128(); }
  static T Set1(uint32_t v) { return _mm_set1_epi32(static_cast<int32_t>(v)); }
  // The first N pixels; the other lanes are zero on loading and not stored.
  template <int N>
  static T Load(const uint8_t* p) {
    if constexpr (N == 4) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else if constexpr (N == 2) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    } else {
      int32_t v;
      std::memcpy(&v, p, 4);
      return _mm_cvtsi32_si128(v);
    }
  }
  template <int N>
  static void Store(uint8_t* p, T v) {
    if constexpr (N == 4) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    } else if constexpr (N == 2) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    } else {
      const int32_t w = _mm_cvtsi128_si32(v);
      std::memcpy(p, &w, 4);
    }
  }
  static T Shuffle(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9, int b10, int b11,
                   int b12, int b13, int b14, int b15) {
    return _mm_setr_epi8(char(b0), char(b1), char(b2), char(b3), char(b4), char(b5), char(b6), char(b7), char(b8),
                         char(b9), char(b10), char(b11), char(b12), char(b13), char(b14), char(b15));
  }
  // A byte shuffle putting the 16-bit word at byte i into 16-bit lane k.
  static T Words16(int i0, int i1, int i2, int i3, int i4, int i5, int i6, int i7) {
    return _mm_setr_epi8(char(i0), char(i0 + 1), char(i1), char(i1 + 1), char(i2), char(i2 + 1), char(i3),
                         char(i3 + 1), char(i4), char(i4 + 1), char(i5), char(i5 + 1), char(i6), char(i6 + 1),
                         char(i7), char(i7 + 1));
  }
  static T And(T a, T b) { return _mm_and_si128(a, b); }
  static T Or(T a, T b) { return _mm_or_si128(a, b); }
  static T AndNot(T a, T b) { return _mm_andnot_si128(a, b); }  // ~a & b
  static T Add32(T a, T b) { return _mm_add_epi32(a, b); }
  static T Sub32(T a, T b) { return _mm_sub_epi32(a, b); }
  static T Srli32(T a, int n) { return _mm_srli_epi32(a, n); }
  static T Srai32(T a, int n) { return _mm_srai_epi32(a, n); }
  static T Add16(T a, T b) { return _mm_add_epi16(a, b); }
  static T Sub16(T a, T b) { return _mm_sub_epi16(a, b); }
  static T Mullo16(T a, T b) { return _mm_mullo_epi16(a, b); }
  static T MulhiU16(T a, T b) { return _mm_mulhi_epu16(a, b); }
  static T Madd16(T a, T b) { return _mm_madd_epi16(a, b); }
  static T Srli16(T a, int n) { return _mm_srli_epi16(a, n); }
  static T Unpacklo8(T a, T b) { return _mm_unpacklo_epi8(a, b); }
  static T Unpackhi8(T a, T b) { return _mm_unpackhi_epi8(a, b); }
  static T Unpacklo16(T a, T b) { return _mm_unpacklo_epi16(a, b); }
  static T Unpackhi16(T a, T b) { return _mm_unpackhi_epi16(a, b); }
  static T Packus16(T a, T b) { return _mm_packus_epi16(a, b); }
  static T Packs32(T a, T b) { return _mm_packs_epi32(a, b); }
  static T Cmpeq32(T a, T b) { return _mm_cmpeq_epi32(a, b); }
  static T Cmpeq16(T a, T b) { return _mm_cmpeq_epi16(a, b); }
  static T Mullo32(T a, T b) { return _mm_mullo_epi32(a, b); }
  static T Abs32(T a) { return _mm_abs_epi32(a); }
  static T Sign32(T a, T b) { return _mm_sign_epi32(a, b); }  // a, -a or 0 by the sign of b
  // N 16-bit pixels into the low halves of N 32-bit lanes, and back (the
  // values no more than 16 bits).
  template <int N>
  static T Load16(const uint8_t* p) {
    if constexpr (N == 4) {
      return _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    } else if constexpr (N == 2) {
      int32_t v;
      std::memcpy(&v, p, 4);
      return _mm_cvtepu16_epi32(_mm_cvtsi32_si128(v));
    } else {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return _mm_cvtsi32_si128(v);
    }
  }
  template <int N>
  static void Store16(uint8_t* p, T v) {
    const T packed = _mm_packus_epi32(v, v);
    if constexpr (N == 4) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(p), packed);
    } else {
      const uint32_t w = static_cast<uint32_t>(_mm_cvtsi128_si32(packed));
      std::memcpy(p, &w, 2 * N);
    }
  }
  static T Cmpgt32(T a, T b) { return _mm_cmpgt_epi32(a, b); }
  static T Xor(T a, T b) { return _mm_xor_si128(a, b); }
  static T Slli32(T a, int n) { return _mm_slli_epi32(a, n); }
  static uint32_t Low32(T a) { return static_cast<uint32_t>(_mm_cvtsi128_si32(a)); }
  static T Shuffle8(T a, T m) { return _mm_shuffle_epi8(a, m); }
  template <int I>
  static T Shuffle32(T a) { return _mm_shuffle_epi32(a, I); }
  // Bytes of b where m's byte has its top bit set, else of a.
  static T Blend8(T a, T b, T m) { return _mm_blendv_epi8(a, b, m); }
  // One bit per byte, as an unsigned mask.
  static uint32_t Movemask8(T a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }
  // All ones in lane i where bit i of bits is set.
  static T LanesFromBits(uint32_t bits) {
    const T sel = _mm_setr_epi32(1, 2, 4, 8);
    return _mm_cmpeq_epi32(_mm_and_si128(Set1(bits), sel), sel);
  }
};

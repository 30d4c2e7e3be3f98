// lib/softrender/alpha_rows_sse41.cpp - the vector rows, four pixels a step,
// for processors with SSE4.1 (only called on them).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/softrender/alpha_rows.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.1")
#endif
#include <immintrin.h>

namespace alpharows {
namespace {

#include "lib/softrender/alpha_rows_vec128.h"

using Wide = Vec128;

#include "lib/softrender/alpha_rows_body.h"
#include "lib/softrender/pair_rows_body.h"
#include "lib/softrender/alpha16_rows_body.h"

}  // namespace

RowFn AlphaRowSse41(int mode, Classes classes) { return PickAlphaRow(mode, classes); }

MaskedRowFn AlphaMaskedRowSse41(int mode) { return PickAlphaMaskedRow(mode); }

MaskedRowsFn AlphaMaskedRowsSse41(int mode) { return PickAlphaMaskedRows(mode); }

PairRowFn PairRowSse41(bool sub, bool keyed) { return PickPairRow(sub, keyed); }

RowFn Alpha16RowSse41(int mode, Classes classes) { return PickAlpha16Row(mode, classes); }

MaskedRowFn Alpha16MaskedRowSse41(int mode) { return PickAlpha16MaskedRow(mode); }

MaskedRowsFn Alpha16MaskedRowsSse41(int mode) { return PickAlpha16MaskedRows(mode); }

}  // namespace alpharows

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

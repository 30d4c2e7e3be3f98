// lib/softrender/alpha_rows.cpp - picking the vector row of a draw.
#include "lib/softrender/alpha_rows.h"

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/soft_simd_level.h"

namespace alpharows {

RowFn AlphaRowFor(int level, int mode, Classes classes) {
  if (mode < 0 || mode > 2 || classes == Classes::kMasked) return nullptr;
  // The add's form without alpha computes the multiply table's entries.
  if (mode == 2 && !SoftBlendTablesBuilt()) return nullptr;
  switch (level) {
    case 2: return AlphaRowAvx2(mode, classes);
    case 1: return AlphaRowSse41(mode, classes);
    default: return nullptr;
  }
}

RowFn AlphaRow(int mode, Classes classes) { return AlphaRowFor(SoftKernelLevel(), mode, classes); }

MaskedRowFn AlphaMaskedRowFor(int level, int mode) {
  if (mode < 0 || mode > 2) return nullptr;
  if (mode == 2 && !SoftBlendTablesBuilt()) return nullptr;
  switch (level) {
    case 2: return AlphaMaskedRowAvx2(mode);
    case 1: return AlphaMaskedRowSse41(mode);
    default: return nullptr;
  }
}

MaskedRowFn AlphaMaskedRow(int mode) { return AlphaMaskedRowFor(SoftKernelLevel(), mode); }

MaskedRowsFn AlphaMaskedRowsFor(int level, int mode) {
  if (mode < 0 || mode > 2) return nullptr;
  if (mode == 2 && !SoftBlendTablesBuilt()) return nullptr;
  switch (level) {
    case 2: return AlphaMaskedRowsAvx2(mode);
    case 1: return AlphaMaskedRowsSse41(mode);
    default: return nullptr;
  }
}

MaskedRowsFn AlphaMaskedRows(int mode) { return AlphaMaskedRowsFor(SoftKernelLevel(), mode); }

PairRowFn PairRowFor(int level, bool sub, bool keyed) {
  switch (level) {
    case 2: return PairRowAvx2(sub, keyed);
    case 1: return PairRowSse41(sub, keyed);
    default: return nullptr;
  }
}

PairRowFn PairRow(bool sub, bool keyed) { return PairRowFor(SoftKernelLevel(), sub, keyed); }

RowFn Alpha16RowFor(int level, int mode, Classes classes) {
  if (mode < 0 || mode > 2 || (mode != 0 && !SoftBlendTablesBuilt())) return nullptr;
  switch (level) {
    case 2: return Alpha16RowAvx2(mode, classes);
    case 1: return Alpha16RowSse41(mode, classes);
    default: return nullptr;
  }
}

RowFn Alpha16Row(int mode, Classes classes) { return Alpha16RowFor(SoftKernelLevel(), mode, classes); }

MaskedRowFn Alpha16MaskedRow(int mode) {
  if (mode < 0 || mode > 2 || (mode != 0 && !SoftBlendTablesBuilt())) return nullptr;
  switch (SoftKernelLevel()) {
    case 2: return Alpha16MaskedRowAvx2(mode);
    case 1: return Alpha16MaskedRowSse41(mode);
    default: return nullptr;
  }
}

MaskedRowsFn Alpha16MaskedRows(int mode) {
  if (mode < 0 || mode > 2 || (mode != 0 && !SoftBlendTablesBuilt())) return nullptr;
  switch (SoftKernelLevel()) {
    case 2: return Alpha16MaskedRowsAvx2(mode);
    case 1: return Alpha16MaskedRowsSse41(mode);
    default: return nullptr;
  }
}

}  // namespace alpharows

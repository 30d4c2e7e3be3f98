// lib/softrender/soft_simd_level.h - which vector forms the memory-image
// kernels use: the widest the processor has, no wider than RORUD_SPAN_LEVEL
// (0 the scalar kernels, 1 SSE4.1, 2 AVX2) or a test's setting. Every vector
// form draws exactly what the scalar kernel draws.
#pragma once

// The processor's level capped by RORUD_SPAN_LEVEL, read once.
int MaxSoftKernelLevel();
// Caps the level further (a negative level: back to the maximum).
void SetSoftKernelLevel(int level);
// The level the kernels use now.
int SoftKernelLevel();

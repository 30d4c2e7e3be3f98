// lib/core/math3d.h - matrices, vectors and the integer rectangle clip.
//
// Conventions (those of the Direct3D 9 camera code): a matrix is 16 floats,
// row-major, element (r, c) at m[4r + c]; points are row vectors multiplied
// from the left (v x M), so the translation sits in the fourth row; view and
// projection are left-handed with depth 0 to 1. Aspect ratios are height /
// width; a negative aspect means "the draw screen's".
#pragma once

#include <cstdint>

#include "rorud/rorud.h"  // Matrix4


struct Vector3 {
  float x, y, z;
};

// Right and bottom are exclusive.
struct IntRect {
  int32_t left, top, right, bottom;
};

int CreateIdentityMatrix(Matrix4* out);
// out = a x b; out may be a or b; with out null nothing is stored. Returns 0.
int MultiplyMatrix(Matrix4* out, const Matrix4* a, const Matrix4* b);
// out may be in. Returns 0.
int TransposeMatrix(Matrix4* out, const Matrix4* in);
// out = adjugate / determinant. Returns -1 and leaves out unchanged when the
// determinant lies strictly between -1e-7 and 1e-7; out may be in.
int InverseMatrix(Matrix4* out, const Matrix4* in);
// Left-handed perspective; fov is the vertical field of view in radians.
// -1 (out unchanged) when far and near nearly coincide or fov is near 0.
int CreatePerspectiveMatrix(Matrix4* out, float fov, float near_z, float far_z, float aspect);
// Left-handed orthographic projection; size is the view volume's height.
// -1 (out unchanged) when near and far nearly coincide.
int CreateOrthoMatrix(Matrix4* out, float size, float near_z, float far_z, float aspect);
// Maps clip space x, y in -1..1 onto a width x height area centred on x, y
// (y pointing down).
int CreateViewportMatrix(Matrix4* out, float x, float y, float width, float height);
// Left-handed view matrix looking from eye at target.
int CreateLookAtMatrix(Matrix4* out, const Vector3* eye, const Vector3* target, const Vector3* up);

float VectorDot(const Vector3* a, const Vector3* b);
// out = (in, 1) x matrix; the fourth column is ignored. out may be in.
int TransformVector(Vector3* out, const Vector3* in, const Matrix4* matrix);
// out = in / |in| (a zero vector gives NaNs). out may be in.
int NormalizeVector(Vector3* out, const Vector3* in);
Vector3* NormalizeVectorXYZ(Vector3* out, float x, float y, float z);

// Clips rect to clip in place: a reversed rectangle first becomes empty, then
// bottom and top are clamped into clip.top..clip.bottom and right and left
// into clip.left..clip.right. A rectangle outside clip ends empty (width or
// height 0, never negative). Returns 0.
int ClipRect(IntRect* rect, const IntRect* clip);

// x raised to y, by the runtime's pow (declared with the numeric helpers).
double PowFloat(float x, float y);

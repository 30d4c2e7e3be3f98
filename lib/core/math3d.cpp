// lib/core/math3d.cpp - matrices, vectors and the rectangle clip.
#include "lib/core/math3d.h"

#include <cmath>
#include <cstring>

#include "lib/core/number_helpers.h"
#include "rorud/rorud.h"


namespace {

constexpr Matrix4 kIdentity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

float ResolveAspect(float aspect) {
  if (!(aspect < 0.0f)) return aspect;
  int width = 640, height = 480;
  GetScreenSize(&width, &height);
  if (width <= 0 || height <= 0) return 480.0f / 640.0f;
  return static_cast<float>(height) / static_cast<float>(width);
}

Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vector3 Normalized(const Vector3& v) {
  const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x / length, v.y / length, v.z / length};
}

float Dot(const Vector3& a, const Vector3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

int CreateIdentityMatrix(Matrix4* out) {
  *out = kIdentity;
  return 0;
}

int MultiplyMatrix(Matrix4* out, const Matrix4* a, const Matrix4* b) {
  Matrix4 product;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      product.m[4 * r + c] = a->m[4 * r + 0] * b->m[c] + a->m[4 * r + 1] * b->m[4 + c] +
                             a->m[4 * r + 2] * b->m[8 + c] + a->m[4 * r + 3] * b->m[12 + c];
    }
  }
  if (out != nullptr) *out = product;
  return 0;
}

int TransposeMatrix(Matrix4* out, const Matrix4* in) {
  Matrix4 t;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) t.m[4 * c + r] = in->m[4 * r + c];
  }
  *out = t;
  return 0;
}

int InverseMatrix(Matrix4* out, const Matrix4* in) {
  const float* m = in->m;
  // Cofactors through the 2 x 2 minors of the upper and lower row pairs.
  const float s0 = m[0] * m[5] - m[4] * m[1];
  const float s1 = m[0] * m[6] - m[4] * m[2];
  const float s2 = m[0] * m[7] - m[4] * m[3];
  const float s3 = m[1] * m[6] - m[5] * m[2];
  const float s4 = m[1] * m[7] - m[5] * m[3];
  const float s5 = m[2] * m[7] - m[6] * m[3];
  const float c5 = m[10] * m[15] - m[14] * m[11];
  const float c4 = m[9] * m[15] - m[13] * m[11];
  const float c3 = m[9] * m[14] - m[13] * m[10];
  const float c2 = m[8] * m[15] - m[12] * m[11];
  const float c1 = m[8] * m[14] - m[12] * m[10];
  const float c0 = m[8] * m[13] - m[12] * m[9];
  const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (det > -1e-7f && det < 1e-7f) return -1;
  const float inv = 1.0f / det;
  Matrix4 r;
  r.m[0] = (m[5] * c5 - m[6] * c4 + m[7] * c3) * inv;
  r.m[1] = (-m[1] * c5 + m[2] * c4 - m[3] * c3) * inv;
  r.m[2] = (m[13] * s5 - m[14] * s4 + m[15] * s3) * inv;
  r.m[3] = (-m[9] * s5 + m[10] * s4 - m[11] * s3) * inv;
  r.m[4] = (-m[4] * c5 + m[6] * c2 - m[7] * c1) * inv;
  r.m[5] = (m[0] * c5 - m[2] * c2 + m[3] * c1) * inv;
  r.m[6] = (-m[12] * s5 + m[14] * s2 - m[15] * s1) * inv;
  r.m[7] = (m[8] * s5 - m[10] * s2 + m[11] * s1) * inv;
  r.m[8] = (m[4] * c4 - m[5] * c2 + m[7] * c0) * inv;
  r.m[9] = (-m[0] * c4 + m[1] * c2 - m[3] * c0) * inv;
  r.m[10] = (m[12] * s4 - m[13] * s2 + m[15] * s0) * inv;
  r.m[11] = (-m[8] * s4 + m[9] * s2 - m[11] * s0) * inv;
  r.m[12] = (-m[4] * c3 + m[5] * c1 - m[6] * c0) * inv;
  r.m[13] = (m[0] * c3 - m[1] * c1 + m[2] * c0) * inv;
  r.m[14] = (-m[12] * s3 + m[13] * s1 - m[14] * s0) * inv;
  r.m[15] = (m[8] * s3 - m[9] * s1 + m[10] * s0) * inv;
  *out = r;
  return 0;
}

int CreatePerspectiveMatrix(Matrix4* out, float fov, float near_z, float far_z, float aspect) {
  aspect = ResolveAspect(aspect);
  float sn, cs;
  SinCosF(fov / 2.0f, &sn, &cs);
  if (std::fabs(far_z - near_z) < 0.0001f || std::fabs(sn) < 0.0001f) return -1;
  const float cot = cs / sn;
  Matrix4 r = {};
  r.m[0] = aspect * cot;
  r.m[5] = cot;
  r.m[10] = far_z / (far_z - near_z);
  r.m[11] = 1.0f;
  r.m[14] = -near_z * far_z / (far_z - near_z);
  r.m[15] = 0.0f;
  *out = r;
  return 0;
}

int CreateOrthoMatrix(Matrix4* out, float size, float near_z, float far_z, float aspect) {
  aspect = ResolveAspect(aspect);
  if (std::fabs(near_z - far_z) < 0.0001f) return -1;
  const float width = size / aspect;
  Matrix4 r = {};
  r.m[0] = 2.0f / width;
  r.m[5] = 2.0f / size;
  r.m[10] = 1.0f / (far_z - near_z);
  r.m[14] = near_z / (near_z - far_z);
  r.m[15] = 1.0f;
  *out = r;
  return 0;
}

int CreateViewportMatrix(Matrix4* out, float x, float y, float width, float height) {
  Matrix4 r = {};
  r.m[0] = width / 2.0f;
  r.m[5] = -height / 2.0f;
  r.m[10] = 1.0f;
  r.m[15] = 1.0f;
  r.m[12] = x;
  r.m[13] = y;
  r.m[14] = 0.0f;
  *out = r;
  return 0;
}

int CreateLookAtMatrix(Matrix4* out, const Vector3* eye, const Vector3* target, const Vector3* up) {
  const Vector3 d0 = {target->x - eye->x, target->y - eye->y, target->z - eye->z};
  const Vector3 s0 = Cross(*up, d0);
  const Vector3 u0 = Cross(d0, s0);
  const Vector3 s = Normalized(s0), u = Normalized(u0), d = Normalized(d0);
  Matrix4 r = {{s.x, u.x, d.x, 0.0f,  //
                s.y, u.y, d.y, 0.0f,  //
                s.z, u.z, d.z, 0.0f,  //
                -Dot(s, *eye), -Dot(u, *eye), -Dot(d, *eye), 1.0f}};
  *out = r;
  return 0;
}

float VectorDot(const Vector3* a, const Vector3* b) { return Dot(*a, *b); }

int TransformVector(Vector3* out, const Vector3* in, const Matrix4* matrix) {
  const float* m = matrix->m;
  const Vector3 v = *in;
  out->x = v.x * m[0] + v.y * m[4] + v.z * m[8] + m[12];
  out->y = v.x * m[1] + v.y * m[5] + v.z * m[9] + m[13];
  out->z = v.x * m[2] + v.y * m[6] + v.z * m[10] + m[14];
  return 0;
}

int NormalizeVector(Vector3* out, const Vector3* in) {
  *out = Normalized(*in);
  return 0;
}

Vector3* NormalizeVectorXYZ(Vector3* out, float x, float y, float z) {
  *out = Normalized(Vector3{x, y, z});
  return out;
}

int ClipRect(IntRect* rect, const IntRect* clip) {
  if (rect->right < rect->left) rect->right = rect->left;
  if (rect->bottom < rect->top) rect->bottom = rect->top;
  auto clamp = [](int32_t& v, int32_t low, int32_t high) {
    if (v > high) v = high;
    if (v < low) v = low;
  };
  clamp(rect->bottom, clip->top, clip->bottom);
  clamp(rect->top, clip->top, clip->bottom);
  clamp(rect->right, clip->left, clip->right);
  clamp(rect->left, clip->left, clip->right);
  return 0;
}

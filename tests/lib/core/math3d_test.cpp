#include "lib/core/math3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

Matrix4 RandomMatrix(std::mt19937& rng) {
  std::uniform_real_distribution<float> dist(-3.0f, 3.0f);
  Matrix4 m;
  for (float& v : m.m) v = dist(rng);
  return m;
}

// Plain triple loop, row-major, for comparison.
Matrix4 Reference(const Matrix4& a, const Matrix4& b) {
  Matrix4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[4 * i + j] += a.m[4 * i + k] * b.m[4 * k + j];
  return r;
}

void ExpectNear(const Matrix4& a, const Matrix4& b, float tolerance) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tolerance) << "element " << i;
}

TEST(Matrix, MultiplyInPlaceAndNull) {
  std::mt19937 rng(3);
  Matrix4 a = RandomMatrix(rng), b = RandomMatrix(rng);
  const Matrix4 expected = Reference(a, b);
  Matrix4 a_copy = a;
  EXPECT_EQ(MultiplyMatrix(&a_copy, &a_copy, &b), 0);
  ExpectNear(a_copy, expected, 1e-4f);
  Matrix4 b_copy = b;
  MultiplyMatrix(&b_copy, &a, &b_copy);
  ExpectNear(b_copy, expected, 1e-4f);
  EXPECT_EQ(MultiplyMatrix(nullptr, &a, &b), 0);
  Matrix4 id;
  CreateIdentityMatrix(&id);
  Matrix4 t;
  TransposeMatrix(&t, &a);
  TransposeMatrix(&t, &t);
  ExpectNear(t, a, 0.0f);
  MultiplyMatrix(&t, &a, &id);
  ExpectNear(t, a, 0.0f);
}

TEST(Matrix, InverseAndSingular) {
  std::mt19937 rng(5);
  Matrix4 id;
  CreateIdentityMatrix(&id);
  for (int n = 0; n < 50; ++n) {
    Matrix4 a = RandomMatrix(rng), inv, product;
    ASSERT_EQ(InverseMatrix(&inv, &a), 0);
    MultiplyMatrix(&product, &a, &inv);
    ExpectNear(product, id, 2e-3f);
  }
  Matrix4 nearly_singular = id;
  nearly_singular.m[0] = 5e-8f;
  Matrix4 out = id;
  out.m[3] = 42.0f;
  const Matrix4 before = out;
  EXPECT_EQ(InverseMatrix(&out, &nearly_singular), -1);
  ExpectNear(out, before, 0.0f);
  Matrix4 scaled = id;
  scaled.m[0] = 2e-7f;
  EXPECT_EQ(InverseMatrix(&out, &scaled), 0);
  EXPECT_FLOAT_EQ(out.m[0], 1.0f / 2e-7f);
}

TEST(Projection, PerspectiveAndRefusals) {
  Matrix4 m, before;
  CreateIdentityMatrix(&m);
  before = m;
  EXPECT_EQ(CreatePerspectiveMatrix(&m, 1.0f, 1.0f, 1.00005f, 0.75f), -1);
  EXPECT_EQ(CreatePerspectiveMatrix(&m, 0.0f, 1.0f, 100.0f, 0.75f), -1);
  ExpectNear(m, before, 0.0f);
  const float fov = 3.14159265f / 4.0f;
  ASSERT_EQ(CreatePerspectiveMatrix(&m, fov, 1.0f, 101.0f, 0.75f), 0);
  const float cot = std::cos(fov / 2) / std::sin(fov / 2);
  EXPECT_NEAR(m.m[0], 0.75f * cot, 1e-5f);
  EXPECT_NEAR(m.m[5], cot, 1e-5f);
  EXPECT_FLOAT_EQ(m.m[10], 101.0f / 100.0f);
  EXPECT_FLOAT_EQ(m.m[11], 1.0f);
  EXPECT_FLOAT_EQ(m.m[14], -101.0f / 100.0f);
  EXPECT_FLOAT_EQ(m.m[15], 0.0f);
  // A negative aspect takes the screen's height / width (640 x 480 here).
  Matrix4 screen;
  ASSERT_EQ(CreatePerspectiveMatrix(&screen, fov, 1.0f, 101.0f, -1.0f), 0);
  EXPECT_FLOAT_EQ(screen.m[0], m.m[0]);
  // An aspect of 0 is used as it is.
  ASSERT_EQ(CreatePerspectiveMatrix(&screen, fov, 1.0f, 101.0f, 0.0f), 0);
  EXPECT_FLOAT_EQ(screen.m[0], 0.0f);
}

TEST(Projection, OrthoMapsVolumeToUnitCube) {
  Matrix4 m;
  EXPECT_EQ(CreateOrthoMatrix(&m, 480.0f, 5.0f, 5.00001f, 0.75f), -1);
  ASSERT_EQ(CreateOrthoMatrix(&m, 480.0f, 10.0f, 110.0f, 0.75f), 0);
  Vector3 corner{320.0f, 240.0f, 110.0f}, out;
  TransformVector(&out, &corner, &m);
  EXPECT_FLOAT_EQ(out.x, 1.0f);
  EXPECT_FLOAT_EQ(out.y, 1.0f);
  EXPECT_FLOAT_EQ(out.z, 1.0f);
  Vector3 near_point{0.0f, 0.0f, 10.0f};
  TransformVector(&out, &near_point, &m);
  EXPECT_NEAR(out.z, 0.0f, 1e-7f);
}

TEST(Projection, ViewportMapsClipCorners) {
  Matrix4 m;
  ASSERT_EQ(CreateViewportMatrix(&m, 0, 0, 640, 480), 0);
  Vector3 a{-1, 1, 0.25f}, b{1, -1, 0.5f}, out;
  TransformVector(&out, &a, &m);
  EXPECT_EQ(out.x, -320.0f);
  EXPECT_EQ(out.y, -240.0f);
  EXPECT_EQ(out.z, 0.25f);
  TransformVector(&out, &b, &m);
  EXPECT_EQ(out.x, 320.0f);
  EXPECT_EQ(out.y, 240.0f);
  EXPECT_EQ(out.z, 0.5f);
}

TEST(Vectors, LookAtPutsTargetOnPositiveZ) {
  Vector3 eye{1, 2, -10}, target{1, 2, 0}, up{0, 1, 0};
  Matrix4 view;
  ASSERT_EQ(CreateLookAtMatrix(&view, &eye, &target, &up), 0);
  Vector3 out;
  TransformVector(&out, &target, &view);
  EXPECT_NEAR(out.x, 0.0f, 1e-6f);
  EXPECT_NEAR(out.y, 0.0f, 1e-6f);
  EXPECT_NEAR(out.z, 10.0f, 1e-5f);
  Vector3 above{1, 3, 0};
  TransformVector(&out, &above, &view);
  EXPECT_NEAR(out.y, 1.0f, 1e-6f);  // up stays up
  Vector3 right{2, 2, 0};
  TransformVector(&out, &right, &view);
  EXPECT_NEAR(out.x, 1.0f, 1e-6f);  // left-handed: +x stays right
  Vector3 n;
  NormalizeVectorXYZ(&n, 3, 0, 4);
  EXPECT_FLOAT_EQ(n.x, 0.6f);
  EXPECT_FLOAT_EQ(n.z, 0.8f);
  NormalizeVector(&n, &n);
  EXPECT_FLOAT_EQ(VectorDot(&n, &n), 1.0f);
}

TEST(ClipRect, Examples) {
  const IntRect clip{0, 0, 40, 30};
  IntRect r{-10, -10, 50, 50};
  EXPECT_EQ(ClipRect(&r, &clip), 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 40);
  EXPECT_EQ(r.bottom, 30);
  r = {50, 5, 60, 8};
  ClipRect(&r, &clip);
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.top, 5);
  EXPECT_EQ(r.right, 40);
  EXPECT_EQ(r.bottom, 8);
  r = {20, 20, 10, -5};  // reversed: made empty, never negative
  ClipRect(&r, &clip);
  EXPECT_EQ(r.right - r.left, 0);
  EXPECT_EQ(r.bottom - r.top, 0);
}

}  // namespace

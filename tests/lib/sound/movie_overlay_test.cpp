// tests/lib/sound/movie_overlay_test.cpp - a 64 x 48 movie switched to
// overlay display: the rectangles handed to the overlay surface, worked out
// by hand for a client area of 640 x 480 at (100, 50) on the screen, when
// the movie is moved partly off it, aligned for a driver that asks for it,
// left where it was, hidden and closed.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "lib/sound/movie.h"
#include "lib/system/window_system.h"
#include "platform/d3d9/ddraw.h"
#include "tests/lib/sound/sound_fixture.h"
#include "tests/support/theora_writer.h"

namespace {

using plat::RECT;

class MovieOverlayTest : public soundtest::SoundFixture {
 protected:
  void SetUp() override {
    soundtest::SoundFixture::SetUp();
    saved_client_ = WindowState().client_rect_on_screen;
    WindowState().client_rect_on_screen = {100, 50, 740, 530};
    std::ofstream("overlay.ogg", std::ios::binary) << testsupport::MakeOggMovie(testsupport::MovieSpec{});
    handle_ = OpenMovie("overlay.ogg", nullptr, nullptr, 0);
    ASSERT_NE(handle_, -1);
    // Nothing in the library selects overlay display: switch it on here.
    MovieRecord* r = MovieHandleToRecord(handle_);
    ASSERT_EQ(plat::CreateOverlaySurface(r->width, r->height, &r->overlay), plat::D3D_OK);
    surface_ = r->overlay;
    surface_->AddRef();
    r->display_mode = 1;
    r->frame_delivered = 1;
  }
  void TearDown() override {
    if (handle_ != -1) CloseMovieHandle(handle_);
    if (surface_) surface_->Release();
    plat::SetDisplayDriverCaps(plat::DDCAPS{});
    WindowState().client_rect_on_screen = saved_client_;
    soundtest::SoundFixture::TearDown();
  }
  const std::vector<plat::OverlayUpdate>& Calls() const { return surface_->overlay_updates(); }
  // The last call showed the source at the destination.
  void ExpectShown(RECT source, RECT destination) const {
    ASSERT_FALSE(Calls().empty());
    const plat::OverlayUpdate& u = Calls().back();
    EXPECT_EQ(u.flags, plat::DDOVER_SHOW);
    EXPECT_TRUE(u.accepted);
    EXPECT_EQ(Text(u.source), Text(source));
    EXPECT_EQ(Text(u.destination), Text(destination));
  }
  void ExpectHidden() const {
    ASSERT_FALSE(Calls().empty());
    const plat::OverlayUpdate& u = Calls().back();
    EXPECT_EQ(u.flags, plat::DDOVER_HIDE);
    EXPECT_FALSE(u.has_source || u.has_destination);
    const MovieRecord* r = MovieHandleToRecord(handle_);
    EXPECT_EQ(Text(r->last_source), Text(RECT{}));
    EXPECT_EQ(Text(r->last_destination), Text(RECT{}));
  }
  static std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
  }
  int handle_ = -1;
  plat::DirectDrawSurface7* surface_ = nullptr;
  plat::Rect saved_client_{};
};

TEST_F(MovieOverlayTest, ClippedToTheClientAreaAndSkippedWhenUnchanged) {
  // Inside: twice the size, shifted by the client's place on the screen.
  EXPECT_EQ(UpdateMovieOverlay(10, 20, 2, handle_, 1), 0);
  ASSERT_EQ(Calls().size(), 1u);
  ExpectShown({0, 0, 64, 48}, {110, 70, 238, 166});
  EXPECT_EQ(UpdateMovieOverlay(10, 20, 2, handle_, 1), 0);
  EXPECT_EQ(Calls().size(), 1u);  // nothing changed: no call

  // Half off the left edge: 32 screen pixels cut are 16 source pixels.
  UpdateMovieOverlay(-32, 20, 2, handle_, 1);
  ExpectShown({16, 0, 64, 48}, {100, 70, 196, 166});
  // Off the bottom right corner: 88 and 66 screen pixels cut are 44 and 33.
  UpdateMovieOverlay(600, 450, 2, handle_, 1);
  ExpectShown({0, 0, 20, 15}, {700, 500, 740, 530});
  EXPECT_EQ(Calls().size(), 3u);
}

TEST_F(MovieOverlayTest, AlignedToTheDriversBoundariesAndSizes) {
  plat::SetDisplayDriverCaps({plat::DDCAPS_ALIGNBOUNDARYSRC | plat::DDCAPS_ALIGNSIZESRC |
                                  plat::DDCAPS_ALIGNBOUNDARYDEST | plat::DDCAPS_ALIGNSIZEDEST,
                              8, 4, 16, 8});
  // Clipped: source (27, 0, 64, 48), destination (100, 70, 137, 118). The
  // source left goes down to 24 (width 40, whole units of 4); the
  // destination left to 96, and its width 41 is cut to 40.
  UpdateMovieOverlay(-27, 20, 1, handle_, 1);
  ExpectShown({24, 0, 64, 48}, {96, 70, 136, 118});
}

TEST_F(MovieOverlayTest, HiddenOffScreenOnRequestAndAtTheClose) {
  UpdateMovieOverlay(10, 20, 1, handle_, 1);
  ExpectShown({0, 0, 64, 48}, {110, 70, 174, 118});
  UpdateMovieOverlay(-1000, 20, 1, handle_, 1);  // wholly off the client area
  ExpectHidden();
  UpdateMovieOverlay(10, 20, 0, handle_, 1);  // no scale: nothing to show
  ExpectHidden();
  // Back where it was shown: the hide forgot the rectangles, so it shows.
  UpdateMovieOverlay(10, 20, 1, handle_, 1);
  ExpectShown({0, 0, 64, 48}, {110, 70, 174, 118});
  UpdateMovieOverlay(10, 20, 1, handle_, 0);
  ExpectHidden();
  EXPECT_EQ(Calls().size(), 5u);

  // No frame delivered yet: the update does nothing.
  MovieHandleToRecord(handle_)->frame_delivered = 0;
  UpdateMovieOverlay(10, 20, 1, handle_, 1);
  EXPECT_EQ(Calls().size(), 5u);

  EXPECT_EQ(CloseMovieHandle(handle_), 0);
  handle_ = -1;
  ASSERT_EQ(Calls().size(), 6u);
  EXPECT_EQ(Calls().back().flags, plat::DDOVER_HIDE);
  for (const plat::OverlayUpdate& u : Calls()) EXPECT_TRUE(u.accepted);
}

}  // namespace

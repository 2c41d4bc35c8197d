// Where a framed window is asked to go so that its frame lands where it should, by gravity.
#include "winsys/x11_placement.h"

#include <gtest/gtest.h>

namespace {

struct OriginCase {
    const char* name;
    std::uint32_t gravity;
    POINT expected;  // for the frame's outer corner at 100, 200
};

class FrameOrigins : public ::testing::TestWithParam<OriginCase> {};

// Extents that differ on every side, so that each gravity's reference point shows.
TEST_P(FrameOrigins, PutTheGravitysReferencePointWhereTheFramesWouldBe) {
    const FrameExtents frame{.left = 1, .right = 3, .top = 20, .bottom = 5};
    const POINT at = FrameOrigin(GetParam().gravity, frame, 100, 200);
    EXPECT_EQ(at.x, GetParam().expected.x);
    EXPECT_EQ(at.y, GetParam().expected.y);
    // Without a frame every gravity asks for the place itself.
    const POINT bare = FrameOrigin(GetParam().gravity, {}, 100, 200);
    EXPECT_EQ(bare.x, 100);
    EXPECT_EQ(bare.y, 200);
}

INSTANTIATE_TEST_SUITE_P(
    Gravities, FrameOrigins,
    ::testing::Values(OriginCase{"NorthWest", XCB_GRAVITY_NORTH_WEST, {100, 200}},
                      OriginCase{"North", XCB_GRAVITY_NORTH, {102, 200}},
                      OriginCase{"NorthEast", XCB_GRAVITY_NORTH_EAST, {104, 200}},
                      OriginCase{"West", XCB_GRAVITY_WEST, {100, 212}},
                      OriginCase{"Center", XCB_GRAVITY_CENTER, {102, 212}},
                      OriginCase{"East", XCB_GRAVITY_EAST, {104, 212}},
                      OriginCase{"SouthWest", XCB_GRAVITY_SOUTH_WEST, {100, 225}},
                      OriginCase{"South", XCB_GRAVITY_SOUTH, {102, 225}},
                      OriginCase{"SouthEast", XCB_GRAVITY_SOUTH_EAST, {104, 225}},
                      // The inside stays where it is: the frame's corner plus its left and top.
                      OriginCase{"Static", XCB_GRAVITY_STATIC, {101, 220}},
                      // Not a gravity a window can ask to be placed by: as north-west.
                      OriginCase{"Unknown", 11, {100, 200}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Placement, OuterRectangleHoldsTheBorderAndTheFrame) {
    Placement p;
    p.x = 100;
    p.y = 200;
    p.width = 300;
    p.height = 150;
    p.border = 2;
    p.frame = {.left = 1, .right = 3, .top = 20, .bottom = 5};
    const RECT outer = p.Outer();
    EXPECT_EQ(outer.left, 97);
    EXPECT_EQ(outer.top, 178);
    EXPECT_EQ(outer.right, 405);
    EXPECT_EQ(outer.bottom, 357);
}

}  // namespace

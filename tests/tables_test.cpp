// The angle tables, checked to the last bit against known entries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/tables.h"

// The exact bits of a float, so a difference in the last place fails.
static uint32_t Bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

#define EXPECT_FLOAT_BITS(actual, expected) EXPECT_EQ(Bits(actual), Bits(static_cast<float>(expected)))

TEST(Tables, KnownEntriesAreBitExact)
{
    EXPECT_FLOAT_BITS(SinTable[0], 0.0);
    EXPECT_FLOAT_BITS(CosTable[0], 1.0);
    EXPECT_FLOAT_BITS(RCosTable[0], 1000.0);

    EXPECT_FLOAT_BITS(SinTable[240], 0.5);
    EXPECT_FLOAT_BITS(RCosTable[240], 1154.7005615234375);
    EXPECT_FLOAT_BITS(SinTable[2640], -0.5000001788139343);
    EXPECT_FLOAT_BITS(RCosTable[2640], 1154.70068359375);

    EXPECT_FLOAT_BITS(ViewHeight[0], 0.0);
    EXPECT_FLOAT_BITS(ViewHeight[1], 0.271828293800354);
    EXPECT_FLOAT_BITS(ViewHeight[14], 3.805595874786377);
    EXPECT_FLOAT_BITS(ViewHeight[99], 26.910999298095703);
}

TEST(Tables, QuarterTurnsComeFromTheSinglePrecisionAngle)
{
    // The angle is rounded to float before sin and cos: cos(720 steps) is a
    // tiny negative number, not 0, and 1000 / cos stays finite. Near a
    // quarter turn cos is the distance of the rounded angle from the true one:
    // float(pi / 2) = 1.57079637050628662109375 lies 4.3711390001862427e-8
    // past pi / 2, float(pi) 8.742278000372485e-8 past pi, and
    // float(3 pi / 2) = 4.7123889923095703125 1.1924880454806035e-8 past 3 pi / 2.
    const double past720 = 4.3711390001862427e-8;
    const double past1440 = 8.742278000372485e-8;
    const double past2160 = 1.1924880454806035e-8;
    EXPECT_FLOAT_BITS(CosTable[720], -past720);
    EXPECT_FLOAT_BITS(RCosTable[720], 1000.0 / -past720);
    EXPECT_FLOAT_BITS(SinTable[1440], -past1440);
    EXPECT_FLOAT_BITS(CosTable[2160], past2160);
    EXPECT_FLOAT_BITS(RCosTable[2160], 1000.0 / past2160);
    // The rounded figures everyone quotes for them.
    EXPECT_NEAR(RCosTable[720], -2.2877331e10, 1e4);
    EXPECT_NEAR(RCosTable[2160], 8.3858285e10, 1e4);
    for (int i = 0; i < AngleSteps; i++) {
        ASSERT_TRUE(std::isfinite(SinTable[i])) << i;
        ASSERT_TRUE(std::isfinite(CosTable[i])) << i;
        ASSERT_TRUE(std::isfinite(RCosTable[i])) << i;
    }
}

TEST(Tables, RenderedRaysStayWithinThirtyDegrees)
{
    // The ground renderer reads RCosTable only at 2640..2879 and 0..239.
    for (int i = 2640; i < AngleSteps; i++) {
        EXPECT_GE(RCosTable[i], 1000.0f);
        EXPECT_LE(RCosTable[i], 1154.70068359375f);
    }
    for (int i = 0; i < 240; i++) {
        EXPECT_GE(RCosTable[i], 1000.0f);
        EXPECT_LE(RCosTable[i], 1154.70068359375f);
    }
}

TEST(Tables, RebuildingWritesTheSameValues)
{
    float sine[AngleSteps], rcos[AngleSteps];
    std::memcpy(sine, SinTable, sizeof sine);
    std::memcpy(rcos, RCosTable, sizeof rcos);
    BuildTables();
    EXPECT_EQ(0, std::memcmp(sine, SinTable, sizeof sine));
    EXPECT_EQ(0, std::memcmp(rcos, RCosTable, sizeof rcos));
}

// The fast ground renderer: the plain renderer's arithmetic reorganised, not
// changed. It shares the plain renderer's checks and texel table (ground.h),
// so both read exactly the same texels and write exactly the same pixels,
// and differs in these ways:
//  - rows, not columns: every pixel of a row divides by the same k, and the
//    row's stores are contiguous;
//  - Dc / k and Ds / k without a division, through a split reciprocal of k
//    that rounds to the same double (ground_quotient.h); rows below the
//    table still divide;
//  - a vector stage that finds each pixel's texel table entry and texel,
//    and a scalar stage for what it leaves, with two dependent loads and a
//    store each (ground_rows.h, one file per instruction level);
//  - the texel table kept from one draw to the next in a compact form
//    (ground_texels.h).
// This file chooses the level and runs one draw: the rays, then the rows.
#include "render/fast/ground_fast.h"

#include <cstring>

namespace {

static_assert(OffMapSource <= static_cast<int>(GroundOnePitchLowMask), "every cell fits the packed one-pitch form");
static_assert(((OffMapSource << GroundRowsCellShift) | GroundRowsRowMask) <= static_cast<int>(GroundRowsLowMask),
              "every cell and row fits the packed rows form");

bool CpuRuns(int level)
{
#if defined(__x86_64__)
    switch (level) {
    case GroundPlain:
    case GroundSse2:
        return true;
    case GroundAvx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case GroundAvx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    default:
        return false;
    }
#else
    return level == GroundPlain;
#endif
}

GroundRowStage StageFor(int level)
{
#if defined(__x86_64__)
    switch (level) {
    case GroundAvx512:
        return GroundRowAvx512;
    case GroundAvx2:
        return GroundRowAvx2;
    default:
        return GroundRowSse2;
    }
#else
    (void)level;
    return nullptr;
#endif
}

// A row beyond the reciprocal table divides, exactly as the plain renderer,
// and writes its result as the vector stage does.
void DividedRow(const GroundRow& row, int64_t k)
{
    const double divisor = static_cast<double>(k);
    for (int c = 0; c < row.Width; ++c) {
        const int32_t gx = static_cast<int32_t>(row.X + row.DC[c] / divisor);
        const int32_t gy = static_cast<int32_t>(row.Y - row.DS[c] / divisor);
        const int32_t tx = gx >> 5;
        const int32_t ty = gy >> 5;
        const bool onMap = static_cast<uint32_t>(tx) < MapSize && static_cast<uint32_t>(ty) < MapSize;
        const uint32_t cell = onMap ? static_cast<uint32_t>(CellSource(tx, ty)) : OffMapSource;
        const uint32_t texel = static_cast<uint32_t>((gy & 31) * row.Pitch + (gx & 31));
        row.Packed[c] = (cell << row.CellShift) + static_cast<uint32_t>(gy & row.RowMask) + (texel << row.ColumnShift);
    }
}

}  // namespace

const char* GroundLevelName(int level)
{
    switch (level) {
    case GroundPlain:
        return "plain";
    case GroundSse2:
        return "sse2";
    case GroundAvx2:
        return "avx2";
    case GroundAvx512:
        return "avx512";
    default:
        return "?";
    }
}

int GroundLevelFromName(const char* name)
{
    for (int level = 0; level < GroundLevels; ++level)
        if (name && std::strcmp(name, GroundLevelName(level)) == 0)
            return level;
    return -1;
}

bool GroundLevelSupported(int level)
{
    return CpuRuns(level);
}

int GroundBestLevel()
{
    int best = GroundPlain;
    for (int level = GroundPlain; level < GroundLevels; ++level)
        if (CpuRuns(level))
            best = level;
    return best;
}

GroundRenderer::GroundRenderer() : LevelInUse(GroundBestLevel()) {}

bool GroundRenderer::SetLevel(int level)
{
    if (!CpuRuns(level))
        return false;
    LevelInUse = level;
    return true;
}

// Ray n (column counter ColumnBase + n) fills view column width - 1 - n.
void GroundRenderer::FormRays(double scale, int angle, int width)
{
#if defined(__x86_64__)
    if (LevelInUse == GroundAvx512) {
        GroundReachAvx512(scale, angle, width, RayX, RayY);
    } else
#endif
    {
        int a = angle - GroundFanOffset;
        int r = -GroundFanOffset;
        for (int n = 0; n < width; ++n, ++a, ++r) {
            a = WrapAngle(a);
            r = WrapAngle(r);
            RayX[width - 1 - n] = GroundReachX(scale, r, a);
            RayY[width - 1 - n] = GroundReachY(scale, r, a);
        }
    }
    for (int c = width; c % GroundColumnsPerStep != 0; ++c)
        RayX[c] = RayY[c] = 0.0;
}

void GroundRenderer::Draw(const World& world, BITMAP* view, float x, float y, int height, int angle, int horizon)
{
    const GroundRowStage stage = StageFor(LevelInUse);
    if (LevelInUse == GroundPlain || !stage) {
        world.DrawGround(view, x, y, height, angle, horizon);
        return;
    }

    GroundRows rows;
    if (!PrepareGround(world, view, x, y, height, angle, horizon, rows))
        return;
    if (rows.FirstRow >= rows.EndRow)
        return;  // the view is too short for any ground row

    // The set-up's wide loads and stores come with the AVX-512 level.
    Texels.Update(world, LevelInUse == GroundAvx512);
    if (Texels.Compact == GroundTexelCache::None) {
        // Texels too far apart for 32-bit offsets: the plain renderer reads
        // them as well as any.
        world.DrawGround(view, x, y, height, angle, horizon);
        return;
    }

    FormRays(ViewHeight[height], angle, view->w);
    GroundRow row;
    row.DC = RayX;
    row.DS = RayY;
    row.Width = view->w;
    row.X = x;
    row.Y = y;
    row.OnePitch = Texels.Compact == GroundTexelCache::OnePitch;
    if (row.OnePitch) {
        row.CellShift = 0;
        row.RowMask = 0;
        row.Pitch = Texels.Pitch;
        row.ColumnShift = GroundOnePitchColumnShift;
        row.LowMask = GroundOnePitchLowMask;
        row.Table = Texels.Start;
    } else {
        row.CellShift = GroundRowsCellShift;
        row.RowMask = GroundRowsRowMask;
        row.Pitch = 0;
        row.ColumnShift = GroundRowsColumnShift;
        row.LowMask = GroundRowsLowMask;
        row.Table = Texels.RowStart.data();
    }
    row.Base = Texels.Base;
    row.Dest = reinterpret_cast<uint16_t*>(view->line[0]) + (horizon + rows.FirstRow) * GroundRowPixels;

    GroundLeftover leftover;
    for (int64_t k = rows.FirstRow; k < rows.EndRow; ++k, row.Dest += GroundRowPixels) {
        row.Packed = Packed[k & 1];
        if (k <= GroundReciprocalRows) {
            row.High = Reciprocals.Entries[k].High;
            row.Low = Reciprocals.Entries[k].Low;
            stage(row, leftover);
        } else {
            // Rows this far down divide.
            GroundCopyLeftover(row, leftover);
            DividedRow(row, k);
            GroundCopyColumns(row, row.Packed, row.Dest, 0, row.Width);
        }
    }
    GroundCopyLeftover(row, leftover);
}

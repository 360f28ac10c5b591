// The fast ground renderer: the plain renderer's arithmetic reorganised, not
// changed. It shares the plain renderer's checks and texel table (ground.h),
// so both read exactly the same texels and write exactly the same pixels,
// and differs in these ways:
//  - rows, not columns: every pixel of a row divides by the same k, and the
//    row's stores are contiguous;
//  - Dc / k and Ds / k without a division, through a split reciprocal of k
//    that rounds to the same double (rows below the table still divide);
//  - a vector stage that finds each pixel's texel table entry and texel, and
//    copies sixteen at once where they lie close together in one frame; a
//    scalar stage for the rest, with two dependent loads and a store each;
//  - the texel table kept from one draw to the next, in a compact form of
//    32-bit distances, and rebuilt only when what it depends on changes;
//    frames of differing widths are copied side by side into 32 x 32
//    blocks before each draw, so that every frame's rows lie 64 bytes apart;
//  - the rows cut into chunks that a second thread helps draw.
#include "ground_fast.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "ground.h"
#include "ground_fast_kernels.h"
#include "ground_team.h"

namespace {

// Rays of the widest view the renderer accepts (ColumnBase 0), rounded up
// to whole vector steps.
constexpr int MaxColumns = GroundRowPixels;
static_assert(MaxColumns % GroundColumnsPerStep == 0, "the row buffers hold whole vector steps");
static_assert(MaxColumns / GroundColumnsPerStep <= GroundMaxSteps, "a row's leftover steps fit");
static_assert(OffMapSource <= static_cast<int>(GroundOnePitchLowMask), "every cell fits the packed one-pitch form");
static_assert(((OffMapSource << GroundRowsCellShift) | GroundRowsRowMask) <= static_cast<int>(GroundRowsLowMask),
              "every cell and row fits the packed rows form");

struct ReciprocalTable {
    GroundReciprocal Entries[GroundReciprocalRows + 1];

    ReciprocalTable()
    {
        Entries[0] = GroundReciprocal{0.0, 0.0};
        for (int k = 1; k <= GroundReciprocalRows; ++k) {
            const double reciprocal = 1.0 / k;
            // Veltkamp's split: `high` keeps the leading 26 significant bits
            // of 1 / k, so that its product with any float is exact.
            const double spread = reciprocal * 134217729.0;  // 2^27 + 1
            const double high = spread - (spread - reciprocal);
            // high * k is exact (26 + 11 bits) and near 1, so 1 - high * k is
            // exact too; one division rounds what remains of 1 / k.
            const double low = (1.0 - high * k) / k;
            Entries[k] = GroundReciprocal{high, low};
        }
    }
};

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

int StartingLevel()
{
    const char* forced = std::getenv("GROUNDVIEW_GROUND_LEVEL");
    if (forced) {
        const int level = GroundLevelFromName(forced);
        if (level >= 0 && CpuRuns(level))
            return level;
    }
    return GroundBestLevel();
}

std::atomic<int>& LevelInUse()
{
    static std::atomic<int> level{StartingLevel()};
    return level;
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

bool SameKeys(const MapCell* cells, const uint32_t* keys);

// The texel table of the World, kept from one draw to the next: it depends
// only on the tile images' places, the cells' tiles and frames and the low 8
// bits of the global frame, which change once a tick at most, while frames
// are drawn many times a tick. Each draw compares those and rebuilds the
// table when anything differs.
struct TexelTable {
    static constexpr uint32_t KeyBytes = 0xFF00FF00;  // little-endian: bytes 13 and 15

    bool Built = false;
    TileImages Images;
    int32_t GlobalFrame = 0;
    uint32_t CellKeys[MapSize * MapSize];  // CellKey of each cell, by CellSource
    TexelSources Sources;

    // The compact form: each entry as the distance of its first texel from
    // Base, in texels. OnePitch when every entry has the same pitch, below
    // GroundPitchLimit: Start holds the entries. Otherwise, with few frames
    // in use, the frames are copied side by side into Blocks before each
    // draw, 32 x 32 texels a block, and read from there in the one-pitch form
    // (BlockFrom holds where each block's texels come from). Otherwise Rows:
    // RowStart holds the first texel of each row of each entry, at
    // entry * 32 + row. None when the frames read in place spread over 1 GiB
    // or more, or a pitch is 2^20 or more.
    enum Form { None, OnePitch, Rows };
    Form Compact = None;
    bool UseBlocks = false;
    std::vector<TexelSource> BlockFrom;
    struct alignas(64) Block {
        uint16_t Texels[CellSize * CellSize];
    };
    std::vector<Block> Blocks;
    int32_t Pitch = 0;  // the one pitch, with OnePitch
    uintptr_t Base = 0;
    int32_t Start[OffMapSource + 1];
    std::vector<int32_t> RowStart;

    bool Matches(const World& world, const TileImages& images, bool wide) const
    {
        if (!Built || GlobalFrame != (world.AnimFrame & 0xFF) || !(Images == images))
            return false;
#if defined(__x86_64__)
        if (wide)
            return GroundSameKeysAvx512(&world.Cells[0][0], CellKeys, KeyBytes);
#endif
        (void)wide;
        return SameKeys(&world.Cells[0][0], CellKeys);
    }

    void Rebuild(const World& world, const TileImages& images)
    {
        Images = images;
        GlobalFrame = world.AnimFrame & 0xFF;
        const MapCell* cells = &world.Cells[0][0];
        for (int cell = 0; cell < MapSize * MapSize; ++cell)
            CellKeys[cell] = CellKey(cells[cell]);
        BuildTexelSources(world, images, Sources);
        Built = true;
        MakeCompact();
    }

    // The bytes of a cell that the table depends on: Frame and Tile, the
    // second and fourth of its last four, read as one word (cells lie in
    // order tx * 64 + ty, as the table's entries do).
    static uint32_t CellKey(const MapCell& cell)
    {
        static_assert(offsetof(MapCell, Frame) == 13 && offsetof(MapCell, Tile) == 15, "Frame and Tile in the last word");
        static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the key masks little-endian words");
        uint32_t word;
        std::memcpy(&word, reinterpret_cast<const char*>(&cell) + 12, sizeof word);
        return word & KeyBytes;
    }

    // Copies each block's frame into place: the texels are the images' own
    // as they are now. Rows that have not changed are not written, so that
    // the helper thread's copy of them stays good.
    void CopyBlocks(bool wide)
    {
        Block* block = Blocks.data();
        for (const TexelSource& from : BlockFrom) {
#if defined(__x86_64__)
            if (wide) {
                GroundCopyFrameAvx512(from.Texels, from.Pitch, (block++)->Texels);
                continue;
            }
#endif
            for (int row = 0; row < CellSize; ++row) {
                const uint16_t* texels = from.Texels + row * from.Pitch;
                uint16_t* to = block->Texels + row * CellSize;
                if (std::memcmp(to, texels, CellSize * sizeof(uint16_t)) != 0)
                    std::memcpy(to, texels, CellSize * sizeof(uint16_t));
            }
            ++block;
        }
    }

private:
    static constexpr size_t MaxBlocks = 64;

    // One block for each frame the entries use, when they use no more than
    // MaxBlocks; Start then counts from the first block.
    bool GatherBlocks()
    {
        BlockFrom.clear();
        int32_t blockOf[OffMapSource + 1];
        size_t block = 0;
        for (int entry = 0; entry <= OffMapSource; ++entry) {
            const TexelSource& source = Sources[entry];
            auto same = [&](size_t b) {
                return BlockFrom[b].Texels == source.Texels && BlockFrom[b].Pitch == source.Pitch;
            };
            // Neighbouring cells often show the same frame.
            if (block == BlockFrom.size() || !same(block)) {
                block = 0;
                while (block < BlockFrom.size() && !same(block))
                    ++block;
            }
            if (block == BlockFrom.size()) {
                if (block == MaxBlocks)
                    return false;
                BlockFrom.push_back(source);
            }
            blockOf[entry] = static_cast<int32_t>(block);
        }
        Blocks.resize(BlockFrom.size());
        for (int entry = 0; entry <= OffMapSource; ++entry)
            Start[entry] = blockOf[entry] * CellSize * CellSize;
        Base = reinterpret_cast<uintptr_t>(Blocks.data()->Texels);
        Pitch = CellSize;
        return true;
    }

    void MakeCompact()
    {
        Compact = None;
        UseBlocks = false;
        bool onePitch = true;
        int32_t widest = 0;
        uintptr_t lowest = reinterpret_cast<uintptr_t>(Sources[0].Texels);
        uintptr_t highest = lowest;
        for (const TexelSource& source : Sources) {
            onePitch = onePitch && source.Pitch == Sources[0].Pitch;
            widest = source.Pitch > widest ? source.Pitch : widest;
            const uintptr_t place = reinterpret_cast<uintptr_t>(source.Texels);
            lowest = place < lowest ? place : lowest;
            highest = place > highest ? place : highest;
        }
        // Read in place, Start + 31 * pitch + 31 stays below 2^31.
        const bool inPlace = highest - lowest < (uintptr_t{1} << 30) && widest < (1 << 20);
        if (inPlace && onePitch && widest < GroundPitchLimit) {
            SetStarts(lowest);
            Compact = OnePitch;
            return;
        }
        if (GatherBlocks()) {
            Compact = OnePitch;
            UseBlocks = true;
            return;
        }
        if (!inPlace)
            return;
        // Pitches that differ: joining row and pitch per pixel costs more
        // than one more table, 512 KiB, rebuilt with the rest.
        SetStarts(lowest);
        RowStart.resize(static_cast<size_t>(OffMapSource + 1) * CellSize);
        for (int entry = 0; entry <= OffMapSource; ++entry)
            for (int row = 0; row < CellSize; ++row)
                RowStart[entry * CellSize + row] = Start[entry] + row * Sources[entry].Pitch;
        Compact = Rows;
    }

    // Every entry as its distance from `lowest`, the lowest of them.
    void SetStarts(uintptr_t lowest)
    {
        for (int entry = 0; entry <= OffMapSource; ++entry)
            Start[entry] = static_cast<int32_t>((reinterpret_cast<uintptr_t>(Sources[entry].Texels) - lowest) / 2);
        Base = lowest;
        Pitch = Sources[0].Pitch;
    }
};

// Whether every cell's key is the one kept: 4096 cells, 16 bytes each.
bool SameKeys(const MapCell* cells, const uint32_t* keys)
{
#if defined(__x86_64__)
    // Four cells at a time: the last word of each, gathered by unpacking.
    static_assert(sizeof(MapCell) == 16, "a cell is one 16-byte vector");
    const __m128i keyBytes = _mm_set1_epi32(static_cast<int>(TexelTable::KeyBytes));
    __m128i differ = _mm_setzero_si128();
    for (int cell = 0; cell < MapSize * MapSize; cell += 4) {
        const __m128i* four = reinterpret_cast<const __m128i*>(cells + cell);
        const __m128i low = _mm_unpackhi_epi32(_mm_loadu_si128(four), _mm_loadu_si128(four + 1));
        const __m128i high = _mm_unpackhi_epi32(_mm_loadu_si128(four + 2), _mm_loadu_si128(four + 3));
        const __m128i words = _mm_unpackhi_epi64(low, high);
        const __m128i kept = _mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + cell));
        differ = _mm_or_si128(differ, _mm_xor_si128(_mm_and_si128(words, keyBytes), kept));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) == 0xFFFF;
#else
    uint32_t differ = 0;
    for (int cell = 0; cell < MapSize * MapSize; ++cell)
        differ |= TexelTable::CellKey(cells[cell]) ^ keys[cell];
    return differ == 0;
#endif
}

TexelTable& TableOfThisThread()
{
    thread_local std::unique_ptr<TexelTable> table;
    if (!table)
        table = std::make_unique<TexelTable>();
    return *table;
}

// The scalar stage for the rows that divide, as the row stages copy.
void CopyDividedRow(const GroundRow& row)
{
    GroundCopyColumns(row, row.Packed, row.Dest, 0, row.Width);
}

// The reach factors of every ray, by the view column the ray fills: ray n
// (column counter ColumnBase + n) fills column width - 1 - n.
void Reach(double scale, int angle, int width, double* reachX, double* reachY)
{
    int a = angle - GroundFanOffset;
    int r = -GroundFanOffset;
    for (int n = 0; n < width; ++n, ++a, ++r) {
        if (a < 0)
            a += AngleSteps;
        if (a > AngleSteps - 1)
            a -= AngleSteps;
        if (r < 0)
            r += AngleSteps;
        if (r > AngleSteps - 1)
            r -= AngleSteps;
        // Formed in double and rounded to float once, as in the plain renderer.
        reachX[width - 1 - n] = static_cast<float>(scale * RCosTable[r] * CosTable[a]);
        reachY[width - 1 - n] = static_cast<float>(scale * RCosTable[r] * SinTable[a]);
    }
}

// What the reach factors of a draw's rays depend on.
struct GroundRays {
    uint64_t Draw;  // numbers the draws
    double Scale;
    int Angle;
    int Width;
    bool Wide;  // at the AVX-512 level
};

std::atomic<uint64_t>& NextDraw()
{
    static std::atomic<uint64_t> draw{1};
    return draw;
}

// The reach factors of every ray, by the view column the ray fills, for the
// draw a thread is drawing. Each thread forms its own, once a draw, rather
// than reading the drawing thread's: reading them from another core's cache
// costs more than forming them. Columns past the width, up to a whole vector
// step, are zero and never stored.
struct ThreadRays {
    uint64_t Draw = 0;
    alignas(64) double X[MaxColumns];
    alignas(64) double Y[MaxColumns];

    void Form(const GroundRays& rays)
    {
        if (Draw == rays.Draw)
            return;
#if defined(__x86_64__)
        if (rays.Wide)
            GroundReachAvx512(CosTable, SinTable, RCosTable, rays.Scale, rays.Angle, rays.Width, X, Y);
        else
#endif
            Reach(rays.Scale, rays.Angle, rays.Width, X, Y);
        for (int c = rays.Width; c % GroundColumnsPerStep != 0; ++c)
            X[c] = Y[c] = 0.0;
        Draw = rays.Draw;
    }
};

// One draw, cut into chunks of rows for RunGroundChunks.
struct GroundJob {
    GroundRays Rays;
    GroundRow Row;  // everything but the rays and the row's own fields
    GroundRowStage Stage;
    int64_t FirstRow;
    int64_t EndRow;
    uint16_t* FirstDest;  // the view pixels of FirstRow
    int64_t ChunkRows;
};

// Rows a chunk has: enough that the scalar stage's last row, which nothing
// overlaps, is a small part of it, and at most MaxChunks chunks a draw.
constexpr int64_t ChunkRows = 8;
constexpr int64_t MaxChunks = 256;

void DrawGroundChunk(void* context, int chunk)
{
    const GroundJob& job = *static_cast<const GroundJob*>(context);
    const GroundReciprocal* reciprocals = GroundReciprocals();
    const int64_t first = job.FirstRow + chunk * job.ChunkRows;
    const int64_t end = std::min(job.EndRow, first + job.ChunkRows);
    // Rows alternate between two: the scalar stage copies one row's while
    // the next is being filled.
    alignas(64) uint32_t packed[2][MaxColumns];
    thread_local ThreadRays rays;
    rays.Form(job.Rays);
    GroundRow row = job.Row;
    row.DC = rays.X;
    row.DS = rays.Y;
    row.Dest = job.FirstDest + (first - job.FirstRow) * GroundRowPixels;
    GroundLeftover leftover;
    for (int64_t k = first; k < end; ++k, row.Dest += GroundRowPixels) {
        row.Packed = packed[k & 1];
        if (k <= GroundReciprocalRows) {
            row.High = reciprocals[k].High;
            row.Low = reciprocals[k].Low;
            job.Stage(row, leftover);
        } else {
            // Rows this far down divide.
            GroundCopyLeftover(row, leftover);
            DividedRow(row, k);
            CopyDividedRow(row);
        }
    }
    GroundCopyLeftover(row, leftover);
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
    static const int best = [] {
        int level = GroundPlain;
        for (int candidate = GroundPlain; candidate < GroundLevels; ++candidate)
            if (CpuRuns(candidate))
                level = candidate;
        return level;
    }();
    return best;
}

int GroundLevelInUse()
{
    return LevelInUse().load(std::memory_order_relaxed);
}

bool SetGroundLevel(int level)
{
    if (!CpuRuns(level))
        return false;
    LevelInUse().store(level, std::memory_order_relaxed);
    return true;
}

const GroundReciprocal* GroundReciprocals()
{
    static const ReciprocalTable table;
    return table.Entries;
}

void World::DrawGround(BITMAP* view, float x, float y, int height, int angle, int horizon)
{
    const int level = GroundLevelInUse();
    const GroundRowStage stage = StageFor(level);
    if (level == GroundPlain || !stage) {
        DrawGroundPlain(view, x, y, height, angle, horizon);
        return;
    }

    GroundRows rows;
    if (!PrepareGround(*this, view, x, y, height, angle, horizon, rows))
        return;
    if (rows.FirstRow >= rows.EndRow)
        return;  // the view is too short for any ground row

    TileImages images;
    InspectTiles(*this, images);
    TexelTable& table = TableOfThisThread();
    // The set-up's wide loads and stores come with the AVX-512 level.
    const bool wide = level == GroundAvx512;
    if (!table.Matches(*this, images, wide))
        table.Rebuild(*this, images);
    if (table.UseBlocks)
        table.CopyBlocks(wide);
    if (table.Compact == TexelTable::None) {
        // Texels too far apart for 32-bit offsets: the plain renderer reads
        // them as well as any.
        DrawGroundPlain(view, x, y, height, angle, horizon);
        return;
    }

    GroundRays rays;
    rays.Draw = NextDraw().fetch_add(1, std::memory_order_relaxed);
    rays.Scale = ViewHeight[height];
    rays.Angle = angle;
    rays.Width = view->w;
    rays.Wide = wide;
    GroundRow row;
    row.Width = rays.Width;
    row.X = x;
    row.Y = y;
    row.OnePitch = table.Compact == TexelTable::OnePitch;
    if (row.OnePitch) {
        row.CellShift = 0;
        row.RowMask = 0;
        row.Pitch = table.Pitch;
        row.ColumnShift = GroundOnePitchColumnShift;
        row.LowMask = GroundOnePitchLowMask;
        row.Table = table.Start;
    } else {
        row.CellShift = GroundRowsCellShift;
        row.RowMask = GroundRowsRowMask;
        row.Pitch = 0;
        row.ColumnShift = GroundRowsColumnShift;
        row.LowMask = GroundRowsLowMask;
        row.Table = table.RowStart.data();
    }
    row.Base = table.Base;
    GroundJob job;
    job.Rays = rays;
    job.Row = row;
    job.Stage = stage;
    job.FirstRow = rows.FirstRow;
    job.EndRow = rows.EndRow;
    job.FirstDest = reinterpret_cast<uint16_t*>(view->line[0]) + (horizon + rows.FirstRow) * GroundRowPixels;
    job.ChunkRows = std::max<int64_t>(ChunkRows, (rows.EndRow - rows.FirstRow + MaxChunks - 1) / MaxChunks);
    const int64_t chunks = (rows.EndRow - rows.FirstRow + job.ChunkRows - 1) / job.ChunkRows;
    RunGroundChunks(DrawGroundChunk, &job, static_cast<int>(chunks));
}

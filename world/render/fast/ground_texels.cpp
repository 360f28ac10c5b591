// The fast ground renderer's texel cache: when the texel table must be
// rebuilt, its compact forms, the blocks that give frames of differing
// widths one pitch, and the comparison of the cells' keys each draw makes.
#include "render/fast/ground_texels.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "render/fast/ground_rows.h"  // Required for: GroundPitchLimit

namespace {

constexpr size_t MaxBlocks = 64;

// The bytes of a cell that the table depends on: Frame and Tile, the second
// and fourth of its last four, read as one word (cells lie in order
// tx * 64 + ty, as the table's entries do).
uint32_t CellKey(const MapCell& cell)
{
    static_assert(offsetof(MapCell, Frame) == 13 && offsetof(MapCell, Tile) == 15, "Frame and Tile in the last word");
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the key masks little-endian words");
    uint32_t word;
    std::memcpy(&word, reinterpret_cast<const char*>(&cell) + 12, sizeof word);
    return word & GroundTexelCache::KeyBytes;
}

// Whether every cell's key is the one kept: 4096 cells, 16 bytes each.
bool SameKeys(const MapCell* cells, const uint32_t* keys)
{
#if defined(__x86_64__)
    // Four cells at a time: the last word of each, gathered by unpacking.
    static_assert(sizeof(MapCell) == 16, "a cell is one 16-byte vector");
    const __m128i keyBytes = _mm_set1_epi32(static_cast<int>(GroundTexelCache::KeyBytes));
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
        differ |= CellKey(cells[cell]) ^ keys[cell];
    return differ == 0;
#endif
}

#if defined(__x86_64__)

// GCC 12's AVX-512 headers build set1 from a deliberately undefined vector,
// which its own flow analysis then reports as maybe uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#define TEXELS_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma")))

// SameKeys with the AVX-512 level's wider loads.
TEXELS_AVX512 bool SameKeysAvx512(const MapCell* cells, const uint32_t* keys)
{
    // The last word of each of eight cells (two vectors of four), picked
    // out by one permute.
    const __m512i lastWords = _mm512_setr_epi32(3, 7, 11, 15, 19, 23, 27, 31, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i mask = _mm256_set1_epi32(static_cast<int>(GroundTexelCache::KeyBytes));
    const char* cell = reinterpret_cast<const char*>(cells);
    __m256i differ = _mm256_setzero_si256();
    for (int n = 0; n < MapSize * MapSize; n += 8, cell += 8 * sizeof(MapCell)) {
        const __m512i words = _mm512_permutex2var_epi32(_mm512_loadu_si512(cell), lastWords,
                                                        _mm512_loadu_si512(cell + 64));
        const __m256i kept = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keys + n));
        // differ | ((words & mask) ^ kept)
        differ = _mm256_or_si256(differ, _mm256_ternarylogic_epi32(_mm512_extracti64x4_epi64(words, 0), mask, kept, 0x6A));
    }
    return _mm256_testz_si256(differ, differ);
}

// One frame's 32 rows of 32 texels, `pitch` texels apart, into a block
// (64-byte aligned), writing only rows that differ.
TEXELS_AVX512 void CopyFrameAvx512(const uint16_t* from, int32_t pitch, uint16_t* block)
{
    for (int row = 0; row < CellSize; ++row) {
        const __m512i texels = _mm512_loadu_si512(from + row * pitch);
        uint16_t* to = block + row * CellSize;
        if (_mm512_cmpneq_epi16_mask(texels, _mm512_load_si512(to)) != 0)
            _mm512_store_si512(to, texels);
    }
}

#pragma GCC diagnostic pop

#endif

}  // namespace

void GroundTexelCache::Update(const World& world, bool wide)
{
    TileImages images;
    InspectTiles(world, images);
    if (!Matches(world, images, wide))
        Rebuild(world, images);
    if (UseBlocks)
        CopyBlocks(wide);
}

bool GroundTexelCache::Matches(const World& world, const TileImages& images, [[maybe_unused]] bool wide) const
{
    if (!Built || GlobalFrame != (world.AnimFrame & 0xFF) || !(Images == images))
        return false;
#if defined(__x86_64__)
    if (wide)
        return SameKeysAvx512(&world.Cells[0][0], CellKeys);
#endif
    return SameKeys(&world.Cells[0][0], CellKeys);
}

void GroundTexelCache::Rebuild(const World& world, const TileImages& images)
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

// Copies each block's frame into place: the texels are the images' own as
// they are now. Rows that have not changed, as between ticks none do, are
// only read.
void GroundTexelCache::CopyBlocks([[maybe_unused]] bool wide)
{
    Block* block = Blocks.data();
    for (const TexelSource& from : BlockFrom) {
#if defined(__x86_64__)
        if (wide) {
            CopyFrameAvx512(from.Texels, from.Pitch, (block++)->Texels);
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

// One block for each frame the entries use, when they use no more than
// MaxBlocks; Start then counts from the first block.
bool GroundTexelCache::GatherBlocks()
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

void GroundTexelCache::MakeCompact()
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
    // Pitches that differ: joining row and pitch per pixel costs more than
    // one more table, 512 KiB, rebuilt with the rest.
    SetStarts(lowest);
    RowStart.resize(static_cast<size_t>(OffMapSource + 1) * CellSize);
    for (int entry = 0; entry <= OffMapSource; ++entry)
        for (int row = 0; row < CellSize; ++row)
            RowStart[entry * CellSize + row] = Start[entry] + row * Sources[entry].Pitch;
    Compact = Rows;
}

// Every entry as its distance from `lowest`, the lowest of them.
void GroundTexelCache::SetStarts(uintptr_t lowest)
{
    for (int entry = 0; entry <= OffMapSource; ++entry)
        Start[entry] = static_cast<int32_t>((reinterpret_cast<uintptr_t>(Sources[entry].Texels) - lowest) / 2);
    Base = lowest;
    Pitch = Sources[0].Pitch;
}

// Tiled maps at full size: importing a 64 x 64 map that needs 100 tile
// images (read, composed and encoded as PNG, all in memory) and one of four
// layers composed in every cell, and exporting a board of 100 tile images as
// TMX and as JSON.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "board/board_file.h"
#include "core/world.h"
#include "tiled/tiled_map.h"

namespace {

namespace fs = std::filesystem;

constexpr char MapName[] = "town.tmx";

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// An atlas of 100 tiles of 32 x 32 and a 64 x 64 map that uses them all,
// one outside and 99 inside, every one animated by no other and unflipped.
void MakeTown()
{
    Image atlas{320, 320, std::vector<uint8_t>(320 * 320 * 4, 255), false};
    for (size_t i = 0; i < atlas.Rgba.size(); i += 4)
        atlas.Rgba[i] = uint8_t(i * 13 / 7), atlas.Rgba[i + 1] = uint8_t(i / 1280);
    WriteFile("atlas.png", EncodePng(atlas));
    std::string csv;
    for (int cell = 0; cell < MapSize * MapSize; cell++)
        csv += (cell ? "," : "") + std::to_string(cell % 99 + 2);
    const std::string map =
        "<map orientation=\"orthogonal\" width=\"64\" height=\"64\" tilewidth=\"32\" tileheight=\"32\">"
        "<properties><property name=\"outside_tile\" type=\"int\" value=\"1\"/></properties>"
        "<tileset firstgid=\"1\" name=\"town\" tilewidth=\"32\" tileheight=\"32\"><image source=\"atlas.png\"/></tileset>"
        "<layer name=\"ground\" width=\"64\" height=\"64\"><data encoding=\"csv\">" + csv + "</data></layer></map>";
    WriteFile(MapName, std::vector<uint8_t>(map.begin(), map.end()));
}

// A 64 x 64 map in four layers as map makers draw them: opaque ground,
// partly transparent tiles over it, a layer at half opacity and a flipped
// one; each cell composed from up to four tiles.
constexpr char LayeredName[] = "layers.tmx";

void MakeLayered()
{
    Image atlas{320, 64, std::vector<uint8_t>(320 * 64 * 4, 255), true};
    for (size_t i = 0; i < atlas.Rgba.size(); i += 4) {
        const size_t x = i / 4 % 320, y = i / 4 / 320;
        atlas.Rgba[i] = uint8_t(x * 7), atlas.Rgba[i + 1] = uint8_t(y * 4), atlas.Rgba[i + 2] = uint8_t(x + y);
        if (y >= 32)
            atlas.Rgba[i + 3] = uint8_t((x + y) % 3 ? 0 : x * 13);  // the second row: see-through
    }
    WriteFile("layers.png", EncodePng(atlas));
    std::string layers;
    const auto layer = [&](const char* name, const char* opacity, auto gid) {
        std::string csv;
        for (int y = 0; y < MapSize; y++)
            for (int x = 0; x < MapSize; x++)
                csv += (x + y ? "," : "") + std::to_string(gid(x, y));
        layers += std::string("<layer name=\"") + name + "\" width=\"64\" height=\"64\" opacity=\"" + opacity +
                  "\"><data encoding=\"csv\">" + csv + "</data></layer>";
    };
    layer("ground", "1", [](int x, int y) { return (x / 8 + y / 8) % 4 + 1; });
    layer("plants", "1", [](int x, int y) { return (x + y) % 3 ? 0 : 11 + x % 2; });
    layer("shade", "0.5", [](int x, int) { return x % 5 ? 0 : 5; });
    layer("signs", "1", [](int, int y) { return y % 7 ? 0u : 13u | GidFlipH; });
    const std::string map =
        "<map orientation=\"orthogonal\" width=\"64\" height=\"64\" tilewidth=\"32\" tileheight=\"32\" "
        "backgroundcolor=\"#203040\"><tileset firstgid=\"1\" name=\"parts\" tilewidth=\"32\" tileheight=\"32\">"
        "<image source=\"layers.png\"/></tileset>" + layers + "</map>";
    WriteFile(LayeredName, std::vector<uint8_t>(map.begin(), map.end()));
}

// Reads and composes `map` in memory; with `encode`, also makes the PNG
// files an import writes.
void Import(benchmark::State& state, const char* map, bool encode)
{
    for (auto _ : state) {
        TiledImport imported;
        Error error;
        if (!ImportTiledMap(map, "town", imported, error)) {
            state.SkipWithError(error.Message().c_str());
            break;
        }
        size_t bytes = 0;
        for (const TiledImport::NewImage& image : imported.Images)
            bytes += encode ? EncodePng(image.Pixels).size() : image.Pixels.Rgba.size();
        benchmark::DoNotOptimize(bytes);
    }
}

void Export(benchmark::State& state, const char* out)
{
    World world;
    if (world.LoadMap("town.brd") != 0) {
        state.SkipWithError(world.LastError().Message().c_str());
        return;
    }
    for (auto _ : state) {
        TiledExport exported;
        Error error;
        if (!ExportTiledMap(world, out, exported, error)) {
            state.SkipWithError(error.Message().c_str());
            break;
        }
        benchmark::DoNotOptimize(exported.Text.data());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Error error;
    if (!StartAllegroHeadless(error)) {
        std::fprintf(stderr, "tiled_bench: cannot start Allegro: %s\n", error.Message().c_str());
        return 1;
    }
    char directory[] = "/tmp/groundview-tiled-bench-XXXXXX";
    if (!mkdtemp(directory) || chdir(directory) != 0)
        return 1;
    MakeTown();
    // The board to export: the town imported, its images written.
    TiledImport imported;
    if (!ImportTiledMap(MapName, "town", imported, error)) {
        std::fprintf(stderr, "tiled_bench: %s\n", error.Message().c_str());
        return 1;
    }
    fs::create_directory("town");
    for (const TiledImport::NewImage& image : imported.Images)
        WriteFile(image.Name, EncodePng(image.Pixels));
    std::vector<uint8_t> board = {0, 5, 0, 0, 0};
    AppendBody(*imported.Map, board);
    WriteFile("town.brd", board);
    benchmark::AddCustomContext("map", "64 x 64 cells, " + std::to_string(imported.Map->TileCount) + " tile images");

    MakeLayered();
    TiledImport layered;
    if (!ImportTiledMap(LayeredName, "layers", layered, error)) {
        std::fprintf(stderr, "tiled_bench: %s\n", error.Message().c_str());
        return 1;
    }
    benchmark::AddCustomContext("four layers", std::to_string(layered.Map->TileCount) + " composed tile images");
    benchmark::RegisterBenchmark("ImportTiledMap", Import, MapName, true)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ImportTiledMap/four-layers", Import, LayeredName, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ImportTiledMap/four-layers+png", Import, LayeredName, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ExportTiledMap/tmx", Export, "out/town.tmx")->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ExportTiledMap/tmj", Export, "out/town.tmj")->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(directory);
    return 0;
}

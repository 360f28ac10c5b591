// Tiled maps at full size: importing a 64 x 64 map that needs 100 tile
// images (read, composed and encoded as PNG, all in memory) and exporting
// a board of 100 tile images as TMX and as JSON.
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

void Import(benchmark::State& state)
{
    for (auto _ : state) {
        TiledImport imported;
        Error error;
        if (!ImportTiledMap(MapName, "town", imported, error)) {
            state.SkipWithError(error.Message().c_str());
            break;
        }
        size_t bytes = 0;
        for (const TiledImport::NewImage& image : imported.Images)
            bytes += EncodePng(image.Pixels).size();
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

    benchmark::RegisterBenchmark("ImportTiledMap", Import)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ExportTiledMap/tmx", Export, "out/town.tmx")->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ExportTiledMap/tmj", Export, "out/town.tmj")->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(directory);
    return 0;
}

// A board written as a Tiled map: one tileset per tile image with its frames
// as tiles, one more per animation that cells of that tile show, one tile
// layer, and custom properties for all Tiled has no field for, the whole
// body among them, so that importing the map gives the board back.
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <sstream>

#include "board/board_file.h"
#include "core/bitmap.h"
#include "core/ticks.h"
#include "core/world.h"
#include "files/files.h"
#include "tiled/tiled_map.h"

namespace {

namespace fs = std::filesystem;

// One tileset of the export: a board tile's image, still or with one
// animation on its first tile.
struct Set {
    uint32_t FirstGid;
    BoardLook Look;
};

struct Picture {
    std::string Path;  // relative to the map
    int Width, Height, Columns, Count;
};

bool Printable(const char* name)
{
    for (const char* c = name; *c; c++)
        if (static_cast<unsigned char>(*c) < 32 || static_cast<unsigned char>(*c) > 126)
            return false;
    return true;
}

// The bitmap's pixels as RGBA, at least one 32 x 32 frame (black beyond).
Image FromBitmap(BITMAP* bitmap)
{
    const Image pixels = BitmapToImage(bitmap);
    Image image;
    image.Width = std::max(pixels.Width, int(CellSize));
    image.Height = std::max(pixels.Height, int(CellSize));
    image.Rgba.assign(size_t(image.Width) * size_t(image.Height) * 4, 0);
    for (size_t i = 3; i < image.Rgba.size(); i += 4)
        image.Rgba[i] = 255;
    const size_t row = size_t(pixels.Width) * 4;
    for (int y = 0; y < pixels.Height; y++)
        std::copy_n(pixels.Rgba.data() + size_t(y) * row, row, image.Rgba.data() + size_t(y) * size_t(image.Width) * 4);
    return image;
}

fs::path Absolute(const fs::path& path)
{
    std::error_code ignored;  // only an empty path fails: the working directory
    return fs::absolute(path.empty() ? fs::path(".") : path, ignored).lexically_normal();
}

std::string Relative(const std::string& target, const fs::path& dir)
{
    return Absolute(target).lexically_relative(Absolute(dir)).generic_string();
}

struct Property {
    const char* Name;
    const char* Type;
    std::string Text;
};

void XmlProperties(pugi::xml_node node, const std::vector<Property>& properties)
{
    pugi::xml_node list = node.append_child("properties");
    for (const Property& p : properties) {
        pugi::xml_node e = list.append_child("property");
        e.append_attribute("name") = p.Name;
        if (std::strcmp(p.Type, "string") != 0)
            e.append_attribute("type") = p.Type;
        e.append_attribute("value") = p.Text.c_str();
    }
}

nlohmann::json JsonProperties(const std::vector<Property>& properties)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Property& p : properties) {
        nlohmann::json value = p.Text;
        if (std::strcmp(p.Type, "int") == 0)
            value = std::stoll(p.Text);
        else if (std::strcmp(p.Type, "float") == 0)
            value = std::stod(p.Text);
        list.push_back({{"name", p.Name}, {"type", p.Type}, {"value", value}});
    }
    return list;
}

}  // namespace

static bool ExportWithin(const World& world, const std::string& outPath, TiledExport& out, Error& error);

bool ExportTiledMap(const World& world, const std::string& outPath, TiledExport& out, Error& error)
{
    try {
        return ExportWithin(world, outPath, out, error);
    } catch (const std::bad_alloc&) {
        error = Error{outPath, "out of memory while making the map"};
        return false;
    }
}

static bool ExportWithin(const World& world, const std::string& outPath, TiledExport& out, Error& error)
{
    const int count = world.TileCount;
    if (count < 1 || world.Tiles.size() != size_t(count)) {
        error = Error{outPath, "the board has no tile image to show"};
        return false;
    }
    const fs::path dir = fs::path(outPath).parent_path();
    const std::string stem = fs::path(outPath).stem().string();
    const bool json = LowerExtension(outPath) != "tmx";
    TiledExport result;

    // Each tile image as Tiled will see it: the file itself where Tiled
    // draws it as the board does, else a PNG of the bitmap beside the map.
    std::vector<Picture> pictures;
    std::vector<int> frames;
    for (int k = 0; k < count; k++) {
        BITMAP* bitmap = world.Tiles[size_t(k)].get();
        const char* name = world.TileNames[k];
        Image decoded;
        Error ignored;
        Picture picture;
        if (Printable(name) && (LowerExtension(name) == "png" || LowerExtension(name) == "bmp") &&
            DecodeImageFile(name, AllegroReaders(), decoded, ignored) && !decoded.HasAlpha && decoded.Width == bitmap->w &&
            decoded.Height == bitmap->h && bitmap->w >= CellSize && bitmap->h >= CellSize) {
            picture = {Relative(HostPath(name), dir), bitmap->w, bitmap->h, 0, 0};
        } else {
            char file[32];
            std::snprintf(file, sizeof file, "-tile%02d.png", k);
            const Image image = FromBitmap(bitmap);
            result.Images.push_back({(dir / (stem + file)).generic_string(), EncodePng(image)});
            picture = {stem + file, image.Width, image.Height, 0, 0};
        }
        picture.Columns = picture.Width / CellSize;
        picture.Count = picture.Columns * (picture.Height / CellSize);
        pictures.push_back(picture);
        frames.push_back(picture.Columns);
    }

    // Tilesets: every tile still, then each animation cells show.
    std::vector<Set> sets;
    uint32_t next = 1;
    for (int k = 0; k < count; k++) {
        sets.push_back({next, BoardLook{k, 0, 0}});
        next += uint32_t(pictures[size_t(k)].Count);
    }
    std::vector<uint32_t> gids(MapSize * MapSize);
    for (int ty = 0; ty < MapSize; ty++) {
        for (int tx = 0; tx < MapSize; tx++) {
            const BoardLook look = ExportedLook(world.Cells[tx][ty], count, frames);
            auto set = std::find_if(sets.begin(), sets.end(), [&](const Set& s) { return s.Look == look; });
            if (set == sets.end()) {
                sets.push_back({next, look});
                next += uint32_t(pictures[size_t(look.Tile)].Count);
                set = sets.end() - 1;
            }
            gids[size_t(ty * MapSize + tx)] = set->FirstGid;
        }
    }

    std::vector<uint8_t> body;
    AppendBody(world, body);
    std::vector<Property> mapProperties = {
        {PropOutsideTile, "int", std::to_string(sets[0].FirstGid)},
        {PropOutsideDelay, "int", std::to_string(world.AnimDelay)},
        {PropOutsideLastFrame, "int", std::to_string(world.AnimLastFrame)},
    };
    if (std::isfinite(world.ExtraFloat)) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", double(world.ExtraFloat));
        mapProperties.push_back({PropExtraFloat, "float", text});
    }
    if (world.SkyName[0] && Printable(world.SkyName))
        mapProperties.push_back({PropSky, "file", Relative(HostPath(world.SkyName), dir)});
    std::vector<uint8_t> packed;
    if (!DeflateZlib(body, packed, error)) {
        error.File = outPath;
        error.Reason = "the board's body: " + error.Reason;
        return false;
    }
    mapProperties.push_back({PropBoard, "string", EncodeBase64(packed)});

    std::string csv;
    for (int ty = 0; ty < MapSize; ty++) {
        csv += "\n";
        for (int tx = 0; tx < MapSize; tx++)
            csv += std::to_string(gids[size_t(ty * MapSize + tx)]) + (tx < MapSize - 1 || ty < MapSize - 1 ? "," : "");
    }
    csv += "\n";

    auto setName = [&](const Set& s) {
        const char* name = world.TileNames[s.Look.Tile];
        std::string text = "tile " + std::to_string(s.Look.Tile) + (Printable(name) ? std::string(": ") + name : "");
        if (s.Look.LastFrame)
            text += " (frames 0.." + std::to_string(s.Look.LastFrame) + ", " + std::to_string(s.Look.Delay + 1) + " ticks each)";
        return text;
    };

    if (!json) {
        pugi::xml_document xml;
        pugi::xml_node decl = xml.append_child(pugi::node_declaration);
        decl.append_attribute("version") = "1.0";
        decl.append_attribute("encoding") = "UTF-8";
        pugi::xml_node map = xml.append_child("map");
        map.append_attribute("version") = "1.8";
        map.append_attribute("orientation") = "orthogonal";
        map.append_attribute("renderorder") = "right-down";
        map.append_attribute("width") = MapSize;
        map.append_attribute("height") = MapSize;
        map.append_attribute("tilewidth") = CellSize;
        map.append_attribute("tileheight") = CellSize;
        map.append_attribute("infinite") = 0;
        map.append_attribute("nextlayerid") = 2;
        map.append_attribute("nextobjectid") = 1;
        XmlProperties(map, mapProperties);
        for (const Set& s : sets) {
            const Picture& p = pictures[size_t(s.Look.Tile)];
            pugi::xml_node set = map.append_child("tileset");
            set.append_attribute("firstgid") = s.FirstGid;
            set.append_attribute("name") = setName(s).c_str();
            set.append_attribute("tilewidth") = CellSize;
            set.append_attribute("tileheight") = CellSize;
            set.append_attribute("tilecount") = p.Count;
            set.append_attribute("columns") = p.Columns;
            XmlProperties(set, {{PropTile, "int", std::to_string(s.Look.Tile)}});
            pugi::xml_node image = set.append_child("image");
            image.append_attribute("source") = p.Path.c_str();
            image.append_attribute("width") = p.Width;
            image.append_attribute("height") = p.Height;
            if (s.Look.LastFrame) {
                pugi::xml_node tile = set.append_child("tile");
                tile.append_attribute("id") = 0;
                pugi::xml_node animation = tile.append_child("animation");
                for (int f = 0; f <= s.Look.LastFrame; f++) {
                    pugi::xml_node frame = animation.append_child("frame");
                    frame.append_attribute("tileid") = f;
                    frame.append_attribute("duration") = FrameMilliseconds(s.Look.Delay + 1);
                }
            }
        }
        pugi::xml_node layer = map.append_child("layer");
        layer.append_attribute("id") = 1;
        layer.append_attribute("name") = "ground";
        layer.append_attribute("width") = MapSize;
        layer.append_attribute("height") = MapSize;
        pugi::xml_node data = layer.append_child("data");
        data.append_attribute("encoding") = "csv";
        data.text() = csv.c_str();
        std::ostringstream text;
        xml.save(text, " ");
        result.Text = text.str();
    } else {
        nlohmann::json map = {{"type", "map"}, {"version", "1.8"}, {"orientation", "orthogonal"},
                              {"renderorder", "right-down"}, {"width", MapSize}, {"height", MapSize},
                              {"tilewidth", CellSize}, {"tileheight", CellSize}, {"infinite", false},
                              {"nextlayerid", 2}, {"nextobjectid", 1}, {"compressionlevel", -1}};
        map["properties"] = JsonProperties(mapProperties);
        map["tilesets"] = nlohmann::json::array();
        for (const Set& s : sets) {
            const Picture& p = pictures[size_t(s.Look.Tile)];
            nlohmann::json set = {{"firstgid", s.FirstGid}, {"name", setName(s)}, {"tilewidth", CellSize},
                                  {"tileheight", CellSize}, {"tilecount", p.Count}, {"columns", p.Columns},
                                  {"image", p.Path}, {"imagewidth", p.Width}, {"imageheight", p.Height},
                                  {"margin", 0}, {"spacing", 0}};
            set["properties"] = JsonProperties({{PropTile, "int", std::to_string(s.Look.Tile)}});
            if (s.Look.LastFrame) {
                nlohmann::json animation = nlohmann::json::array();
                for (int f = 0; f <= s.Look.LastFrame; f++)
                    animation.push_back({{"tileid", f}, {"duration", FrameMilliseconds(s.Look.Delay + 1)}});
                set["tiles"] = nlohmann::json::array({{{"id", 0}, {"animation", animation}}});
            }
            map["tilesets"].push_back(set);
        }
        map["layers"] = nlohmann::json::array(
            {{{"type", "tilelayer"}, {"id", 1}, {"name", "ground"}, {"width", MapSize}, {"height", MapSize},
              {"x", 0}, {"y", 0}, {"opacity", 1}, {"visible", true}, {"data", gids}}});
        // Names come from the user; a byte that is not UTF-8 must not stop the export.
        result.Text = map.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    out = std::move(result);
    return true;
}

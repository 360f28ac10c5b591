// Reading Tiled maps, TMX with pugixml and JSON with nlohmann::json, into one
// TiledDocument: settings, tilesets with resolved paths, and the visible tile
// layers flattened into one 64 x 64 grid of gids.
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <new>
#include <limits>
#include <type_traits>

#include "files/files.h"  // Required for: ReadWholeFile()
#include "tiled/tiled_map.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int MaxGroupDepth = 32;  // deeper group layers are refused, not recursed into

// Failures inside the readers, thrown to the one catch in ParseTiledMap:
// the parsers below report from deep inside nested elements.
struct Refusal {
    Error error;
};

[[noreturn]] void Refuse(const std::string& file, const std::string& what)
{
    throw Refusal{Error{file, what}};
}

bool IsJsonName(const std::string& name)
{
    const std::string extension = LowerExtension(name);
    return extension == "tmj" || extension == "json" || extension == "tsj";
}

// `path` as named from inside `file`: relative to that file's directory,
// made a name relative to the working directory (or absolute).
std::string Resolve(const std::string& file, const std::string& path)
{
    if (path.empty() || fs::path(path).is_absolute())
        return path;
    return (fs::path(file).parent_path() / path).lexically_normal().generic_string();
}

// "#RRGGBB", "#AARRGGBB", with or without '#'.
bool ParseColour(std::string text, uint8_t rgb[3])
{
    if (!text.empty() && text[0] == '#')
        text.erase(0, 1);
    if (text.size() != 6 && text.size() != 8)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    const size_t skip = text.size() - 6;
    for (int i = 0; i < 3; i++)
        rgb[i] = static_cast<uint8_t>(std::stoul(text.substr(skip + 2 * size_t(i), 2), nullptr, 16));
    return true;
}

// A visible tile layer as read, before the window is cut from it: its
// chunks (one for a fixed map) in map cells.
struct RawChunk {
    int64_t X, Y, Width, Height;
    std::vector<uint32_t> Gids;
};
struct RawLayer {
    std::string Name;
    double Opacity = 1;
    uint8_t Tint[4] = {255, 255, 255, 255};
    std::vector<RawChunk> Chunks;
};

// What the layer readers gather, and what it costs so far.
struct Gathered {
    const TiledOptions& options;
    std::vector<RawLayer> layers;
    int64_t cells = 0;     // of every layer and chunk read, against MaxMapCells
    int64_t described = 0;  // tile images and frames of every tileset, against MaxDescribedTiles
    std::map<std::string, TiledTileset> external;  // each external tileset read once
};

constexpr int64_t MaxDescribedTiles = int64_t(1) << 20;
constexpr int64_t MaxCoordinate = int64_t(1) << 30;  // cells either side of 0

// A layer's or chunk's cells counted before its data is decoded.
void CountCells(const TiledDocument& doc, Gathered& got, const std::string& layer, int64_t cells)
{
    got.cells += cells;
    if (got.cells > MaxMapCells)
        Refuse(doc.FileName, "layer \"" + Clipped(layer) + "\" brings the map's cells to more than " +
                                 std::to_string(MaxMapCells) + ", the most a map may have");
}

void CheckChunk(const TiledDocument& doc, const std::string& layer, int64_t x, int64_t y, int64_t w, int64_t h)
{
    if (w <= 0 || h <= 0 || w > MaxCoordinate || h > MaxCoordinate || x < -MaxCoordinate || y < -MaxCoordinate ||
        x > MaxCoordinate || y > MaxCoordinate)
        Refuse(doc.FileName, "layer \"" + Clipped(layer) + "\" has a chunk at (" + std::to_string(x) + ", " +
                                 std::to_string(y) + ") of " + std::to_string(w) + " x " + std::to_string(h) +
                                 " cells; chunks lie within " + std::to_string(MaxCoordinate) + " cells of 0");
}

void CheckMap(TiledDocument& doc, const std::string& orientation)
{
    if (orientation != "orthogonal")
        Refuse(doc.FileName, "the map is " + Clipped(orientation) + "; only orthogonal maps are read");
    const int t = doc.TileWidth;
    if (t != doc.TileHeight || t <= 0 || t > MaxTileSize)
        Refuse(doc.FileName, "tiles of " + std::to_string(doc.TileWidth) + " x " + std::to_string(doc.TileHeight) +
                                 " pixels; a board takes square tiles of 1 to " + std::to_string(MaxTileSize) +
                                 " pixels, made 32 x 32");
    if (CellSize % t != 0 && t % CellSize != 0)
        doc.Warnings.push_back(doc.FileName + ": tiles of " + std::to_string(t) + " x " + std::to_string(t) +
                               " pixels are resampled to 32 x 32 by area averaging, which blurs their edges");
    if (!doc.Infinite && (doc.Width < 1 || doc.Height < 1 || doc.Width > MaxCoordinate || doc.Height > MaxCoordinate))
        Refuse(doc.FileName, "the map is " + std::to_string(doc.Width) + " x " + std::to_string(doc.Height) +
                                 " cells; a map has 1 to " + std::to_string(MaxCoordinate) + " cells a side");
}

// "#RRGGBB" or "#AARRGGBB" as RGBA; opaque without alpha.
bool ParseTint(std::string text, uint8_t rgba[4])
{
    if (!ParseColour(text, rgba))
        return false;
    if (!text.empty() && text[0] == '#')
        text.erase(0, 1);
    rgba[3] = text.size() == 8 ? static_cast<uint8_t>(std::stoul(text.substr(0, 2), nullptr, 16)) : 255;
    return true;
}

// A layer's opacity and tint taken into those of its groups.
RawLayer Within(const RawLayer& group, const std::string& name, double opacity, const std::string& tint)
{
    RawLayer layer;
    layer.Name = name;
    layer.Opacity = group.Opacity * (opacity >= 0 ? std::min(opacity, 1.0) : 0.0);  // NaN: not drawn
    uint8_t own[4] = {255, 255, 255, 255};
    ParseTint(tint, own);
    for (int c = 0; c < 4; c++)
        layer.Tint[c] = uint8_t((group.Tint[c] * own[c] + 127) / 255);
    return layer;
}

// The window taken from the layers read: the given region, else the map's
// own 64 x 64 cells, else the top left of its painted cells; each layer's
// cells inside it laid into the document.
void CutWindow(TiledDocument& doc, Gathered& got)
{
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    int64_t paintedX = INT64_MAX, paintedY = INT64_MAX;
    for (const RawLayer& layer : got.layers) {
        for (const RawChunk& chunk : layer.Chunks) {
            left = std::min(left, chunk.X), top = std::min(top, chunk.Y);
            right = std::max(right, chunk.X + chunk.Width), bottom = std::max(bottom, chunk.Y + chunk.Height);
            for (size_t k = 0; k < chunk.Gids.size(); k++) {
                if (chunk.Gids[k]) {
                    paintedX = std::min(paintedX, chunk.X + int64_t(k) % chunk.Width);
                    paintedY = std::min(paintedY, chunk.Y + int64_t(k) / chunk.Width);
                }
            }
        }
    }
    if (!doc.Infinite) {
        left = top = 0, right = doc.Width, bottom = doc.Height;
    } else if (left == INT64_MAX) {
        left = top = right = bottom = 0;
    }
    doc.AreaX = left, doc.AreaY = top, doc.AreaWidth = right - left, doc.AreaHeight = bottom - top;
    if (doc.Infinite)
        doc.Width = int(std::min<int64_t>(doc.AreaWidth, INT32_MAX)),
        doc.Height = int(std::min<int64_t>(doc.AreaHeight, INT32_MAX));
    const auto from = [](int64_t start, int64_t size, int64_t painted) {
        if (size <= MapSize)
            return start >= 0 && start + size <= MapSize ? int64_t(0) : start;
        // The window's top left on the first painted cell, but not so far
        // that it would leave the map while there are cells to take.
        return painted == INT64_MAX ? start : std::max(start, std::min(painted, start + size - MapSize));
    };
    if (got.options.HasRegion) {
        doc.WindowX = got.options.RegionX, doc.WindowY = got.options.RegionY;
        if (doc.WindowX < -MaxCoordinate || doc.WindowX > MaxCoordinate || doc.WindowY < -MaxCoordinate ||
            doc.WindowY > MaxCoordinate)
            Refuse(doc.FileName, "the region (" + std::to_string(doc.WindowX) + ", " + std::to_string(doc.WindowY) +
                                     ") lies beyond " + std::to_string(MaxCoordinate) + " cells from 0");
    } else {
        doc.WindowX = from(left, doc.AreaWidth, paintedX);
        doc.WindowY = from(top, doc.AreaHeight, paintedY);
        if (doc.AreaWidth > MapSize || doc.AreaHeight > MapSize)
            doc.Warnings.push_back(doc.FileName + ": the map is " + std::to_string(doc.AreaWidth) + " x " +
                                   std::to_string(doc.AreaHeight) + " cells, a board 64 x 64: took cells (" +
                                   std::to_string(doc.WindowX) + ", " + std::to_string(doc.WindowY) + ") to (" +
                                   std::to_string(doc.WindowX + MapSize - 1) + ", " +
                                   std::to_string(doc.WindowY + MapSize - 1) + "); --region X,Y takes another part");
    }
    for (const RawLayer& raw : got.layers) {
        TiledLayer layer;
        layer.Name = raw.Name;
        layer.Opacity = raw.Opacity;
        std::memcpy(layer.Tint, raw.Tint, 4);
        for (const RawChunk& chunk : raw.Chunks) {
            const int64_t x0 = std::max(chunk.X, doc.WindowX), x1 = std::min(chunk.X + chunk.Width, doc.WindowX + MapSize);
            const int64_t y0 = std::max(chunk.Y, doc.WindowY), y1 = std::min(chunk.Y + chunk.Height, doc.WindowY + MapSize);
            for (int64_t y = y0; y < y1; y++)
                for (int64_t x = x0; x < x1; x++)
                    if (const uint32_t gid = chunk.Gids[size_t((y - chunk.Y) * chunk.Width + (x - chunk.X))])
                        layer.Gids[size_t((y - doc.WindowY) * MapSize + (x - doc.WindowX))] = gid;
        }
        doc.Layers.push_back(std::move(layer));
    }
}

void CheckLayerPlace(const TiledDocument& doc, const std::string& kind, const std::string& name, double offsetX,
                     double offsetY)
{
    if (offsetX != 0 || offsetY != 0)
        Refuse(doc.FileName, kind + " \"" + Clipped(name) + "\" is offset by (" + std::to_string(offsetX) + ", " +
                                 std::to_string(offsetY) + ") pixels; a board's cells cannot move");
}

void CheckTileset(const TiledTileset& set)
{
    constexpr int Most = 1 << 16;  // pixels: larger sizes, margins and spacings are nonsense
    if (set.TileWidth <= 0 || set.TileHeight <= 0 || set.Margin < 0 || set.Spacing < 0 || set.TileCount < 0 ||
        set.TileWidth > Most || set.TileHeight > Most || set.Margin > Most || set.Spacing > Most)
        Refuse(set.Source, "tileset \"" + Clipped(set.Name) + "\" has a bad tile size, margin, spacing or count");
}

// A tileset's tile images and animation frames counted, against a bound on
// what all of a map's tilesets together may describe.
void CountDescribed(const TiledDocument& doc, Gathered& got, const TiledTileset& set)
{
    got.described += int64_t(set.TileImages.size());
    for (const auto& animation : set.Animations)
        got.described += int64_t(animation.second.size());
    if (got.described > MaxDescribedTiles)
        Refuse(doc.FileName, "its tilesets describe more than " + std::to_string(MaxDescribedTiles) +
                                 " tile images and animation frames together");
}

// ---------------------------------------------------------------------------
// TMX and TSX

// The attribute as the integer type asked for, or `fallback` when it is
// absent. Anything but a whole number within the type's range is refused, as
// the JSON reader refuses it: pugixml would wrap it or cut it silently.
template <typename T>
T IntAttr(const pugi::xml_node& node, const char* name, T fallback, const std::string& file)
{
    const pugi::xml_attribute a = node.attribute(name);
    if (!a)
        return fallback;
    const std::string text = a.value();
    size_t i = 0, end = text.size();
    while (i < end && std::isspace(static_cast<unsigned char>(text[i])))
        i++;
    while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1])))
        end--;
    const bool negative = i < end && text[i] == '-';
    if (i < end && (text[i] == '-' || text[i] == '+'))
        i++;
    uint64_t magnitude = 0;
    bool whole = i < end;
    for (; i < end && whole; i++) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        whole = std::isdigit(c) && magnitude <= (UINT64_MAX - 9) / 10;
        if (whole)
            magnitude = magnitude * 10 + (c - '0');
    }
    static_assert(sizeof(T) < sizeof(int64_t) || std::is_signed_v<T>, "the value goes through int64_t");
    constexpr int64_t Least = std::numeric_limits<T>::min();
    constexpr int64_t Most = static_cast<int64_t>(std::numeric_limits<T>::max());
    // Below zero the magnitude is checked less one, so that INT64_MIN's does not overflow.
    const bool fits = whole && (negative ? magnitude == 0 || (Least < 0 && magnitude - 1 <= uint64_t(-(Least + 1)))
                                         : magnitude <= uint64_t(Most));
    if (!fits)
        Refuse(file, "<" + std::string(node.name()) + "> " + name + "=\"" + Clipped(text) + "\" is not an integer within " +
                         std::to_string(Least) + ".." + std::to_string(Most));
    const int64_t value = !negative || magnitude == 0 ? int64_t(magnitude) : -int64_t(magnitude - 1) - 1;
    return static_cast<T>(value);
}

TiledProperties XmlProperties(const pugi::xml_node& node, const std::string& file)
{
    TiledProperties properties;
    for (const pugi::xml_node& p : node.child("properties").children("property")) {
        TiledProperty property;
        property.Type = p.attribute("type") ? p.attribute("type").value() : "string";
        // Strings with line breaks are written as the element's text.
        property.Text = p.attribute("value") ? p.attribute("value").value() : p.text().get();
        if (property.Type == "file")
            property.Text = Resolve(file, property.Text);
        properties[p.attribute("name").value()] = property;
    }
    return properties;
}

void XmlTilesetBody(const pugi::xml_node& node, TiledTileset& set)
{
    const std::string& file = set.Source;
    set.Name = node.attribute("name").value();
    set.TileWidth = IntAttr<int>(node, "tilewidth", 0, file);
    set.TileHeight = IntAttr<int>(node, "tileheight", 0, file);
    set.Margin = IntAttr<int>(node, "margin", 0, file);
    set.Spacing = IntAttr<int>(node, "spacing", 0, file);
    set.Columns = IntAttr<int>(node, "columns", 0, file);
    set.TileCount = IntAttr<int64_t>(node, "tilecount", 0, file);
    set.Properties = XmlProperties(node, file);
    if (const pugi::xml_node image = node.child("image")) {
        if (image.child("data"))
            Refuse(file, "tileset \"" + Clipped(set.Name) + "\" embeds its image; only image files are read");
        set.Image = Resolve(file, image.attribute("source").value());
        set.HasTrans = image.attribute("trans") && ParseColour(image.attribute("trans").value(), set.Trans);
    }
    for (const pugi::xml_node& tile : node.children("tile")) {
        const uint32_t id = IntAttr<uint32_t>(tile, "id", 0, file);
        if (const pugi::xml_node image = tile.child("image")) {
            set.TileImages[id] = Resolve(file, image.attribute("source").value());
            if (tile.attribute("width") || tile.attribute("height"))
                set.TileRects[id] = {IntAttr<int>(tile, "x", 0, file), IntAttr<int>(tile, "y", 0, file),
                                     IntAttr<int>(tile, "width", 0, file), IntAttr<int>(tile, "height", 0, file)};
        }
        if (const pugi::xml_node animation = tile.child("animation")) {
            std::vector<TiledFrame>& frames = set.Animations[id];
            for (const pugi::xml_node& frame : animation.children("frame"))
                frames.push_back({IntAttr<uint32_t>(frame, "tileid", 0, file),
                                  IntAttr<int>(frame, "duration", 0, file)});
        }
    }
    CheckTileset(set);
}

pugi::xml_document LoadXml(const uint8_t* data, size_t size, const std::string& file)
{
    // Every element and attribute costs the parser a node: counted from the
    // bytes that open them before any is made.
    const int64_t elements = std::count(data, data + size, uint8_t('<'));
    const int64_t attributes = std::count(data, data + size, uint8_t('='));
    if (elements > MaxXmlElements || attributes > MaxXmlAttributes)
        Refuse(file, "holds " + std::to_string(elements) + " elements and " + std::to_string(attributes) +
                         " attributes; a Tiled file may hold at most " + std::to_string(MaxXmlElements) + " and " +
                         std::to_string(MaxXmlAttributes));
    pugi::xml_document xml;
    const pugi::xml_parse_result result = xml.load_buffer(data, size);
    if (!result)
        Refuse(file, std::string("not well-formed XML at byte ") + std::to_string(result.offset) + ": " +
                         result.description());
    return xml;
}

TiledTileset ReadExternalTileset(const std::string& file, const TilesetLoader& load, Gathered& got);

void XmlLayers(const pugi::xml_node& parent, const RawLayer& group, TiledDocument& doc, Gathered& got, int depth)
{
    if (depth > MaxGroupDepth)
        Refuse(doc.FileName, "groups nested more than " + std::to_string(MaxGroupDepth) + " deep");
    for (const pugi::xml_node& node : parent.children()) {
        const std::string kind = node.name();
        const std::string name = node.attribute("name").value();
        const bool visible = IntAttr<int>(node, "visible", 1, doc.FileName) != 0;
        if (kind == "objectgroup" || kind == "imagelayer") {
            doc.Warnings.push_back(doc.FileName + ": " + (kind == "objectgroup" ? "object" : "image") + " layer \"" +
                                   Clipped(name) + "\" left out: a board holds tiles only");
            continue;
        }
        if ((kind != "layer" && kind != "group") || !visible)
            continue;
        CheckLayerPlace(doc, kind, name, node.attribute("offsetx").as_double(), node.attribute("offsety").as_double());
        RawLayer layer = Within(group, name, node.attribute("opacity").as_double(1), node.attribute("tintcolor").value());
        if (kind == "group") {
            XmlLayers(node, layer, doc, got, depth + 1);
            continue;
        }
        const pugi::xml_node data = node.child("data");
        const std::string encoding = data.attribute("encoding").value();
        const std::string compression = data.attribute("compression").value();
        auto decode = [&](const pugi::xml_node& holder, int64_t x, int64_t y, int64_t w, int64_t h) {
            CountCells(doc, got, name, w * h);
            RawChunk chunk{x, y, w, h, {}};
            std::vector<uint32_t>& gids = chunk.Gids;
            Error error;
            if (encoding.empty()) {
                for (const pugi::xml_node& tile : holder.children("tile")) {
                    if (gids.size() == size_t(w * h))
                        Refuse(doc.FileName, "layer \"" + Clipped(name) + "\" has more tile elements than its cells");
                    gids.push_back(IntAttr<uint32_t>(tile, "gid", 0, doc.FileName));
                }
                if (gids.size() != size_t(w * h))
                    Refuse(doc.FileName, "layer \"" + Clipped(name) + "\" has " + std::to_string(gids.size()) +
                                             " tile elements for " + std::to_string(w * h) + " cells");
            } else if (!DecodeLayerData(holder.text().get(), encoding, compression, size_t(w * h), gids, error)) {
                Refuse(doc.FileName, "layer \"" + Clipped(name) + "\": " + error.Reason);
            }
            layer.Chunks.push_back(std::move(chunk));
        };
        if (doc.Infinite) {
            for (const pugi::xml_node& chunk : data.children("chunk")) {
                const int64_t x = IntAttr<int64_t>(chunk, "x", 0, doc.FileName);
                const int64_t y = IntAttr<int64_t>(chunk, "y", 0, doc.FileName);
                const int64_t w = IntAttr<int64_t>(chunk, "width", 0, doc.FileName);
                const int64_t h = IntAttr<int64_t>(chunk, "height", 0, doc.FileName);
                CheckChunk(doc, name, x, y, w, h);
                decode(chunk, x, y, w, h);
            }
        } else {
            const int64_t w = IntAttr<int64_t>(node, "width", 0, doc.FileName);
            const int64_t h = IntAttr<int64_t>(node, "height", 0, doc.FileName);
            if (w != doc.Width || h != doc.Height)
                Refuse(doc.FileName, "layer \"" + Clipped(name) + "\" is " + std::to_string(w) + " x " +
                                         std::to_string(h) + " cells, the map " + std::to_string(doc.Width) + " x " +
                                         std::to_string(doc.Height));
            decode(data, 0, 0, w, h);
        }
        got.layers.push_back(std::move(layer));
    }
}

void ReadTmx(const uint8_t* data, size_t size, const TilesetLoader& load, TiledDocument& doc, Gathered& got)
{
    const pugi::xml_document xml = LoadXml(data, size, doc.FileName);
    const pugi::xml_node map = xml.child("map");
    if (!map)
        Refuse(doc.FileName, "no <map> element: not a TMX map");
    doc.Width = IntAttr<int>(map, "width", 0, doc.FileName);
    doc.Height = IntAttr<int>(map, "height", 0, doc.FileName);
    doc.TileWidth = IntAttr<int>(map, "tilewidth", 0, doc.FileName);
    doc.TileHeight = IntAttr<int>(map, "tileheight", 0, doc.FileName);
    doc.Infinite = IntAttr<int>(map, "infinite", 0, doc.FileName) != 0;
    CheckMap(doc, map.attribute("orientation").value());
    doc.HasBackground = ParseColour(map.attribute("backgroundcolor").value(), doc.Background);
    doc.Properties = XmlProperties(map, doc.FileName);
    for (const pugi::xml_node& node : map.children("tileset")) {
        TiledTileset set;
        if (node.attribute("source"))
            set = ReadExternalTileset(Resolve(doc.FileName, node.attribute("source").value()), load, got);
        else {
            set.Source = doc.FileName;
            XmlTilesetBody(node, set);
        }
        set.FirstGid = IntAttr<uint32_t>(node, "firstgid", 0, doc.FileName);
        CountDescribed(doc, got, set);
        doc.Tilesets.push_back(std::move(set));
    }
    XmlLayers(map, RawLayer{}, doc, got, 0);
}

// ---------------------------------------------------------------------------
// JSON

// A first pass through nlohmann's own event parser, which does not recurse:
// counts the values and the depth before a tree of them is built.
class JsonCost : public nlohmann::json_sax<Json> {
public:
    int64_t values = 0;
    int depth = 0;
    bool tooMuch = false;
    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t&) override { return Value(); }
    bool string(string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override { return Open(); }
    bool key(string_t&) override { return Value(); }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(); }
    bool end_array() override { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool Value()
    {
        tooMuch = tooMuch || ++values > MaxJsonValues;
        return !tooMuch;
    }
    bool Open()
    {
        tooMuch = tooMuch || ++depth > MaxJsonDepth;
        return Value();
    }
    bool Close()
    {
        depth--;
        return true;
    }
};

Json LoadJson(const uint8_t* data, size_t size, const std::string& file)
{
    JsonCost cost;
    const bool wellFormed = Json::sax_parse(data, data + size, &cost, nlohmann::detail::input_format_t::json, false);
    if (cost.tooMuch)
        Refuse(file, "holds more than " + std::to_string(MaxJsonValues) + " values or nests them more than " +
                         std::to_string(MaxJsonDepth) + " deep; a Tiled file may not");
    if (!wellFormed)
        Refuse(file, "not a JSON object");
    Json json = Json::parse(data, data + size, nullptr, false);
    if (json.is_discarded() || !json.is_object())
        Refuse(file, "not a JSON object");
    return json;
}

// The member as the type asked for, or `fallback` when it is absent; any
// other type is refused.
template <typename T>
T Get(const Json& object, const char* key, const T& fallback, const std::string& file)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return fallback;
    const std::string wrong = std::string("\"") + key + "\" is not ";
    if constexpr (std::is_same_v<T, bool>) {
        if (!it->is_boolean())
            Refuse(file, wrong + "true or false");
        return it->get<bool>();
    } else if constexpr (std::is_integral_v<T>) {
        // Checked before converting: a number out of range is refused, not cut.
        const bool fits = it->is_number_unsigned() ? it->get<uint64_t>() <= uint64_t(std::numeric_limits<T>::max())
                          : it->is_number_integer() ? it->get<int64_t>() >= int64_t(std::numeric_limits<T>::min()) &&
                                                          it->get<int64_t>() <= int64_t(std::numeric_limits<T>::max())
                                                    : false;
        if (!fits)
            Refuse(file, wrong + "an integer within " + std::to_string(std::numeric_limits<T>::min()) + ".." +
                             std::to_string(std::numeric_limits<T>::max()));
        return it->get<T>();
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!it->is_number())
            Refuse(file, wrong + "a number");
        return it->get<T>();
    } else {
        if (!it->is_string())
            Refuse(file, wrong + "a string");
        return it->get<T>();
    }
}

const Json& Array(const Json& object, const char* key, const std::string& file)
{
    static const Json empty = Json::array();
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return empty;
    if (!it->is_array())
        Refuse(file, std::string("\"") + key + "\" is not an array");
    return *it;
}

TiledProperties JsonProperties(const Json& object, const std::string& file)
{
    TiledProperties properties;
    for (const Json& p : Array(object, "properties", file)) {
        if (!p.is_object())
            Refuse(file, "a property is not an object");
        TiledProperty property;
        property.Type = Get<std::string>(p, "type", "string", file);
        const auto value = p.find("value");
        if (value != p.end())
            property.Text = value->is_string() ? value->get<std::string>() : value->dump();
        if (property.Type == "file")
            property.Text = Resolve(file, property.Text);
        properties[Get<std::string>(p, "name", "", file)] = property;
    }
    return properties;
}

void JsonTilesetBody(const Json& node, TiledTileset& set)
{
    const std::string& file = set.Source;
    set.Name = Get<std::string>(node, "name", "", file);
    set.TileWidth = Get<int>(node, "tilewidth", 0, file);
    set.TileHeight = Get<int>(node, "tileheight", 0, file);
    set.Margin = Get<int>(node, "margin", 0, file);
    set.Spacing = Get<int>(node, "spacing", 0, file);
    set.Columns = Get<int>(node, "columns", 0, file);
    set.TileCount = Get<int64_t>(node, "tilecount", 0, file);
    set.Properties = JsonProperties(node, file);
    set.Image = Resolve(file, Get<std::string>(node, "image", "", file));
    set.HasTrans = ParseColour(Get<std::string>(node, "transparentcolor", "", file), set.Trans);
    for (const Json& tile : Array(node, "tiles", file)) {
        if (!tile.is_object())
            Refuse(file, "a tile is not an object");
        const uint32_t id = Get<uint32_t>(tile, "id", 0, file);
        if (tile.contains("image")) {
            set.TileImages[id] = Resolve(file, Get<std::string>(tile, "image", "", file));
            if (tile.contains("width") || tile.contains("height"))
                set.TileRects[id] = {Get<int>(tile, "x", 0, file), Get<int>(tile, "y", 0, file),
                                     Get<int>(tile, "width", 0, file), Get<int>(tile, "height", 0, file)};
        }
        if (tile.contains("animation")) {
            std::vector<TiledFrame>& frames = set.Animations[id];
            for (const Json& frame : Array(tile, "animation", file)) {
                if (!frame.is_object())
                    Refuse(file, "an animation frame is not an object");
                frames.push_back({Get<uint32_t>(frame, "tileid", 0, file), Get<int>(frame, "duration", 0, file)});
            }
        }
    }
    CheckTileset(set);
}

std::vector<uint32_t> JsonData(const Json& holder, const std::string& encoding, const std::string& compression,
                               int64_t cells, const std::string& layer, const std::string& file)
{
    std::vector<uint32_t> gids;
    const auto data = holder.find("data");
    Error error;
    if (data != holder.end() && data->is_string()) {
        if (!DecodeLayerData(data->get<std::string>(), encoding.empty() ? "base64" : encoding, compression,
                             size_t(cells), gids, error))
            Refuse(file, "layer \"" + Clipped(layer) + "\": " + error.Reason);
        return gids;
    }
    const Json& values = Array(holder, "data", file);
    if (int64_t(values.size()) != cells)
        Refuse(file, "layer \"" + Clipped(layer) + "\" holds " + std::to_string(values.size()) + " cells, it has " +
                         std::to_string(cells));
    for (const Json& value : values) {
        if (!value.is_number_unsigned() || value.get<uint64_t>() > UINT32_MAX)
            Refuse(file, "layer \"" + Clipped(layer) + "\" holds a value that is not a tile id");
        gids.push_back(value.get<uint32_t>());
    }
    return gids;
}

void JsonLayers(const Json& parent, const RawLayer& group, TiledDocument& doc, Gathered& got, int depth)
{
    const std::string& file = doc.FileName;
    if (depth > MaxGroupDepth)
        Refuse(file, "groups nested more than " + std::to_string(MaxGroupDepth) + " deep");
    for (const Json& node : Array(parent, "layers", file)) {
        if (!node.is_object())
            Refuse(file, "a layer is not an object");
        const std::string kind = Get<std::string>(node, "type", "", file);
        const std::string name = Get<std::string>(node, "name", "", file);
        if (kind == "objectgroup" || kind == "imagelayer") {
            doc.Warnings.push_back(file + ": " + (kind == "objectgroup" ? "object" : "image") + " layer \"" +
                                   Clipped(name) + "\" left out: a board holds tiles only");
            continue;
        }
        if ((kind != "tilelayer" && kind != "group") || !Get<bool>(node, "visible", true, file))
            continue;
        CheckLayerPlace(doc, kind, name, Get<double>(node, "offsetx", 0, file), Get<double>(node, "offsety", 0, file));
        RawLayer layer = Within(group, name, Get<double>(node, "opacity", 1, file),
                                Get<std::string>(node, "tintcolor", "", file));
        if (kind == "group") {
            JsonLayers(node, layer, doc, got, depth + 1);
            continue;
        }
        const std::string encoding = Get<std::string>(node, "encoding", "", file);
        const std::string compression = Get<std::string>(node, "compression", "", file);
        if (doc.Infinite) {
            for (const Json& chunk : Array(node, "chunks", file)) {
                if (!chunk.is_object())
                    Refuse(file, "a chunk is not an object");
                const int64_t x = Get<int64_t>(chunk, "x", 0, file), y = Get<int64_t>(chunk, "y", 0, file);
                const int64_t w = Get<int64_t>(chunk, "width", 0, file), h = Get<int64_t>(chunk, "height", 0, file);
                CheckChunk(doc, name, x, y, w, h);
                CountCells(doc, got, name, w * h);
                layer.Chunks.push_back({x, y, w, h, JsonData(chunk, encoding, compression, w * h, name, file)});
            }
        } else {
            const int64_t w = Get<int64_t>(node, "width", 0, file), h = Get<int64_t>(node, "height", 0, file);
            if (w != doc.Width || h != doc.Height)
                Refuse(file, "layer \"" + Clipped(name) + "\" is " + std::to_string(w) + " x " + std::to_string(h) +
                                 " cells, the map " + std::to_string(doc.Width) + " x " + std::to_string(doc.Height));
            CountCells(doc, got, name, w * h);
            layer.Chunks.push_back({0, 0, w, h, JsonData(node, encoding, compression, w * h, name, file)});
        }
        got.layers.push_back(std::move(layer));
    }
}

void ReadJson(const uint8_t* data, size_t size, const TilesetLoader& load, TiledDocument& doc, Gathered& got)
{
    const std::string& file = doc.FileName;
    const Json map = LoadJson(data, size, file);
    if (Get<std::string>(map, "type", "map", file) != "map")
        Refuse(file, "not a Tiled map (type \"" + Clipped(Get<std::string>(map, "type", "", file)) + "\")");
    doc.Width = Get<int>(map, "width", 0, file);
    doc.Height = Get<int>(map, "height", 0, file);
    doc.TileWidth = Get<int>(map, "tilewidth", 0, file);
    doc.TileHeight = Get<int>(map, "tileheight", 0, file);
    doc.Infinite = Get<bool>(map, "infinite", false, file);
    CheckMap(doc, Get<std::string>(map, "orientation", "", file));
    doc.HasBackground = ParseColour(Get<std::string>(map, "backgroundcolor", "", file), doc.Background);
    doc.Properties = JsonProperties(map, file);
    for (const Json& node : Array(map, "tilesets", file)) {
        if (!node.is_object())
            Refuse(file, "a tileset is not an object");
        TiledTileset set;
        if (node.contains("source"))
            set = ReadExternalTileset(Resolve(file, Get<std::string>(node, "source", "", file)), load, got);
        else {
            set.Source = file;
            JsonTilesetBody(node, set);
        }
        set.FirstGid = Get<uint32_t>(node, "firstgid", 0, file);
        CountDescribed(doc, got, set);
        doc.Tilesets.push_back(std::move(set));
    }
    JsonLayers(map, RawLayer{}, doc, got, 0);
}

TiledTileset ReadExternalTileset(const std::string& file, const TilesetLoader& load, Gathered& got)
{
    const auto known = got.external.find(file);
    if (known != got.external.end())
        return known->second;

    std::vector<uint8_t> bytes;
    Error error;
    if (!load)
        Refuse(file, "external tileset given, but nothing to read it with");
    if (!load(file, bytes, error)) {
        if (error.File.empty())
            error.File = file;
        throw Refusal{error};
    }
    TiledTileset set;
    set.Source = file;
    if (IsJsonName(file)) {
        JsonTilesetBody(LoadJson(bytes.data(), bytes.size(), file), set);
    } else {
        const pugi::xml_document xml = LoadXml(bytes.data(), bytes.size(), file);
        const pugi::xml_node node = xml.child("tileset");
        if (!node)
            Refuse(file, "no <tileset> element: not a TSX tileset");
        XmlTilesetBody(node, set);
    }
    got.external[file] = set;
    return set;
}

}  // namespace

bool ReadTilesetFile(const std::string& path, std::vector<uint8_t>& bytes, Error& error)
{
    return ReadWholeFile(path.c_str(), MaxTiledFileBytes, bytes, error);
}

std::string Clipped(const std::string& text)
{
    constexpr size_t Most = 64;
    size_t cut = std::min(text.size(), Most);
    while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        cut--;  // not inside a UTF-8 character
    std::string shown = text.substr(0, cut);
    // A message is one line: line breaks and other control characters as '?'.
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return cut == text.size() ? shown : shown + "... (" + std::to_string(text.size()) + " bytes)";
}

bool ParseTiledMap(const uint8_t* data, size_t size, const std::string& fileName,
                   const TilesetLoader& loadTileset, TiledDocument& out, Error& error, const TiledOptions& options)
{
    auto doc = std::make_unique<TiledDocument>();
    doc->FileName = fileName;
    try {
        Gathered got{options, {}, 0, 0, {}};
        if (IsJsonName(fileName))
            ReadJson(data, size, loadTileset, *doc, got);
        else
            ReadTmx(data, size, loadTileset, *doc, got);
        CutWindow(*doc, got);
    } catch (const Refusal& refusal) {
        error = refusal.error;
        return false;
    } catch (const std::bad_alloc&) {
        error = Error{fileName, "out of memory while reading the map"};
        return false;
    }
    // Tilesets in order of their first gid, each after the previous one's tiles.
    for (size_t i = 0; i < doc->Tilesets.size(); i++) {
        const TiledTileset& set = doc->Tilesets[i];
        if (set.FirstGid == 0 || (set.FirstGid & GidFlags) || (i > 0 && set.FirstGid <= doc->Tilesets[i - 1].FirstGid)) {
            error = Error{fileName, "tileset \"" + Clipped(set.Name) + "\" has first gid " + std::to_string(set.FirstGid) +
                                        "; first gids must rise from 1"};
            return false;
        }
    }
    out = std::move(*doc);
    return true;
}

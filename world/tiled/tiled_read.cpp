// Reading Tiled maps, TMX with pugixml and JSON with nlohmann::json, into one
// TiledDocument: settings, tilesets with resolved paths, and the visible tile
// layers flattened into one 64 x 64 grid of gids.
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <cctype>
#include <filesystem>
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

bool EndsWith(const std::string& text, const char* suffix)
{
    const std::string end(suffix);
    if (text.size() < end.size())
        return false;
    for (size_t i = 0; i < end.size(); i++)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i])
            return false;
    return true;
}

bool IsJsonName(const std::string& name)
{
    return EndsWith(name, ".tmj") || EndsWith(name, ".json") || EndsWith(name, ".tsj");
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

// Cells of one layer laid into the grid; `ox`, `oy` the position of its
// first cell. Cells left empty (gid 0) keep what lies below.
void Lay(TiledDocument& doc, const std::vector<uint32_t>& gids, int64_t ox, int64_t oy, int64_t width,
         const std::string& layer)
{
    for (size_t k = 0; k < gids.size(); k++) {
        if (gids[k] == 0)
            continue;
        const int64_t x = ox + int64_t(k) % width, y = oy + int64_t(k) / width;
        if (x < 0 || y < 0 || x >= MapSize || y >= MapSize)
            Refuse(doc.FileName, "layer \"" + layer + "\" has a tile at (" + std::to_string(x) + ", " +
                                     std::to_string(y) + "), outside the cells 0..63 a board holds");
        doc.Gids[size_t(y * MapSize + x)] = gids[k];
    }
}

void CheckChunk(const TiledDocument& doc, const std::string& layer, int64_t x, int64_t y, int64_t w, int64_t h)
{
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x > MapSize || y > MapSize || w > MapSize || h > MapSize ||
        x + w > MapSize || y + h > MapSize)
        Refuse(doc.FileName, "layer \"" + layer + "\" has a chunk at (" + std::to_string(x) + ", " +
                                 std::to_string(y) + ") of " + std::to_string(w) + " x " + std::to_string(h) +
                                 " cells, outside the cells 0..63 a board holds");
}

void CheckMap(const TiledDocument& doc, const std::string& orientation)
{
    if (orientation != "orthogonal")
        Refuse(doc.FileName, "the map is " + orientation + "; only orthogonal maps are read");
    if (doc.TileWidth != doc.TileHeight || doc.TileWidth <= 0 || CellSize % doc.TileWidth != 0)
        Refuse(doc.FileName, "tiles of " + std::to_string(doc.TileWidth) + " x " + std::to_string(doc.TileHeight) +
                                 " pixels; a board takes 32 x 32, or 16, 8, 4, 2 or 1 square, scaled up");
    if (!doc.Infinite && (doc.Width < 1 || doc.Height < 1 || doc.Width > MapSize || doc.Height > MapSize))
        Refuse(doc.FileName, "the map is " + std::to_string(doc.Width) + " x " + std::to_string(doc.Height) +
                                 " cells; a board holds at most 64 x 64");
}

void CheckLayerPlace(const TiledDocument& doc, const std::string& kind, const std::string& name, double offsetX,
                     double offsetY)
{
    if (offsetX != 0 || offsetY != 0)
        Refuse(doc.FileName, kind + " \"" + name + "\" is offset by (" + std::to_string(offsetX) + ", " +
                                 std::to_string(offsetY) + ") pixels; a board's cells cannot move");
}

void CheckTileset(const TiledTileset& set)
{
    constexpr int Most = 1 << 16;  // pixels: larger sizes, margins and spacings are nonsense
    if (set.TileWidth <= 0 || set.TileHeight <= 0 || set.Margin < 0 || set.Spacing < 0 || set.TileCount < 0 ||
        set.TileWidth > Most || set.TileHeight > Most || set.Margin > Most || set.Spacing > Most)
        Refuse(set.Source, "tileset \"" + set.Name + "\" has a bad tile size, margin, spacing or count");
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
        Refuse(file, "<" + std::string(node.name()) + "> " + name + "=\"" + text + "\" is not an integer within " +
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
            Refuse(file, "tileset \"" + set.Name + "\" embeds its image; only image files are read");
        set.Image = Resolve(file, image.attribute("source").value());
        set.HasTrans = image.attribute("trans") && ParseColour(image.attribute("trans").value(), set.Trans);
    }
    for (const pugi::xml_node& tile : node.children("tile")) {
        const uint32_t id = IntAttr<uint32_t>(tile, "id", 0, file);
        if (const pugi::xml_node image = tile.child("image"))
            set.TileImages[id] = Resolve(file, image.attribute("source").value());
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
    pugi::xml_document xml;
    const pugi::xml_parse_result result = xml.load_buffer(data, size);
    if (!result)
        Refuse(file, std::string("not well-formed XML at byte ") + std::to_string(result.offset) + ": " +
                         result.description());
    return xml;
}

TiledTileset ReadExternalTileset(const std::string& file, const TilesetLoader& load);

void XmlLayers(const pugi::xml_node& parent, TiledDocument& doc, int depth)
{
    if (depth > MaxGroupDepth)
        Refuse(doc.FileName, "groups nested more than " + std::to_string(MaxGroupDepth) + " deep");
    for (const pugi::xml_node& node : parent.children()) {
        const std::string kind = node.name();
        const std::string name = node.attribute("name").value();
        const bool visible = IntAttr<int>(node, "visible", 1, doc.FileName) != 0;
        if (kind == "objectgroup" || kind == "imagelayer") {
            doc.Warnings.push_back(doc.FileName + ": " + (kind == "objectgroup" ? "object" : "image") + " layer \"" +
                                   name + "\" left out: a board holds tiles only");
            continue;
        }
        if ((kind != "layer" && kind != "group") || !visible)
            continue;
        CheckLayerPlace(doc, kind, name, node.attribute("offsetx").as_double(), node.attribute("offsety").as_double());
        if (kind == "group") {
            XmlLayers(node, doc, depth + 1);
            continue;
        }
        const pugi::xml_node data = node.child("data");
        const std::string encoding = data.attribute("encoding").value();
        const std::string compression = data.attribute("compression").value();
        auto decode = [&](const pugi::xml_node& holder, int64_t x, int64_t y, int64_t w, int64_t h) {
            std::vector<uint32_t> gids;
            Error error;
            if (encoding.empty()) {
                for (const pugi::xml_node& tile : holder.children("tile")) {
                    if (gids.size() == size_t(w * h))
                        Refuse(doc.FileName, "layer \"" + name + "\" has more tile elements than its cells");
                    gids.push_back(IntAttr<uint32_t>(tile, "gid", 0, doc.FileName));
                }
                if (gids.size() != size_t(w * h))
                    Refuse(doc.FileName, "layer \"" + name + "\" has " + std::to_string(gids.size()) +
                                             " tile elements for " + std::to_string(w * h) + " cells");
            } else if (!DecodeLayerData(holder.text().get(), encoding, compression, size_t(w * h), gids, error)) {
                Refuse(doc.FileName, "layer \"" + name + "\": " + error.Reason);
            }
            Lay(doc, gids, x, y, w, name);
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
                Refuse(doc.FileName, "layer \"" + name + "\" is " + std::to_string(w) + " x " + std::to_string(h) +
                                         " cells, the map " + std::to_string(doc.Width) + " x " +
                                         std::to_string(doc.Height));
            decode(data, 0, 0, w, h);
        }
    }
}

void ReadTmx(const uint8_t* data, size_t size, const TilesetLoader& load, TiledDocument& doc)
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
            set = ReadExternalTileset(Resolve(doc.FileName, node.attribute("source").value()), load);
        else {
            set.Source = doc.FileName;
            XmlTilesetBody(node, set);
        }
        set.FirstGid = IntAttr<uint32_t>(node, "firstgid", 0, doc.FileName);
        doc.Tilesets.push_back(std::move(set));
    }
    XmlLayers(map, doc, 0);
}

// ---------------------------------------------------------------------------
// JSON

Json LoadJson(const uint8_t* data, size_t size, const std::string& file)
{
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
        if (tile.contains("image"))
            set.TileImages[id] = Resolve(file, Get<std::string>(tile, "image", "", file));
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
            Refuse(file, "layer \"" + layer + "\": " + error.Reason);
        return gids;
    }
    const Json& values = Array(holder, "data", file);
    if (int64_t(values.size()) != cells)
        Refuse(file, "layer \"" + layer + "\" holds " + std::to_string(values.size()) + " cells, it has " +
                         std::to_string(cells));
    for (const Json& value : values) {
        if (!value.is_number_unsigned() || value.get<uint64_t>() > UINT32_MAX)
            Refuse(file, "layer \"" + layer + "\" holds a value that is not a tile id");
        gids.push_back(value.get<uint32_t>());
    }
    return gids;
}

void JsonLayers(const Json& parent, TiledDocument& doc, int depth)
{
    const std::string& file = doc.FileName;
    if (depth > MaxGroupDepth)
        Refuse(file, "groups nested more than " + std::to_string(MaxGroupDepth) + " deep");
    for (const Json& layer : Array(parent, "layers", file)) {
        if (!layer.is_object())
            Refuse(file, "a layer is not an object");
        const std::string kind = Get<std::string>(layer, "type", "", file);
        const std::string name = Get<std::string>(layer, "name", "", file);
        if (kind == "objectgroup" || kind == "imagelayer") {
            doc.Warnings.push_back(file + ": " + (kind == "objectgroup" ? "object" : "image") + " layer \"" + name +
                                   "\" left out: a board holds tiles only");
            continue;
        }
        if ((kind != "tilelayer" && kind != "group") || !Get<bool>(layer, "visible", true, file))
            continue;
        CheckLayerPlace(doc, kind, name, Get<double>(layer, "offsetx", 0, file), Get<double>(layer, "offsety", 0, file));
        if (kind == "group") {
            JsonLayers(layer, doc, depth + 1);
            continue;
        }
        const std::string encoding = Get<std::string>(layer, "encoding", "", file);
        const std::string compression = Get<std::string>(layer, "compression", "", file);
        if (doc.Infinite) {
            for (const Json& chunk : Array(layer, "chunks", file)) {
                if (!chunk.is_object())
                    Refuse(file, "a chunk is not an object");
                const int64_t x = Get<int64_t>(chunk, "x", 0, file), y = Get<int64_t>(chunk, "y", 0, file);
                const int64_t w = Get<int64_t>(chunk, "width", 0, file), h = Get<int64_t>(chunk, "height", 0, file);
                CheckChunk(doc, name, x, y, w, h);
                Lay(doc, JsonData(chunk, encoding, compression, w * h, name, file), x, y, w, name);
            }
        } else {
            const int64_t w = Get<int64_t>(layer, "width", 0, file), h = Get<int64_t>(layer, "height", 0, file);
            if (w != doc.Width || h != doc.Height)
                Refuse(file, "layer \"" + name + "\" is " + std::to_string(w) + " x " + std::to_string(h) +
                                 " cells, the map " + std::to_string(doc.Width) + " x " + std::to_string(doc.Height));
            Lay(doc, JsonData(layer, encoding, compression, w * h, name, file), 0, 0, w, name);
        }
    }
}

void ReadJson(const uint8_t* data, size_t size, const TilesetLoader& load, TiledDocument& doc)
{
    const std::string& file = doc.FileName;
    const Json map = LoadJson(data, size, file);
    if (Get<std::string>(map, "type", "map", file) != "map")
        Refuse(file, "not a Tiled map (type \"" + Get<std::string>(map, "type", "", file) + "\")");
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
            set = ReadExternalTileset(Resolve(file, Get<std::string>(node, "source", "", file)), load);
        else {
            set.Source = file;
            JsonTilesetBody(node, set);
        }
        set.FirstGid = Get<uint32_t>(node, "firstgid", 0, file);
        doc.Tilesets.push_back(std::move(set));
    }
    JsonLayers(map, doc, 0);
}

TiledTileset ReadExternalTileset(const std::string& file, const TilesetLoader& load)
{
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
    return set;
}

}  // namespace

bool ReadTilesetFile(const std::string& path, std::vector<uint8_t>& bytes, Error& error)
{
    return ReadWholeFile(path.c_str(), MaxTiledFileBytes, bytes, error);
}

bool ParseTiledMap(const uint8_t* data, size_t size, const std::string& fileName,
                   const TilesetLoader& loadTileset, TiledDocument& out, Error& error)
{
    auto doc = std::make_unique<TiledDocument>();
    doc->FileName = fileName;
    try {
        if (IsJsonName(fileName))
            ReadJson(data, size, loadTileset, *doc);
        else
            ReadTmx(data, size, loadTileset, *doc);
    } catch (const Refusal& refusal) {
        error = refusal.error;
        return false;
    }
    // Tilesets in order of their first gid, each after the previous one's tiles.
    for (size_t i = 0; i < doc->Tilesets.size(); i++) {
        const TiledTileset& set = doc->Tilesets[i];
        if (set.FirstGid == 0 || (set.FirstGid & GidFlags) || (i > 0 && set.FirstGid <= doc->Tilesets[i - 1].FirstGid)) {
            error = Error{fileName, "tileset \"" + set.Name + "\" has first gid " + std::to_string(set.FirstGid) +
                                        "; first gids must rise from 1"};
            return false;
        }
    }
    out = std::move(*doc);
    return true;
}

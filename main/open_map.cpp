// The one way the viewer opens a map, so that start-up and --watch read the
// same kinds of file the same way.
#include "open_map.h"

#include <algorithm>
#include <cctype>

#include "tiled/tiled_world.h"

bool IsTiledMapName(const std::string& name)
{
    const size_t dot = name.find_last_of("./\\");
    if (dot == std::string::npos || name[dot] != '.')
        return false;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "tmx" || extension == "tmj" || extension == "json";
}

bool OpenMap(World& world, const std::string& name, Error& error)
{
    if (IsTiledMapName(name))
        return LoadTiledMap(world, name.c_str(), error);
    if (world.LoadMap(name.c_str()) != 0) {
        error = world.LastError();
        return false;
    }
    return true;
}

// Looking at the map's files for --watch: a stat() of each, about a hundred
// at most, costs a few microseconds.
#include "map_watch.h"

#include <sys/stat.h>  // Required for: stat()

#include <utility>

#include "files/files.h"  // Required for: HostPath()

static bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool FileStamp::operator==(const FileStamp& other) const
{
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
           SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

FileStamp StampOf(const std::string& path)
{
    FileStamp stamp;
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modified = info.st_mtim;
    stamp.changed = info.st_ctim;
    return stamp;
}

MapWatch::MapWatch(std::string map) : Map(std::move(map))
{
    MapStamp = StampOf(HostPath(Map.c_str()));
    MapStampRead = MapStamp;
}

void MapWatch::NoteMapRead()
{
    MapStampRead = StampOf(HostPath(Map.c_str()));
}

void MapWatch::Settle(const World& world)
{
    Images.clear();
    for (int k = 0; k < world.TileCount && k < MaxTiles; k++)
        Images.push_back(HostPath(world.TileNames[k]));
    Images.push_back(HostPath(world.SkyName));
    SettleFailure();
}

void MapWatch::SettleFailure()
{
    MapStamp = MapStampRead;
    ImageStamps.clear();
    for (const std::string& image : Images)
        ImageStamps.push_back(StampOf(image));
}

bool MapWatch::Changed() const
{
    if (StampOf(HostPath(Map.c_str())) != MapStamp)
        return true;
    for (size_t i = 0; i < Images.size(); i++)
        if (StampOf(Images[i]) != ImageStamps[i])
            return true;
    return false;
}

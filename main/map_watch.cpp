// Looking at the map's files for --watch: a stat() of each, a few hundred at
// most (the map, its tilesets, 256 tile images and the sky), costs well
// under a millisecond.
#include "map_watch.h"

#include <sys/stat.h>  // Required for: stat()

#include <algorithm>

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

std::vector<FileStamp> MapWatch::StampsOf(const std::vector<std::string>& files)
{
    std::vector<FileStamp> stamps;
    stamps.reserve(files.size());
    for (const std::string& file : files)
        stamps.push_back(StampOf(file));
    return stamps;
}

void MapWatch::Settle(const std::vector<std::string>& files, const std::vector<std::string>& stampedFiles,
                      const std::vector<FileStamp>& stamps)
{
    Watched = files;
    Stamps.clear();
    for (const std::string& file : files) {
        const auto it = std::find(stampedFiles.begin(), stampedFiles.end(), file);
        Stamps.push_back(it != stampedFiles.end() ? stamps[static_cast<size_t>(it - stampedFiles.begin())]
                                                  : StampOf(file));
    }
}

bool MapWatch::Changed() const
{
    for (size_t i = 0; i < Watched.size(); i++)
        if (StampOf(Watched[i]) != Stamps[i])
            return true;
    return false;
}

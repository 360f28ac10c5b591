// The file layer: reading regular files without blocking and within bounds,
// and writing files whole or not at all, through a temporary file in the same
// directory that is flushed and then renamed (or linked) to its final name.
#include "files/files.h"
#include "files/write_faults.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// ---------------------------------------------------------------------------
// Reading

std::string HostPath(const char* name)
{
    std::string path(name);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

// What a file that is not a regular file is, for messages.
static const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

ReadableFile::~ReadableFile()
{
    if (fd >= 0)
        close(fd);
}

bool ReadableFile::Open(const char* name, Error& error)
{
    const std::string opened = HostPath(name);
    // The kind is known before the open, so a device is never opened at all;
    // O_NONBLOCK keeps a FIFO swapped in between from blocking the open, and
    // fstat then catches the swap.
    struct stat info;
    if (stat(opened.c_str(), &info) != 0) {
        error = Error{opened, std::string("cannot open: ") + std::strerror(errno)};
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = Error{opened, std::string("is ") + KindOf(info.st_mode) + ", not a regular file"};
        return false;
    }
    const int descriptor = open(opened.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        error = Error{opened, std::string("cannot open: ") + std::strerror(errno)};
        return false;
    }
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = Error{opened, "is not a regular file"};
        close(descriptor);
        return false;
    }
    if (fd >= 0)
        close(fd);
    fd = descriptor;
    size = static_cast<int64_t>(info.st_size);
    path = opened;
    return true;
}

bool ReadableFile::ReadAt(int64_t offset, size_t length, std::vector<uint8_t>& bytes, Error& error) const
{
    std::vector<uint8_t> data;
    try {
        data.resize(length);
    } catch (const std::bad_alloc&) {
        error = Error{path, std::to_string(length) + " bytes do not fit in memory"};
        return false;
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(fd, data.data() + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = Error{path, std::string("cannot read: ") + std::strerror(errno)};
            return false;
        }
        if (got == 0) {
            error = Error{path, std::string("cut short: ") + std::to_string(offset + static_cast<int64_t>(done)) +
                    " bytes, more were expected at offset " + std::to_string(offset) + " (" +
                    std::to_string(length) + " bytes)"};
            return false;
        }
        done += static_cast<size_t>(got);
    }
    bytes = std::move(data);
    return true;
}

bool ReadWholeFile(const char* name, int64_t limit, std::vector<uint8_t>& bytes, Error& error)
{
    ReadableFile file;
    if (!file.Open(name, error))
        return false;
    if (file.Size() > limit) {
        error = Error{file.Path(), std::to_string(file.Size()) + " bytes, more than the " +
                std::to_string(limit) + " read here"};
        return false;
    }
    return file.ReadAt(0, static_cast<size_t>(file.Size()), bytes, error);
}

bool ReadFileStart(const char* name, size_t limit, std::vector<uint8_t>& bytes, Error& error)
{
    ReadableFile file;
    if (!file.Open(name, error))
        return false;
    return file.ReadAt(0, std::min(limit, static_cast<size_t>(file.Size())), bytes, error);
}

std::string LowerExtension(const std::string& name)
{
    const size_t dot = name.find_last_of("./\\");
    if (dot == std::string::npos || name[dot] != '.')
        return std::string();
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first, second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// ---------------------------------------------------------------------------
// Writing

static WriteFaultHook& Hook()
{
    static WriteFaultHook hook;
    return hook;
}

void SetWriteFaultHook(WriteFaultHook hook)
{
    Hook() = std::move(hook);
}

// True when the test hook wants `step` to fail; errno then says why.
static bool Injected(const char* step)
{
    if (Hook() && Hook()(step)) {
        errno = EIO;
        return true;
    }
    return false;
}

static std::string Reason(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

namespace {

// A temporary file being written; removed unless Keep() was called.
class TempFile {
public:
    ~TempFile()
    {
        if (fd >= 0)
            close(fd);
        if (!path.empty())
            unlink(path.c_str());
    }
    // Closes the descriptor, reporting a failure the kernel noticed late.
    bool Close()
    {
        const int descriptor = fd;
        fd = -1;
        if (Injected("close")) {
            close(descriptor);
            errno = EIO;
            return false;
        }
        return close(descriptor) == 0;
    }
    std::string path;
    int fd = -1;
};

}  // namespace

static std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The hidden name prefix of the temporary files made for `path`; the writer
// appends its process id, a dash and a counter.
static std::string TempPrefix(const std::string& path)
{
    const size_t slash = path.rfind('/');
    // Keep the name short enough that the suffix never overflows NAME_MAX.
    return "." + path.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 200) + ".tmp";
}

// Removes the temporary files for `path` that a writer killed half-way left:
// regular files of ours whose writing process no longer runs.
static void RemoveStaleTemporaries(const std::string& path)
{
    const std::string directory = DirectoryOf(path);
    const std::string prefix = TempPrefix(path);
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // The rest must read PID-COUNTER, both decimal.
        const char* rest = name.c_str() + prefix.size();
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(rest, &end, 10);
        if (errno != 0 || end == rest || *end != '-' || pid <= 0 || pid == getpid() || pid > INT_MAX)
            continue;
        const char* counter = end + 1;
        if (*counter == '\0' || std::strspn(counter, "0123456789") != std::strlen(counter))
            continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        const std::string stale = directory + "/" + name;
        struct stat info;
        if (lstat(stale.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid())
            unlink(stale.c_str());
    }
    closedir(dir);
}

// The next hidden name beside `path` for this process: in the same
// directory, so that a rename or link stays within one file system.
static std::string TempName(const std::string& path)
{
    static unsigned counter;
    return DirectoryOf(path) + "/" + TempPrefix(path) + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

// Opens a fresh temporary file for `path`, created with `mode` less the umask.
static bool CreateTemp(const std::string& path, mode_t mode, TempFile& temp, std::string& error)
{
    RemoveStaleTemporaries(path);
    if (Injected("create")) {
        error = Reason("cannot create a temporary file beside it");
        return false;
    }
    for (int attempt = 0; attempt < 100; attempt++) {
        const std::string name = TempName(path);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            temp.path = name;
            temp.fd = fd;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    error = Reason("cannot create a temporary file beside it");
    return false;
}

// Writes every byte in chunks and makes sure they reach the disk.
static bool WriteAndFlush(TempFile& temp, const std::vector<uint8_t>& bytes, std::string& error)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t chunk = std::min(WriteChunkSize, bytes.size() - done);
        if (Injected("write")) {
            error = Reason("cannot write the new file");
            return false;
        }
        const ssize_t written = write(temp.fd, bytes.data() + done, chunk);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            error = Reason("cannot write the new file");
            return false;
        }
        done += static_cast<size_t>(written);
    }
    if (Injected("fsync") || fsync(temp.fd) != 0) {
        error = Reason("cannot flush the new file to disk");
        return false;
    }
    return true;
}

// Gives the new file the old one's owner and group where this process may:
// root may set both, an owner may keep a group it belongs to. Where it may
// not, the file becomes this process's, as with any editor's save; that is
// no reason to refuse the save.
static void KeepOwner(int fd, const struct stat& old)
{
    if (fchown(fd, old.st_uid, old.st_gid) == 0)
        return;
    const int sameGroup = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    (void)sameGroup;
}

// Makes a rename or link in the directory of `path` durable; the file is
// complete either way.
static void SyncDirectory(const std::string& path)
{
    const int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
}

const char AlreadyExistsReason[] = "already exists; it is not replaced";

namespace {

// One file of a set on its way to its name.
struct Staged {
    const std::string* path = nullptr;
    const std::vector<uint8_t>* bytes = nullptr;
    TempFile temp;         // the new file under its temporary name
    std::string kept;      // a second name of the old file, to put it back
    bool replaces = false; // an old file had the name when staged
    bool placed = false;
};

}  // namespace

// Refuses what the writer never writes to: a symbolic link (in any mode) and
// anything but a regular file. Sets `exists` when a regular file is there.
static bool TargetAccepted(const std::string& path, bool& exists, struct stat& old, std::string& error)
{
    exists = false;
    if (lstat(path.c_str(), &old) != 0) {
        if (errno == ENOENT)
            return true;
        error = Reason("cannot look at it");
        return false;
    }
    if (S_ISLNK(old.st_mode)) {
        error = "is a symbolic link; nothing is written through it";
        return false;
    }
    if (!S_ISREG(old.st_mode)) {
        error = std::string("is ") + KindOf(old.st_mode) + ", only a regular file is replaced";
        return false;
    }
    exists = true;
    return true;
}

static mode_t UsualMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes the new file under a temporary name beside its target, complete and
// on disk, with its final mode; in a set, also keeps a second name of the
// file it will replace.
static bool Stage(Staged& staged, WriteMode mode, bool inSet, std::string& error)
{
    const std::string& path = *staged.path;
    struct stat old;
    if (!TargetAccepted(path, staged.replaces, old, error))
        return false;
    if (mode == WriteMode::CreateOnly && staged.replaces) {
        error = AlreadyExistsReason;
        return false;
    }
    const bool creating = mode == WriteMode::CreateOnly;
    // Private while being written when it takes another mode at the end.
    if (!CreateTemp(path, creating ? 0666 : 0600, staged.temp, error) ||
        !WriteAndFlush(staged.temp, *staged.bytes, error))
        return false;
    if (!creating) {
        if (staged.replaces)
            KeepOwner(staged.temp.fd, old);
        // The mode comes after the owner: a change of owner clears set-id bits.
        if (Injected("chmod") || fchmod(staged.temp.fd, staged.replaces ? old.st_mode & 07777 : UsualMode()) != 0) {
            error = Reason("cannot give the new file the old file's permissions");
            return false;
        }
    }
    if (!staged.temp.Close()) {
        error = Reason("cannot close the new file");
        return false;
    }
    if (inSet && staged.replaces) {
        // A hard link, not a copy: the old file itself, owner, mode and all.
        if (Injected("keep")) {
            error = Reason("cannot keep the old file to put it back on failure");
            return false;
        }
        for (int attempt = 0; attempt < 100 && staged.kept.empty(); attempt++) {
            const std::string name = TempName(path);
            if (link(path.c_str(), name.c_str()) == 0)
                staged.kept = name;
            else if (errno != EEXIST)
                break;
        }
        if (staged.kept.empty()) {
            error = Reason("cannot keep the old file to put it back on failure");
            return false;
        }
    }
    return true;
}

// Gives the staged file its name: rename(2) replaces, link(2) never does.
static bool Place(Staged& staged, WriteMode mode, std::string& error)
{
    const std::string& path = *staged.path;
    if (mode == WriteMode::CreateOnly) {
        if (Injected("link") || link(staged.temp.path.c_str(), path.c_str()) != 0) {
            const int why = errno;
            struct stat there;
            if (why == EEXIST && lstat(path.c_str(), &there) == 0 && S_ISLNK(there.st_mode))
                error = "is a symbolic link; nothing is written through it";
            else if (why == EEXIST)
                error = AlreadyExistsReason;
            else
                error = Reason("cannot give the new file its name");
            return false;
        }
        // The temporary name goes with TempFile; the file keeps its new name.
        staged.placed = true;
        return true;
    }
    // What took the name since it was staged is refused too; rename(2) would
    // replace a link rather than write through it, and never a directory.
    bool exists;
    struct stat old;
    if (!TargetAccepted(path, exists, old, error))
        return false;
    if (Injected("rename") || rename(staged.temp.path.c_str(), path.c_str()) != 0) {
        error = Reason("cannot rename the new file over the old one");
        return false;
    }
    staged.temp.path.clear();  // it is the file now
    staged.placed = true;
    return true;
}

// Puts back what the files placed so far replaced, last first; says what
// could not be put back.
static void Undo(std::vector<std::unique_ptr<Staged>>& set, std::string& error)
{
    for (auto it = set.rbegin(); it != set.rend(); ++it) {
        Staged& staged = **it;
        if (!staged.placed)
            continue;
        const std::string& path = *staged.path;
        const bool undone = staged.kept.empty() ? unlink(path.c_str()) == 0
                                                : rename(staged.kept.c_str(), path.c_str()) == 0;
        if (undone)
            staged.kept.clear();
        else
            error += "; and " + path + " could not be put back: " + std::strerror(errno);
    }
}

// Stages every file, then places each in turn; on any failure removes the
// temporaries and undoes what was placed. `failed` names the file at fault.
static bool WriteSetWhy(std::vector<std::unique_ptr<Staged>>& set, WriteMode mode, std::string& failed,
                        std::string& error)
{
    bool written = true;
    for (size_t i = 0; written && i < set.size(); i++)
        if (!Stage(*set[i], mode, set.size() > 1, error)) {
            failed = *set[i]->path;
            written = false;
        }
    for (size_t i = 0; written && i < set.size(); i++)
        if (!Place(*set[i], mode, error)) {
            failed = *set[i]->path;
            Undo(set, error);
            written = false;
        }
    for (const auto& staged : set) {
        if (written)
            SyncDirectory(*staged->path);
        if (!staged->kept.empty())
            unlink(staged->kept.c_str());
    }
    return written;
}

static bool WriteStaged(std::vector<std::unique_ptr<Staged>>& set, WriteMode mode, Error& error)
{
    std::string failed, why;
    if (WriteSetWhy(set, mode, failed, why))
        return true;
    error = Error{failed, why};
    return false;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, WriteMode mode, Error& error)
{
    std::vector<std::unique_ptr<Staged>> set;
    set.push_back(std::make_unique<Staged>());
    set.back()->path = &path;
    set.back()->bytes = &bytes;
    return WriteStaged(set, mode, error);
}

bool WriteFileSet(const std::vector<FileToWrite>& files, WriteMode mode, Error& error)
{
    std::vector<std::unique_ptr<Staged>> set;
    for (const FileToWrite& file : files) {
        set.push_back(std::make_unique<Staged>());
        set.back()->path = &file.Path;
        set.back()->bytes = &file.Bytes;
    }
    return WriteStaged(set, mode, error);
}

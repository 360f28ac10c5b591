// Writing files whole or not at all, through a temporary file in the same
// directory that is flushed and then renamed (or linked) to its final name.
#include "file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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

// Opens a fresh file named after `path` in the same directory, so that a
// rename stays within one file system. Created with `mode` less the umask.
static bool CreateTemp(const std::string& path, mode_t mode, TempFile& temp, std::string& error)
{
    static unsigned counter;
    const size_t slash = path.rfind('/');
    // Keep the name short enough that the suffix never overflows NAME_MAX.
    const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 200);
    if (Injected("create")) {
        error = Reason("cannot create a temporary file beside it");
        return false;
    }
    for (int attempt = 0; attempt < 100; attempt++) {
        const std::string name = DirectoryOf(path) + "/." + base + ".tmp" + std::to_string(getpid()) + "-" +
                                 std::to_string(counter++);
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

bool ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
{
    // Through a symbolic link, the file it names is the one replaced; the
    // link itself stays a link.
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) {
        error = Reason("cannot resolve its path");
        return false;
    }
    const std::string target = resolved;
    struct stat old;
    if (stat(target.c_str(), &old) != 0) {
        error = Reason("cannot read its permissions");
        return false;
    }

    // Private while being written; the old file's mode comes at the end.
    TempFile temp;
    if (!CreateTemp(target, 0600, temp, error) || !WriteAndFlush(temp, bytes, error))
        return false;
    KeepOwner(temp.fd, old);
    // The mode comes after the owner: a change of owner clears set-id bits.
    if (Injected("chmod") || fchmod(temp.fd, old.st_mode & 07777) != 0) {
        error = Reason("cannot give the new file the old file's permissions");
        return false;
    }
    if (!temp.Close()) {
        error = Reason("cannot close the new file");
        return false;
    }
    if (Injected("rename") || rename(temp.path.c_str(), target.c_str()) != 0) {
        error = Reason("cannot rename the new file over the old one");
        return false;
    }
    temp.path.clear();  // it is the file now

    // Make the rename itself durable; the file is complete either way.
    const int dir = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool CreateFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
{
    TempFile temp;
    if (!CreateTemp(path, 0666, temp, error) || !WriteAndFlush(temp, bytes, error))
        return false;
    if (!temp.Close()) {
        error = Reason("cannot close the new file");
        return false;
    }
    // link() never replaces an existing name, unlike rename().
    if (Injected("link") || link(temp.path.c_str(), path.c_str()) != 0) {
        error = errno == EEXIST ? std::string("already exists; it is not replaced")
                                : Reason("cannot give the new file its name");
        return false;
    }
    // The temporary name is removed by TempFile; the file keeps its new name.
    const int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

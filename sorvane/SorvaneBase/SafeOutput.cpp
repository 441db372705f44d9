#include "SorvaneBase/SafeOutput.h"

#include "SorvaneBase/Logger.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace sorvane {

namespace {

// ".NAME.svtmp-XXXXXX": hidden, and a name no tool of ours gives a finished file.
constexpr const char* kMarker = ".svtmp-";
constexpr size_t kRandomLength = 6;
// A temporary this young may belong to a run that has created it and not yet locked it.
constexpr time_t kStaleAfterSeconds = 10;

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isTemporaryName(const std::string& name)
{
    const size_t marker = name.rfind(kMarker);
    return name.size() > 1 && name[0] == '.' && marker != std::string::npos
        && name.size() == marker + std::strlen(kMarker) + kRandomLength;
}

} // namespace

SafeOutput::~SafeOutput()
{
    discard();
}

bool SafeOutput::begin(const std::string& target, int inputFd, std::string& error)
{
    discard();
    if (target.empty() || target.back() == '/') {
        error = "no file name given";
        return false;
    }
    destination = target;
    struct stat link {};
    if (::lstat(target.c_str(), &link) == 0) {
        if (S_ISLNK(link.st_mode)) {
            // Written through: the link stays and names the new file.
            char resolved[PATH_MAX];
            struct stat named {};
            if (::realpath(target.c_str(), resolved) == nullptr || ::stat(resolved, &named) != 0) {
                error = target + " is a link to nothing";
                return false;
            }
            destination = resolved;
            link = named;
        }
        if (!S_ISREG(link.st_mode)) {
            error = target + " exists and is not a regular file";
            return false;
        }
        struct stat input {};
        if (inputFd >= 0 && ::fstat(inputFd, &input) == 0 && input.st_dev == link.st_dev
            && input.st_ino == link.st_ino) {
            error = target + " is the input itself";
            return false;
        }
    } else if (errno != ENOENT) {
        error = "cannot use " + target + ": " + std::strerror(errno);
        return false;
    }

    const std::string folder = folderOf(destination);
    removeStale(folder);
    std::string pattern = folder + "/." + nameOf(destination) + kMarker + std::string(kRandomLength, 'X');
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write into " + folder + ": " + std::strerror(errno);
        return false;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    ::fchmod(fd, 0644);
    temporary = pattern;
    lockFd = fd;
    return true;
}

bool SafeOutput::commit(std::string& error)
{
    if (temporary.empty()) {
        error = "nothing was written";
        return false;
    }
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        error = "cannot write " + destination + ": " + std::strerror(errno);
        discard();
        return false;
    }
    temporary.clear();
    ::close(lockFd);
    lockFd = -1;
    return true;
}

void SafeOutput::discard()
{
    if (!temporary.empty())
        ::unlink(temporary.c_str());
    temporary.clear();
    if (lockFd >= 0)
        ::close(lockFd);
    lockFd = -1;
}

int SafeOutput::removeStale(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    const time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isTemporaryName(name))
            continue;
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat status {};
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && now - status.st_mtime >= kStaleAfterSeconds
            && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (::unlink(path.c_str()) == 0) {
                ++removed;
                SV_LOG_INFO("removed %s, left behind by an interrupted run", path.c_str());
            }
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

} // namespace sorvane

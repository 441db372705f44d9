#include "SorvaneBase/SafeOutput.h"

#include "SorvaneBase/Logger.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

namespace sorvane {

namespace {

// ".NAME.svtmp-" and 16 hex digits: hidden, and a name no tool of ours gives a finished file.
constexpr const char* kMarker = ".svtmp-";
constexpr size_t kCheckLength = 16;
// A temporary this young may belong to a run that is still setting it up.
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

uint64_t mix(uint64_t x)
{
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// What the name of a temporary of ours says about the file it names: a copy, a user's file of a
// similar name or a new file in place of a removed one has another device or inode, so another
// check value.
uint64_t checkValue(const struct stat& file)
{
    constexpr uint64_t key = 0x5356746d70436b31ULL;
    return mix(mix(key ^ uint64_t(file.st_dev)) ^ uint64_t(file.st_ino));
}

std::string checkText(uint64_t value)
{
    char text[kCheckLength + 1];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// The check value a name of our form carries, if it has that form.
std::optional<uint64_t> checkInName(const std::string& name)
{
    const size_t marker = name.rfind(kMarker);
    if (name.size() < 2 || name[0] != '.' || marker == std::string::npos
        || name.size() != marker + std::strlen(kMarker) + kCheckLength)
        return std::nullopt;
    const char* first = name.data() + marker + std::strlen(kMarker);
    const char* last = name.data() + name.size();
    if (!std::all_of(first, last, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return std::nullopt;
    uint64_t value = 0;
    std::from_chars(first, last, value, 16);
    return value;
}

// Moves the new file at from to a name that carries its check value; false (the file keeps its
// first name) when the folder refuses both ways.
bool renameChecked(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without renameat2's flags: link refuses an existing name as well.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameFolder(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && sameFile(first, second);
}

// The input's set (FOLDER/NAME, for NAME.raw, NAME.mp4 and NAME.json, the input reached by its
// path as given and by the path it resolves to) when one of paths names a member of it, in a
// folder of any spelling, or the existing target is one; empty otherwise. A member that does not
// exist yet counts as well: a video written beside a recording would pass for its frames.
std::string setMemberAmong(const std::string& input, const std::vector<std::string>& paths, const struct stat* target)
{
    std::vector<std::string> inputs{input};
    char resolved[PATH_MAX];
    if (::realpath(input.c_str(), resolved) != nullptr && input != resolved)
        inputs.emplace_back(resolved);
    for (const std::string& path : inputs) {
        const std::string folder = folderOf(path);
        const std::string name = nameOf(path);
        const std::string base = name.substr(0, std::min(name.rfind('.'), name.size()));
        for (const char* extension : {".raw", ".mp4", ".json"}) {
            const std::string member = base + extension;
            struct stat existing {};
            if (target && ::stat((folder + "/" + member).c_str(), &existing) == 0 && sameFile(existing, *target))
                return folder + "/" + base;
            for (const std::string& candidate : paths)
                if (nameOf(candidate) == member && sameFolder(folderOf(candidate), folder))
                    return folder + "/" + base;
        }
    }
    return {};
}

} // namespace

SafeOutput::~SafeOutput()
{
    discard();
}

bool SafeOutput::begin(const std::string& target, ExistingFile existing, const OutputSource& source,
                       std::string& error)
{
    discard();
    if (target.empty() || target.back() == '/') {
        error = "no file name given";
        return false;
    }
    destination = target;
    struct stat link {};
    const bool exists = ::lstat(target.c_str(), &link) == 0;
    if (exists) {
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
        if (source.fd >= 0 && ::fstat(source.fd, &input) == 0 && sameFile(input, link)) {
            error = target + " is the input itself";
            return false;
        }
    } else if (errno != ENOENT) {
        error = "cannot use " + target + ": " + std::strerror(errno);
        return false;
    }
    // Not even when asked: the set would lose a member or gain one made from its own events.
    if (!source.path.empty()) {
        const std::string set = setMemberAmong(source.path, {target, destination}, exists ? &link : nullptr);
        if (!set.empty()) {
            error = target + " belongs to the input's own set " + set + " (.raw, .mp4, .json) and is never written";
            return false;
        }
    }
    if (exists && existing != ExistingFile::Replace) {
        error = target + std::string(kExistsAlready);
        return false;
    }

    const std::string folder = folderOf(destination);
    removeStale(folder, source.fd);
    const std::string prefix = folder + "/." + nameOf(destination) + kMarker;
    std::string pattern = prefix + "XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write into " + folder + ": " + std::strerror(errno);
        return false;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    ::fchmod(fd, 0644);
    temporary = pattern;
    lockFd = fd;
    // Named for removeStale only once locked; a temporary that cannot be renamed is written
    // all the same, and only not recognised as ours should this run be killed.
    struct stat created {};
    if (::fstat(fd, &created) == 0) {
        const std::string checked = prefix + checkText(checkValue(created));
        if (renameChecked(pattern, checked))
            temporary = checked;
    }
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

int SafeOutput::removeStale(const std::string& folder, int inputFd)
{
    struct stat input {};
    const bool hasInput = inputFd >= 0 && ::fstat(inputFd, &input) == 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    const time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::optional<uint64_t> check = checkInName(name);
        if (!check)
            continue;
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat status {};
        struct stat named {};
        // The lock shows that no run holds it; the name is looked at again under the lock, so
        // that only the file checked is removed.
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && checkValue(status) == *check
            && !(hasInput && status.st_dev == input.st_dev && status.st_ino == input.st_ino)
            && now - status.st_mtime >= kStaleAfterSeconds && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::lstat(path.c_str(), &named) == 0 && named.st_dev == status.st_dev && named.st_ino == status.st_ino
            && ::unlink(path.c_str()) == 0) {
            ++removed;
            SV_LOG_WARNING("removed %s, left behind by an interrupted run", path.c_str());
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

} // namespace sorvane

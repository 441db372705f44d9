#include "SorvaneDriver/Raw/IndexCache.h"

#include "SorvaneBase/WriteAll.h"

#include "SorvaneBase/Logger.h"
#include "SorvaneDriver/Raw/ReadAt.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>
#include <vector>

namespace sorvane {

namespace {

constexpr char kMagic[8] = {'S', 'V', 'I', 'N', 'D', 'E', 'X', '\n'};
// Raised whenever the layout or what a scan finds changes.
constexpr uint32_t kVersion = 4;
constexpr uint64_t kHashedEdgeBytes = 64 * 1024;
constexpr int64_t kSettleSeconds = 2;
constexpr size_t kHeaderBytes = sizeof kMagic + 8 + 6 * 8 + 2 * 8;
constexpr size_t kSummaryBytes = 16 * 8;
constexpr size_t kCheckpointRecordBytes = 8 + 24 + 4 * 8;
constexpr size_t kTriggerRecordBytes = 16;
constexpr uint64_t kMaxProfileBins = 1 << 16;

// Four independent lanes so that it runs at memory speed; not cryptographic, it only has to
// notice damage and changes.
uint64_t hashBytes(const uint8_t* p, size_t size, uint64_t seed = 0)
{
    constexpr uint64_t k = 0x9E3779B97F4A7C15ull;
    uint64_t lanes[4] = {seed ^ 0x243F6A8885A308D3ull, seed ^ 0x13198A2E03707344ull, seed ^ 0xA4093822299F31D0ull,
                         seed ^ 0x082EFA98EC4E6C89ull};
    size_t i = 0;
    for (; i + 32 <= size; i += 32) {
        for (int lane = 0; lane < 4; ++lane) {
            uint64_t word;
            std::memcpy(&word, p + i + 8 * lane, 8);
            lanes[lane] = (lanes[lane] ^ word) * k;
            lanes[lane] ^= lanes[lane] >> 31;
        }
    }
    uint64_t h = lanes[0] ^ (lanes[1] * 3) ^ (lanes[2] * 5) ^ (lanes[3] * 7) ^ size;
    for (; i < size; ++i) {
        h = (h ^ p[i]) * k;
        h ^= h >> 31;
    }
    return (h ^ (h >> 29)) * k;
}

class Writer {
public:
    explicit Writer(size_t size) { bytes.reserve(size); }
    template <typename T>
    void put(T value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const size_t at = bytes.size();
        bytes.resize(at + sizeof value);
        std::memcpy(bytes.data() + at, &value, sizeof value);
    }
    std::vector<uint8_t> bytes;
};

class Reader {
public:
    Reader(const uint8_t* data_, size_t size_) : data(data_), size(size_) {}
    template <typename T>
    T get()
    {
        T value{};
        if (size - at < sizeof value) {
            ok = false;
            return value;
        }
        std::memcpy(&value, data + at, sizeof value);
        at += sizeof value;
        return value;
    }
    size_t left() const { return size - at; }
    bool ok = true;

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

void putIdentity(Writer& out, const FileIdentity& identity)
{
    out.put(identity.device);
    out.put(identity.inode);
    out.put(identity.size);
    out.put(identity.modifiedNs);
    out.put(identity.changedNs);
    out.put(identity.contentHash);
}

FileIdentity getIdentity(Reader& in)
{
    FileIdentity identity;
    identity.device = in.get<uint64_t>();
    identity.inode = in.get<uint64_t>();
    identity.size = in.get<uint64_t>();
    identity.modifiedNs = in.get<int64_t>();
    identity.changedNs = in.get<int64_t>();
    identity.contentHash = in.get<uint64_t>();
    return identity;
}

size_t payloadBytesOf(const RecordingScan& scan)
{
    return kSummaryBytes + scan.index.size() * kCheckpointRecordBytes + scan.triggers.size() * kTriggerRecordBytes
        + scan.rateProfile.size() * 8;
}

// The payload after what out holds.
void putPayload(Writer& out, const RecordingScan& scan)
{
    const ScanStats& totals = scan.totals;
    for (uint64_t value : {scan.dataEnd, totals.events, totals.triggers, totals.maxEventTime, totals.maxTime,
                           totals.minTime, totals.outside, totals.timeRepairs, scan.firstEventTime, scan.lastEventTime,
                           uint64_t(scan.triggersKept), uint64_t(scan.index.size()), uint64_t(scan.triggers.size()),
                           uint64_t(scan.rateProfile.size()), uint64_t(totals.maxX), uint64_t(totals.maxY)})
        out.put(value);
    for (size_t i = 0; i < scan.index.size(); ++i) {
        const Checkpoint& c = scan.index[i];
        out.put(c.offset);
        out.put(c.state.timeBase);
        out.put(c.state.timeHigh);
        out.put(c.state.timeLow);
        out.put(c.state.y);
        out.put(c.state.vectBase);
        out.put(c.state.polarity);
        out.put(uint8_t(c.state.timeKnown));
        out.put(uint16_t(0));
        out.put(c.eventsBefore);
        out.put(c.maxTimeBefore);
        out.put(c.minTime);
        out.put(c.maxTime);
    }
    for (const EventTriggerIn& edge : scan.triggers) {
        out.put(edge.id);
        out.put(edge.polarity);
        out.put(uint32_t(0));
        out.put(edge.timestamp);
    }
    for (uint64_t count : scan.rateProfile)
        out.put(count);
}

// Rebuilds a scan of a file of fileSize bytes from a payload whose checksum matched; false
// when it does not hold together.
bool scanOf(Reader in, uint64_t fileSize, RecordingScan& scan)
{
    scan = RecordingScan{};
    ScanStats& totals = scan.totals;
    scan.dataEnd = in.get<uint64_t>();
    totals.events = in.get<uint64_t>();
    totals.triggers = in.get<uint64_t>();
    totals.maxEventTime = in.get<uint64_t>();
    totals.maxTime = in.get<uint64_t>();
    totals.minTime = in.get<uint64_t>();
    totals.outside = in.get<uint64_t>();
    totals.timeRepairs = in.get<uint64_t>();
    scan.firstEventTime = in.get<uint64_t>();
    scan.lastEventTime = in.get<uint64_t>();
    const uint64_t kept = in.get<uint64_t>();
    const uint64_t checkpoints = in.get<uint64_t>();
    const uint64_t edges = in.get<uint64_t>();
    const uint64_t profileBins = in.get<uint64_t>();
    totals.maxX = uint32_t(in.get<uint64_t>());
    totals.maxY = uint32_t(in.get<uint64_t>());
    if (!in.ok || kept > 1 || scan.dataEnd > fileSize || checkpoints == 0
        || checkpoints != (scan.dataEnd + kCheckpointBytes - 1) / kCheckpointBytes + 1
        || (kept == 0 && edges > 0) || edges > kMaxKeptTriggers || profileBins > kMaxProfileBins
        || in.left() != checkpoints * kCheckpointRecordBytes + edges * kTriggerRecordBytes + profileBins * 8)
        return false;
    scan.triggersKept = kept == 1;
    scan.index.reserve(size_t(checkpoints));
    uint64_t lastOffset = 0;
    for (uint64_t i = 0; i < checkpoints; ++i) {
        Checkpoint c;
        c.offset = in.get<uint64_t>();
        c.state.timeBase = in.get<uint64_t>();
        c.state.timeHigh = in.get<uint32_t>();
        c.state.timeLow = in.get<uint32_t>();
        c.state.y = in.get<uint16_t>();
        c.state.vectBase = in.get<uint16_t>();
        c.state.polarity = in.get<uint8_t>();
        c.state.timeKnown = in.get<uint8_t>() != 0;
        in.get<uint16_t>();
        c.eventsBefore = in.get<uint64_t>();
        c.maxTimeBefore = in.get<uint64_t>();
        c.minTime = in.get<uint64_t>();
        c.maxTime = in.get<uint64_t>();
        if (c.offset < lastOffset || c.offset > scan.dataEnd || c.eventsBefore > totals.events)
            return false;
        lastOffset = c.offset;
        scan.index.add(c);
    }
    if (scan.index.back().offset != scan.dataEnd || scan.index.back().eventsBefore != totals.events)
        return false;
    scan.triggers.reserve(edges);
    for (uint64_t i = 0; i < edges; ++i) {
        EventTriggerIn edge;
        edge.id = in.get<int16_t>();
        edge.polarity = in.get<int16_t>();
        in.get<uint32_t>();
        edge.timestamp = in.get<uint64_t>();
        scan.triggers.push_back(edge);
    }
    scan.rateProfile.resize(size_t(profileBins));
    for (uint64_t& count : scan.rateProfile)
        count = in.get<uint64_t>();
    scan.index.finish();
    return in.ok && in.left() == 0;
}

bool makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

} // namespace

bool identifyFile(int fd, FileIdentity& identity)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return false;
    identity.device = uint64_t(status.st_dev);
    identity.inode = uint64_t(status.st_ino);
    identity.size = uint64_t(status.st_size);
    identity.modifiedNs = int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
    identity.changedNs = int64_t(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec;
    std::vector<uint8_t> edge(size_t(std::min(identity.size, kHashedEdgeBytes)));
    int error = 0;
    if (readAt(fd, 0, edge.data(), edge.size(), error) != edge.size())
        return false;
    identity.contentHash = hashBytes(edge.data(), edge.size());
    const uint64_t tail = identity.size - edge.size();
    if (readAt(fd, tail, edge.data(), edge.size(), error) != edge.size())
        return false;
    identity.contentHash = hashBytes(edge.data(), edge.size(), identity.contentHash);
    return true;
}

IndexCache::IndexCache(std::string folder, uint64_t capBytes_) : directory(std::move(folder)), capBytes(capBytes_) {}

IndexCache IndexCache::standard()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return IndexCache(std::string(cache) + "/SorvaneViewer/index");
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return IndexCache(std::string(home) + "/.cache/SorvaneViewer/index");
    return IndexCache(std::string());
}

std::string IndexCache::entryPath(const FileIdentity& identity) const
{
    // One entry per file: a changed file replaces its entry.
    const uint64_t place[2] = {identity.device, identity.inode};
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.index",
                  static_cast<unsigned long long>(hashBytes(reinterpret_cast<const uint8_t*>(place), sizeof place)));
    return directory + "/" + name;
}

bool IndexCache::load(const FileIdentity& identity, RecordingScan& scan) const
{
    if (directory.empty())
        return false;
    const std::string path = entryPath(identity);
    // Non-blocking, so that a FIFO put in an entry's place cannot hold the open; only a regular
    // file is read below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    // Nothing larger than an entry of this file can be one: a damaged size allocates nothing.
    const uint64_t largest = kHeaderBytes + kSummaryBytes
        + (identity.size / kCheckpointBytes + 2) * kCheckpointRecordBytes + kMaxKeptTriggers * kTriggerRecordBytes
        + kMaxProfileBins * 8;
    struct stat status {};
    // Mapped, with its pages in at once: no copy, and no page faults one by one. Entries are only
    // ever replaced by a rename, never shortened in place, so the mapping stays whole.
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && uint64_t(status.st_size) >= kHeaderBytes
        && uint64_t(status.st_size) <= largest) {
        size = size_t(status.st_size);
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        bytes = mapped == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(mapped);
    }
    bool used = false;
    if (bytes) {
        Reader in(bytes, size);
        char magic[sizeof kMagic];
        for (char& c : magic)
            c = in.get<char>();
        const uint32_t version = in.get<uint32_t>();
        in.get<uint32_t>();
        const FileIdentity stored = getIdentity(in);
        const uint64_t payloadBytes = in.get<uint64_t>();
        const uint64_t payloadHash = in.get<uint64_t>();
        const uint8_t* payload = bytes + kHeaderBytes;
        used = in.ok && std::memcmp(magic, kMagic, sizeof kMagic) == 0 && version == kVersion && stored == identity
            && payloadBytes == in.left() && hashBytes(payload, payloadBytes) == payloadHash
            && scanOf(Reader(payload, payloadBytes), identity.size, scan);
    }
    if (bytes)
        ::munmap(const_cast<uint8_t*>(bytes), size);
    if (used)
        ::futimens(fd, nullptr); // just used: the last to be evicted
    else
        scan = RecordingScan{};
    ::close(fd);
    return used;
}

void IndexCache::store(const FileIdentity& identity, const RecordingScan& scan) const
{
    // A file modified within the last moments may change again within the same timestamp (file
    // systems keep them coarser than they show), and would then look unchanged: not kept.
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (directory.empty() || identity.modifiedNs > int64_t(now.tv_sec - kSettleSeconds) * 1'000'000'000 + now.tv_nsec)
        return;
    const size_t payloadBytes = payloadBytesOf(scan);
    Writer out(kHeaderBytes + payloadBytes);
    for (char c : kMagic)
        out.put(c);
    out.put(kVersion);
    out.put(uint32_t(0));
    putIdentity(out, identity);
    out.put(uint64_t(payloadBytes));
    out.put(uint64_t(0)); // its hash, once it is written
    putPayload(out, scan);
    const uint64_t payloadHash = hashBytes(out.bytes.data() + kHeaderBytes, payloadBytes);
    std::memcpy(out.bytes.data() + kHeaderBytes - sizeof payloadHash, &payloadHash, sizeof payloadHash);

    const std::string path = entryPath(identity);
    std::string temporary = path + ".XXXXXX";
    int fd = -1;
    if (makeFolders(directory))
        fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        SV_LOG_INFO("the index cannot be kept in %s: %s", directory.c_str(), std::strerror(errno));
        return;
    }
    const bool written = writeAll(fd, out.bytes.data(), out.bytes.size());
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        SV_LOG_INFO("the index cannot be kept in %s: %s", directory.c_str(), std::strerror(errno));
        ::unlink(temporary.c_str());
        return;
    }
    evictBeyondCap(path);
}

void IndexCache::evictBeyondCap(const std::string& keep) const
{
    struct Entry {
        std::string path;
        uint64_t size;
        int64_t usedNs;
    };
    std::vector<Entry> entries;
    uint64_t total = 0;
    DIR* folder = ::opendir(directory.c_str());
    if (!folder)
        return;
    while (const dirent* item = ::readdir(folder)) {
        const std::string path = directory + "/" + item->d_name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        entries.push_back({path, uint64_t(status.st_size),
                           int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec});
        total += uint64_t(status.st_size);
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.usedNs < b.usedNs; });
    for (const Entry& entry : entries) {
        if (total <= capBytes)
            break;
        if (entry.path == keep)
            continue;
        if (::unlink(entry.path.c_str()) == 0)
            total -= entry.size;
    }
}

} // namespace sorvane

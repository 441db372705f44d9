#pragma once
// Scans of recordings kept between runs, so that a recording is read whole only once. They live
// in the user's cache folder, never beside the recording (it may be read-only or shared).
//
// An entry names the file it was made from by its identity; an entry of another identity, of
// another format version or damaged in any way is not used (the file is scanned again), so the
// cache can make opening faster but never give another answer. Writing is best effort: an entry
// is written under a temporary name and renamed, and a cache that cannot be written is skipped.
// The entries used least recently are removed once the folder grows past its cap.
#include "SorvaneDriver/Raw/IndexScan.h"

#include <cstdint>
#include <string>

namespace sorvane {

// What tells a recording from any other, or from itself after a change.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    // The status change time: no user can set it back, so a rewrite whose size and modification
    // time were put back is still seen.
    int64_t changedNs = 0;
    uint64_t contentHash = 0; // of the first and the last 64 KB (the header among them)
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// False when the file cannot be examined.
bool identifyFile(int fd, FileIdentity& identity);

class IndexCache {
public:
    static constexpr uint64_t kDefaultCapBytes = uint64_t(1) << 30;

    // folder empty: a cache that holds nothing.
    explicit IndexCache(std::string folder, uint64_t capBytes = kDefaultCapBytes);
    // $XDG_CACHE_HOME/SorvaneViewer/index, else $HOME/.cache/SorvaneViewer/index.
    static IndexCache standard();

    const std::string& folder() const { return directory; }
    // The scan kept for the file of this identity, marked as just used. False when there is
    // none that can be trusted.
    bool load(const FileIdentity& identity, RecordingScan& scan) const;
    // Keeps scan for the file of this identity, then removes the least recently used entries
    // past the cap. Failures are logged, never reported. A file modified in the last two seconds
    // is not kept.
    void store(const FileIdentity& identity, const RecordingScan& scan) const;

private:
    std::string entryPath(const FileIdentity& identity) const;
    void evictBeyondCap(const std::string& keep) const;

    std::string directory;
    uint64_t capBytes;
};

} // namespace sorvane

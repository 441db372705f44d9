#pragma once
// A new file that replaces nothing the user has not agreed to lose: it is written under a
// temporary name beside its target (created exclusively, so it never equals an existing file) and
// renamed onto the target only when complete. An existing target is replaced only when the caller
// says the user asked for it, and must be a regular file; a symbolic link is written through to
// the file it names. The input, by any path or link, and the other members of its set (NAME.raw,
// NAME.mp4 and NAME.json beside it, whether they exist or not) are never a target.
//
// The temporary is held locked while it is written, and its name carries a check value made from
// the file's own device and inode, so that a later run can tell a temporary left behind by a
// killed process from one still being written and from any other file of a similar name (a
// user's, or a copy of a leftover), and remove only the first (removeStale).
#include <string>
#include <string_view>

namespace sorvane {

// What to do with a target that exists: replace it only when the user said so.
enum class ExistingFile { Refuse, Replace };

// The file an output is made from: path as the user gave it, and the open descriptor it is read
// through (-1: none).
struct OutputSource {
    std::string path;
    int fd = -1;
};

class SafeOutput {
public:
    SafeOutput() = default;
    ~SafeOutput(); // removes a temporary that was not committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // False, with error set, when the target may not be written or the temporary cannot be
    // created. A refused existing target ends error with kExistsAlready.
    bool begin(const std::string& target, ExistingFile existing, const OutputSource& source, std::string& error);
    static constexpr std::string_view kExistsAlready = " exists already";
    // The temporary, empty before begin().
    const std::string& temporaryPath() const { return temporary; }
    int temporaryFd() const { return lockFd; }
    // The file the temporary will replace (the target, or the file a link names).
    const std::string& finalPath() const { return destination; }
    // Moves the temporary onto the target. False, with error set, when it cannot; the temporary
    // is then removed.
    bool commit(std::string& error);
    // Removes the temporary.
    void discard();

    // Removes the temporaries in folder that a run of ours left behind: named and checked as ours,
    // regular, older than a few seconds, held by no running process, and not the file open on
    // inputFd (-1: none). Each removal is logged as a warning. Returns how many were removed.
    static int removeStale(const std::string& folder, int inputFd = -1);

private:
    std::string temporary;
    std::string destination;
    int lockFd = -1; // open on the temporary and holding its lock
};

} // namespace sorvane

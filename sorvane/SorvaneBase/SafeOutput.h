#pragma once
// A new file that replaces nothing the user has: it is written under a temporary name beside its
// target (created exclusively, so it never equals an existing file) and renamed onto the target
// only when complete. The target must not be the input, by any path or link, and must be a
// regular file or not exist; a symbolic link is written through to the file it names.
//
// The temporary is held locked while it is written, and its name carries a check value made from
// the file's own device and inode, so that a later run can tell a temporary left behind by a
// killed process from one still being written and from any other file of a similar name (a
// user's, or a copy of a leftover), and remove only the first (removeStale).
#include <string>

namespace sorvane {

class SafeOutput {
public:
    SafeOutput() = default;
    ~SafeOutput(); // removes a temporary that was not committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // inputFd: the open file the output is made from (-1: none). False, with error set, when the
    // target may not be written or the temporary cannot be created.
    bool begin(const std::string& target, int inputFd, std::string& error);
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

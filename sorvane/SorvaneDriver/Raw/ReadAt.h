#pragma once
// pread until done, for the readers of recordings and their index.
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <unistd.h>

namespace sorvane {

// Fewer bytes than asked only at the end of the file or on an error (then error is its errno).
inline size_t readAt(int fd, uint64_t offset, uint8_t* into, size_t size, int& error)
{
    size_t done = 0;
    error = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, into + done, size - done, off_t(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    return done;
}

} // namespace sorvane

#pragma once
// write until done: short writes and interrupted calls go on where they stopped.
#include <cerrno>
#include <cstddef>

#include <unistd.h>

namespace sorvane {

// False on a failed write (errno says why); every byte is written otherwise.
inline bool writeAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        size -= size_t(done);
    }
    return true;
}

} // namespace sorvane

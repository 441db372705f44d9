#include "SorvaneDriver/Raw/RawEventWriter.h"

#include "SorvaneBase/WriteAll.h"

#include "SorvaneBase/Logger.h"
#include "SorvaneDriver/Raw/Evt2Encoder.h"
#include "SorvaneDriver/Raw/Evt3Encoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace sorvane {

namespace {

// Pending words are handed to the system at this size, or by the flusher at the latest after
// kFlushPeriod.
constexpr size_t kFlushWords = 512 * 1024;
constexpr auto kFlushPeriod = std::chrono::milliseconds(500);
// Copied words larger than this bypass the pending buffer.
constexpr size_t kDirectCopyBytes = 64 * 1024;

std::string oneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string headerText(const RawHeaderInfo& header, int width, int height)
{
    char date[32] = "1970-01-01 00:00:00";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local))
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);

    std::string text;
    text += "% date " + std::string(date) + "\n";
    const bool evt2 = header.encoding == EventEncoding::Evt2;
    text += evt2 ? "% evt 2.0\n" : "% evt 3.0\n";
    text += std::string("% format ") + (evt2 ? "EVT2" : "EVT3") + ";height=" + std::to_string(height)
        + ";width=" + std::to_string(width) + "\n";
    text += "% geometry " + std::to_string(width) + "x" + std::to_string(height) + "\n";
    text += "% serial_number " + oneLine(header.serial) + "\n";
    for (const auto& [key, value] : header.extraKeys) {
        std::string name = oneLine(key);
        std::replace(name.begin(), name.end(), ' ', '_');
        if (name.empty() || name == "date" || name == "Date" || name == "evt" || name == "format"
            || name == "geometry" || name == "serial_number" || name == "end")
            continue;
        text += "% " + name + " " + oneLine(value) + "\n";
    }
    text += "% end\n";
    return text;
}

// Checked before any file is made for a recording.
bool possibleSensor(const std::string& path, const RawHeaderInfo& header)
{
    if (header.encoding != EventEncoding::Evt3 && header.encoding != EventEncoding::Evt2) {
        SV_LOG_ERROR("cannot record %s: only EVT 3.0 and EVT 2.0 are written", path.c_str());
        return false;
    }
    if (header.width > 0 && header.width <= 2048 && header.height > 0 && header.height <= 2048)
        return true;
    SV_LOG_ERROR("cannot record %s: sensor size %dx%d is not possible", path.c_str(), header.width, header.height);
    return false;
}

} // namespace

struct RawEventWriter::Impl {
    std::string path;
    std::string header;
    SensorGeometry geometry;
    Evt3Encoder encoder;
    bool evt2 = false; // words go through evt2Encoder instead
    Evt2Encoder evt2Encoder;

    // Guards fd, pending, written and failed between the writing thread and the flusher.
    std::mutex mutex;
    std::condition_variable wake;
    int fd = -1;
    std::vector<uint16_t> pending;
    uint64_t written = 0;
    bool failed = false;
    bool stopping = false;
    std::thread flusher;

    // Hands the pending words to the system. Called with mutex held.
    bool writePending()
    {
        if (pending.empty() || fd < 0)
            return !failed;
        if (!failed && !writeAll(fd, pending.data(), pending.size() * sizeof(uint16_t))) {
            failed = true;
            SV_LOG_ERROR("cannot write %s: %s", path.c_str(), std::strerror(errno));
        }
        pending.clear();
        return !failed;
    }

    void runFlusher()
    {
        std::unique_lock lock(mutex);
        while (!stopping) {
            wake.wait_for(lock, kFlushPeriod);
            writePending();
        }
    }
};

RawEventWriter::RawEventWriter() : impl(std::make_unique<Impl>()) {}

RawEventWriter::~RawEventWriter()
{
    close();
}

bool RawEventWriter::open(const std::string& path, const RawHeaderInfo& header)
{
    close();
    if (!possibleSensor(path, header))
        return false;
    // Never onto an existing file: a recording must not truncate another one.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        SV_LOG_ERROR("cannot create %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    if (!start(fd, path, header)) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

bool RawEventWriter::attach(int fd, const std::string& path, const RawHeaderInfo& header)
{
    close();
    if (!possibleSensor(path, header))
        return false;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        SV_LOG_ERROR("cannot write %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    return start(own, path, header);
}

bool RawEventWriter::start(int fd, const std::string& path, const RawHeaderInfo& header)
{
    const std::string text = headerText(header, header.width, header.height);
    if (!writeAll(fd, text.data(), text.size())) {
        SV_LOG_ERROR("cannot write %s: %s", path.c_str(), std::strerror(errno));
        ::close(fd);
        return false;
    }
    impl->path = path;
    impl->header = text;
    impl->geometry = SensorGeometry{uint32_t(header.width), uint32_t(header.height)};
    impl->encoder = Evt3Encoder(impl->geometry);
    impl->evt2 = header.encoding == EventEncoding::Evt2;
    impl->evt2Encoder = Evt2Encoder(impl->geometry);
    impl->fd = fd;
    impl->written = text.size();
    impl->failed = false;
    impl->stopping = false;
    impl->pending.clear();
    impl->pending.reserve(kFlushWords + 4096);
    impl->flusher = std::thread([this] { impl->runFlusher(); });
    return true;
}

bool RawEventWriter::restart()
{
    std::lock_guard lock(impl->mutex);
    if (impl->fd < 0)
        return false;
    impl->pending.clear();
    if (::ftruncate(impl->fd, 0) != 0 || ::lseek(impl->fd, 0, SEEK_SET) != 0
        || !writeAll(impl->fd, impl->header.data(), impl->header.size())) {
        impl->failed = true;
        SV_LOG_ERROR("cannot rewrite %s: %s", impl->path.c_str(), std::strerror(errno));
        return false;
    }
    impl->encoder = Evt3Encoder(impl->geometry);
    impl->evt2Encoder = Evt2Encoder(impl->geometry);
    impl->written = impl->header.size();
    impl->failed = false;
    return true;
}

bool RawEventWriter::write(const Event2D* begin, const Event2D* end)
{
    std::lock_guard lock(impl->mutex);
    if (impl->fd < 0 || impl->failed)
        return false;
    if (begin == nullptr || end <= begin)
        return true;
    const size_t before = impl->pending.size();
    if (impl->evt2)
        impl->evt2Encoder.encode(begin, end, impl->pending);
    else
        impl->encoder.encode(begin, end, impl->pending);
    impl->written += (impl->pending.size() - before) * sizeof(uint16_t);
    return impl->pending.size() < kFlushWords || impl->writePending();
}

bool RawEventWriter::writeTrigger(const EventTriggerIn& trigger)
{
    std::lock_guard lock(impl->mutex);
    if (impl->fd < 0 || impl->failed)
        return false;
    const size_t before = impl->pending.size();
    if (impl->evt2)
        impl->evt2Encoder.encodeTrigger(trigger, impl->pending);
    else
        impl->encoder.encodeTrigger(trigger, impl->pending);
    impl->written += (impl->pending.size() - before) * sizeof(uint16_t);
    return impl->pending.size() < kFlushWords || impl->writePending();
}

bool RawEventWriter::writeEvt3Words(std::span<const uint8_t> words, const DecoderState& before,
                                    const DecoderState& after)
{
    std::lock_guard lock(impl->mutex);
    if (impl->fd < 0 || impl->failed || impl->evt2)
        return false;
    const size_t pendingBefore = impl->pending.size();
    if (!impl->encoder.syncTo(before, impl->pending)) {
        impl->pending.resize(pendingBefore);
        return false;
    }
    impl->written += (impl->pending.size() - pendingBefore) * sizeof(uint16_t);
    const size_t size = words.size() & ~size_t(1);
    if (size >= kDirectCopyBytes) {
        if (!impl->writePending())
            return false;
        if (!writeAll(impl->fd, words.data(), size)) {
            impl->failed = true;
            SV_LOG_ERROR("cannot write %s: %s", impl->path.c_str(), std::strerror(errno));
            return false;
        }
    } else {
        const size_t at = impl->pending.size();
        impl->pending.resize(at + size / 2);
        std::memcpy(impl->pending.data() + at, words.data(), size);
    }
    impl->written += size;
    impl->encoder.assumeState(after);
    return impl->pending.size() < kFlushWords || impl->writePending();
}

bool RawEventWriter::flush()
{
    std::lock_guard lock(impl->mutex);
    if (impl->fd < 0)
        return false;
    return impl->writePending();
}

bool RawEventWriter::close()
{
    {
        std::lock_guard lock(impl->mutex);
        if (impl->fd < 0)
            return false;
        impl->stopping = true;
    }
    impl->wake.notify_all();
    if (impl->flusher.joinable())
        impl->flusher.join();

    std::lock_guard lock(impl->mutex);
    bool ok = impl->writePending();
    if (::close(impl->fd) != 0 && ok) {
        SV_LOG_ERROR("cannot close %s: %s", impl->path.c_str(), std::strerror(errno));
        ok = false;
    }
    impl->fd = -1;
    if (const uint64_t dropped = impl->encoder.droppedEvents() + impl->evt2Encoder.droppedEvents(); dropped > 0)
        SV_LOG_INFO("%s: %llu events outside the sensor were not written", impl->path.c_str(),
                    static_cast<unsigned long long>(dropped));
    return ok;
}

bool RawEventWriter::isOpen() const
{
    std::lock_guard lock(impl->mutex);
    return impl->fd >= 0;
}

uint64_t RawEventWriter::bytesWritten() const
{
    std::lock_guard lock(impl->mutex);
    return impl->written;
}

uint64_t RawEventWriter::droppedEvents() const
{
    std::lock_guard lock(impl->mutex);
    return impl->encoder.droppedEvents() + impl->evt2Encoder.droppedEvents();
}

} // namespace sorvane

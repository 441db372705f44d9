// Commands on recordings: info, dump, cut, export, frame.
#include "Cli.h"

#include "SorvaneBase/PngWriter.h"
#include "SorvaneBase/SafeOutput.h"
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/EventCsv.h"
#include "SorvaneDriver/Render/EventImage.h"
#include "SorvaneDriver/Video/ApsFileReader.h"
#include "SorvaneDriver/Video/VideoExport.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <vector>

namespace svraw {

namespace {

// --no-cache: scan, and keep nothing; --rebuild-index: scan, and keep the new index.
std::unique_ptr<sorvane::DvsFileReader> openRecording(const std::string& path, Options& options)
{
    auto reader = sorvane::DvsFileReader::createFileReader(path);
    if (!reader)
        return nullptr;
    if (options.flag("no-cache"))
        reader->setIndexCaching(sorvane::IndexCaching::Off);
    else if (options.flag("rebuild-index"))
        reader->setIndexCaching(sorvane::IndexCaching::Rebuild);
    Progress progress("loading");
    reader->setProgressCallback(progress.callback());
    const bool loaded = reader->loadFile();
    reader->setProgressCallback({});
    if (!loaded)
        return nullptr;
    return reader;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// Output of many short lines through one large buffer, one write per buffer.
class LineWriter {
public:
    LineWriter() : buffer(1 << 20) {}
    ~LineWriter() { flush(); }
    void number(uint64_t value)
    {
        reserve(24);
        used = size_t(std::to_chars(buffer.data() + used, buffer.data() + buffer.size(), value).ptr - buffer.data());
    }
    void character(char c)
    {
        reserve(1);
        buffer[used++] = c;
    }
    void events(std::span<const sorvane::Event2D> events)
    {
        constexpr size_t line = sorvane::EventCsvFormatter::kMaxLineBytes;
        while (!events.empty()) {
            reserve(line + sorvane::EventCsvFormatter::kSlackBytes);
            const size_t room = (buffer.size() - used - sorvane::EventCsvFormatter::kSlackBytes) / line;
            const size_t taken = std::min(room, events.size());
            used = size_t(csv.format(events.first(taken), buffer.data() + used) - buffer.data());
            events = events.subspan(taken);
        }
    }
    bool flush()
    {
        ok = ok && writeOutput(buffer.data(), used);
        used = 0;
        return ok;
    }
    bool failed() const { return !ok; }

private:
    void reserve(size_t size)
    {
        if (used + size > buffer.size())
            flush();
    }
    std::vector<char> buffer;
    size_t used = 0;
    bool ok = true;
    sorvane::EventCsvFormatter csv;
};

// The frames of a fusion set (a .mp4 beside the .raw, sharing the path up to its last "."), as
// further members of info's object; empty for a recording of events alone.
std::string apsFramesInfo(const std::string& path, const sorvane::DvsFileInfo& file)
{
    const size_t dot = path.rfind('.');
    const std::string video = path.substr(0, dot) + ".mp4";
    if (!std::filesystem::is_regular_file(video))
        return {};
    auto reader = sorvane::ApsFileReader::createFileReader(video);
    std::vector<uint64_t> frames;
    if (!reader || !reader->getFrameTimestamps(frames))
        return ", \"aps_frames\": null";
    char text[160];
    std::snprintf(text, sizeof text, ", \"aps_frames\": %zu, \"aps_width\": %d, \"aps_height\": %d, \"aps_time_offset_us\": %lld",
                  frames.size(), reader->getWidth(), reader->getHeight(), static_cast<long long>(file.apsTimeOffset));
    return text;
}

int info(Options& options)
{
    const std::string path = options.positional()[0];
    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    sorvane::DvsFileInfo file;
    reader->getFileInfo(file);
    const uint64_t duration = file.eventCount > 0 ? file.lastTimestamp - file.firstTimestamp : 0;
    print("{\"encoding\": %s, \"width\": %d, \"height\": %d, \"events\": %llu, \"triggers\": %llu, "
          "\"first_timestamp_us\": %llu, \"last_timestamp_us\": %llu, \"duration_us\": %llu, "
          "\"size_bytes\": %llu, \"serial\": %s, \"events_outside_sensor\": %llu, \"time_repairs\": %llu%s}\n",
          jsonString(file.encoding).c_str(), file.width, file.height,
          static_cast<unsigned long long>(file.eventCount), static_cast<unsigned long long>(file.triggerCount),
          static_cast<unsigned long long>(file.firstTimestamp), static_cast<unsigned long long>(file.lastTimestamp),
          static_cast<unsigned long long>(duration), static_cast<unsigned long long>(file.fileSize),
          jsonString(file.serial).c_str(), static_cast<unsigned long long>(file.eventsOutside),
          static_cast<unsigned long long>(file.timeRepairs), apsFramesInfo(path, file).c_str());
    return 0;
}

int dump(Options& options)
{
    const std::string path = options.positional()[0];
    const bool triggers = options.flag("triggers");
    const std::optional<uint64_t> start = options.number("start");
    const std::optional<uint64_t> end = options.number("end");
    if (!options.numbersValid())
        return 2;
    if (start && end && *start > *end)
        return fail("--start lies after --end");
    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    const uint64_t from = start.value_or(0);
    const uint64_t to = end.value_or(UINT64_MAX);

    LineWriter out;
    // Block by block in file order: every event or edge the recording holds, in bounded memory.
    bool written = true;
    const bool read = triggers ? reader->readTriggerEvents(from, to, [&](std::span<const sorvane::EventTriggerIn> edges) {
        for (const sorvane::EventTriggerIn& trigger : edges) {
            out.number(uint64_t(trigger.id));
            out.character(',');
            out.number(uint64_t(trigger.polarity));
            out.character(',');
            out.number(trigger.timestamp);
            out.character('\n');
        }
        written = !out.failed();
        return written;
    }) : reader->readEvents(from, to, [&](std::span<const sorvane::Event2D> events) {
        out.events(events);
        written = !out.failed();
        return written;
    });
    if (!out.flush() || !written)
        return 1;
    return read ? 0 : fail("cannot read " + path);
}

int cut(Options& options)
{
    const std::string path = options.positional()[0];
    const std::string out = options.positional()[1];
    const std::optional<uint64_t> start = options.number("start");
    const std::optional<uint64_t> end = options.number("end");
    if (!options.numbersValid())
        return 2;
    if (!start || !end)
        return fail("cut needs --start and --end");
    if (*start > *end)
        return fail("--start lies after --end");
    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    Progress progress("cutting");
    reader->setProgressCallback(progress.callback());
    const CancelOnSignal cancelOnSignal(*reader);
    if (!reader->exportEventData(*start, *end, out, existingFile(options)))
        return writeFailed(reader->lastError(), "cannot cut " + path + " into " + out);
    return 0;
}

// The colours of a --palette option, or null after saying what the names are.
const sorvane::Palette* paletteOption(Options& options)
{
    const std::string name = options.text("palette").value_or("Gray");
    if (const sorvane::Palette* palette = sorvane::paletteNamed(name))
        return palette;
    std::string names;
    for (const sorvane::Palette& palette : sorvane::palettes())
        names += std::string(names.empty() ? "" : ", ") + palette.name;
    fail("unknown palette '" + name + "' (" + names + ")");
    return nullptr;
}

int exportVideo(Options& options)
{
    const std::string path = options.positional()[0];
    const std::string out = options.positional()[1];
    const std::optional<uint64_t> start = options.number("start");
    const std::optional<uint64_t> end = options.number("end");
    const std::optional<uint64_t> accumulation = options.number("acc-us");
    const std::optional<uint64_t> fps = options.number("fps");
    if (!options.numbersValid())
        return 2;

    sorvane::VideoExportOptions video;
    const sorvane::Palette* palette = paletteOption(options);
    if (!palette)
        return 1;
    video.positiveColor = palette->positive;
    video.negativeColor = palette->negative;
    video.backgroundColor = palette->background;
    if (accumulation) {
        if (*accumulation == 0)
            return fail("--acc-us must be above 0");
        video.accTime = *accumulation;
    }
    if (fps) {
        if (*fps == 0 || *fps > 1000)
            return fail("--fps must lie in 1..1000");
        video.fps = int(*fps);
        video.frameStep = 1'000'000 / *fps;
    }
    if (start && end && *start > *end)
        return fail("--start lies after --end");

    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader->getStartTimestamp(first) || !reader->getEndTimestamp(last))
        return fail(path + " holds no events");
    const uint64_t from = start.value_or(first);
    const uint64_t to = end.value_or(last);
    // Said first, since a long range of a sparse recording can be hours of video.
    if (const uint64_t frames = sorvane::exportedFrameCount(from, to, first, last, video.frameStep); frames > 0)
        std::fprintf(stderr, "writing %llu frames\n", static_cast<unsigned long long>(frames));
    reader->setVideoExportOptions(video);
    Progress progress("exporting");
    reader->setProgressCallback(progress.callback());
    const CancelOnSignal cancelOnSignal(*reader);
    if (!reader->exportVideo(from, to, out, existingFile(options)))
        return writeFailed(reader->lastError(), "cannot export " + path + " into " + out);
    return 0;
}

// The picture the viewer shows at --at, as a PNG file.
int frame(Options& options)
{
    const std::string path = options.positional()[0];
    const std::string out = options.positional()[1];
    const std::optional<uint64_t> at = options.number("at");
    const uint64_t accumulation = options.number("acc-us").value_or(sorvane::VideoExportOptions{}.accTime);
    if (!options.numbersValid())
        return 2;
    if (!at)
        return fail("--at is needed: the time of the picture");
    if (accumulation == 0)
        return fail("--acc-us must be above 0");
    const sorvane::Palette* palette = paletteOption(options);
    if (!palette)
        return 1;

    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader->getStartTimestamp(first) || !reader->getEndTimestamp(last))
        return fail(path + " holds no events");
    if (*at < first || *at > last)
        return fail("--at " + std::to_string(*at) + " lies outside the recording, which spans [" + std::to_string(first)
                    + ", " + std::to_string(last) + "]");
    std::vector<uint8_t> rgb;
    std::string error;
    if (!sorvane::eventimage::render(*reader, *at, accumulation, *palette, rgb, error))
        return fail("cannot read " + path + ": " + error);
    sorvane::SafeOutput output;
    if (!output.begin(out, existingFile(options), {path, -1}, error)) {
        fail(error);
        return writeFailed(error, "cannot write " + out);
    }
    if (!sorvane::writePng(output.temporaryFd(), sorvane::eventimage::width, sorvane::eventimage::height, rgb.data(),
                           size_t(sorvane::eventimage::width) * 3, error)
        || !output.commit(error))
        return fail(error);
    return 0;
}

} // namespace

std::vector<Command> fileCommands()
{
    return {
        {"info", "FILE [--no-cache] [--rebuild-index]", "print what a recording holds, as one JSON object", info, 1,
         {}, {"no-cache", "rebuild-index"}},
        {"dump", "FILE [--start T] [--end T] [--triggers] [--no-cache] [--rebuild-index]",
         "print the events of [start, end] as x,y,p,t lines (or trigger edges as id,polarity,t)", dump, 1,
         {"start", "end"}, {"triggers", "no-cache", "rebuild-index"}},
        {"cut", "FILE OUT --start T --end T [--force] [--no-cache] [--rebuild-index]",
         "write the events and trigger edges of [start, end] into OUT (--force: replace an existing OUT)", cut, 2,
         {"start", "end"}, {"force", "no-cache", "rebuild-index"}},
        {"export",
         "FILE OUT.mp4 [--start T] [--end T] [--acc-us N] [--fps N] [--palette NAME] [--force] [--no-cache] "
         "[--rebuild-index]",
         "paint [start, end] into a video (--force: replace an existing OUT.mp4)", exportVideo, 2,
         {"start", "end", "acc-us", "fps", "palette"}, {"force", "no-cache", "rebuild-index"}},
        {"frame", "FILE OUT.png --at T [--acc-us N] [--palette NAME] [--force] [--no-cache] [--rebuild-index]",
         "write the picture the viewer shows at T as a PNG (--force: replace an existing OUT.png)", frame, 2,
         {"at", "acc-us", "palette"}, {"force", "no-cache", "rebuild-index"}},
    };
}

} // namespace svraw

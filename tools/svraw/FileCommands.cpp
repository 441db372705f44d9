// Commands on recordings: info, dump, cut, convert, export, frame.
#include "Cli.h"

#include "SorvaneBase/PngWriter.h"
#include "SorvaneBase/SafeOutput.h"
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/EventCsv.h"
#include "SorvaneDriver/Render/EventImage.h"
#include "SorvaneDriver/Video/VideoExport.h"
#include "SorvaneDriver/VideoSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <vector>

namespace svraw {

namespace {

// --no-cache: scan, and keep nothing; --rebuild-index: scan, and keep the new index. Null, with
// why in error, when the file cannot be read. loading, when given, names the reader while it
// loads (for cancelling).
std::unique_ptr<sorvane::DvsFileReader> openRecording(const std::string& path, Options& options, std::string& error,
                                                      std::atomic<sorvane::DvsFileReader*>* loading = nullptr)
{
    auto reader = sorvane::DvsFileReader::createFileReader(path, error);
    if (!reader)
        return nullptr;
    if (loading)
        loading->store(reader.get());
    if (options.flag("no-cache"))
        reader->setIndexCaching(sorvane::IndexCaching::Off);
    else if (options.flag("rebuild-index"))
        reader->setIndexCaching(sorvane::IndexCaching::Rebuild);
    Progress progress("loading");
    reader->setProgressCallback(progress.callback());
    const bool loaded = reader->loadFile();
    reader->setProgressCallback({});
    if (!loaded) {
        error = reader->lastError().empty() ? "cannot read " + path : reader->lastError();
        if (loading)
            loading->store(nullptr);
        return nullptr;
    }
    return reader;
}

std::unique_ptr<sorvane::DvsFileReader> openRecording(const std::string& path, Options& options)
{
    std::string error;
    return openRecording(path, options, error);
}

// --roi X0,Y0,X1,Y1, read before any file is opened. False after saying what is wrong.
bool regionOption(Options& options, std::optional<sorvane::EventRegion>& region)
{
    const std::optional<std::string> text = options.text("roi");
    if (!text)
        return true;
    std::string error;
    region.emplace();
    if (sorvane::parseEventRegion(*text, *region, error))
        return true;
    fail("--roi: " + error);
    return false;
}

// The region on an open reader: 0, or the exit status after saying why it does not fit.
int applyRegion(sorvane::DvsFileReader& reader, const std::optional<sorvane::EventRegion>& region)
{
    std::string error;
    if (!region || reader.setRegion(region, error))
        return 0;
    return fail(error);
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

// The frames of a fusion set, as further members of info's object; empty for a recording of
// events alone. Times are on the event clock: the set's offset plus the frame's presentation time.
std::string apsFramesInfo(const std::string& path, const sorvane::DvsFileInfo& file)
{
    if (!sorvane::isFusionSet(path))
        return {};
    // Only now is the video half loaded: recordings of events alone never need it.
    std::string error;
    const sorvane::VideoSupport* support = sorvane::videoSupport(error);
    std::vector<uint64_t> times;
    int width = 0;
    int height = 0;
    if (!support || !support->videoFrameTimes(sorvane::fusionSetPaths(path).video, times, width, height) || times.empty())
        return ", \"aps_frames\": null";
    const long long offset = file.apsTimeOffset;
    char fps[32] = "null";
    if (times.size() > 1 && times.back() > times.front())
        std::snprintf(fps, sizeof fps, "%.3f", double(times.size() - 1) * 1e6 / double(times.back() - times.front()));
    char text[320];
    std::snprintf(text, sizeof text,
                  ", \"aps_frames\": %zu, \"aps_width\": %d, \"aps_height\": %d, \"aps_time_offset_us\": %lld, "
                  "\"aps_fps\": %s, \"aps_first_frame_us\": %lld, \"aps_last_frame_us\": %lld",
                  times.size(), width, height, offset, fps, offset + static_cast<long long>(times.front()),
                  offset + static_cast<long long>(times.back()));
    return text;
}

const char* geometrySourceName(sorvane::GeometrySource source)
{
    switch (source) {
    case sorvane::GeometrySource::Header: return "header";
    case sorvane::GeometrySource::Events: return "events";
    case sorvane::GeometrySource::Default: break;
    }
    return "default";
}

// One JSON object a line for each file, in the order given. Among several, a file that cannot be
// read gets an object with its error, and the others go on; a single one only fails.
int info(Options& options)
{
    int status = 0;
    const bool several = options.positional().size() > 1;
    for (const std::string& given : options.positional()) {
        const std::string path = sorvane::fusionSetEvents(given);
        std::string error;
        auto reader = openRecording(path, options, error);
        if (!reader && !several)
            return fail("cannot read " + path);
        if (!reader) {
            print("{\"path\": %s, \"error\": %s}\n", jsonString(path).c_str(), jsonString(error).c_str());
            status = 1;
            continue;
        }
        sorvane::DvsFileInfo file;
        reader->getFileInfo(file);
        const uint64_t duration = file.eventCount > 0 ? file.lastTimestamp - file.firstTimestamp : 0;
        print("{\"path\": %s, \"encoding\": %s, \"width\": %d, \"height\": %d, \"geometry_from\": \"%s\", "
              "\"events\": %llu, \"triggers\": %llu, "
              "\"first_timestamp_us\": %llu, \"last_timestamp_us\": %llu, \"duration_us\": %llu, "
              "\"size_bytes\": %llu, \"trailing_bytes\": %llu, \"serial\": %s, \"events_outside_sensor\": %llu, "
              "\"time_repairs\": %llu%s}\n",
              jsonString(path).c_str(), jsonString(file.encoding).c_str(), file.width, file.height,
              geometrySourceName(file.geometryFrom), static_cast<unsigned long long>(file.eventCount),
              static_cast<unsigned long long>(file.triggerCount), static_cast<unsigned long long>(file.firstTimestamp),
              static_cast<unsigned long long>(file.lastTimestamp), static_cast<unsigned long long>(duration),
              static_cast<unsigned long long>(file.fileSize), static_cast<unsigned long long>(file.trailingBytes),
              jsonString(file.serial).c_str(), static_cast<unsigned long long>(file.eventsOutside),
              static_cast<unsigned long long>(file.timeRepairs), apsFramesInfo(path, file).c_str());
    }
    return status;
}

int dump(Options& options)
{
    const std::string path = sorvane::fusionSetEvents(options.positional()[0]);
    const bool triggers = options.flag("triggers");
    std::optional<sorvane::EventRegion> region;
    if (!regionOption(options, region))
        return 2;
    const std::optional<uint64_t> start = options.number("start");
    const std::optional<uint64_t> end = options.number("end");
    if (!options.numbersValid())
        return 2;
    if (start && end && *start > *end)
        return fail("--start lies after --end");
    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    if (const int status = applyRegion(*reader, region))
        return status;
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

// Work on a fusion set through the video half, stopped by SIGINT and SIGTERM (the reader and the
// frames); a failure is said as "cannot VERB PATH into OUT".
using SetWork = std::function<bool(const sorvane::VideoSupport& video, const sorvane::ProgressCallback& progress,
                                   const std::atomic<bool>& cancelled, std::string& error)>;
int workOnSet(sorvane::DvsFileReader& reader, const std::string& path, const std::string& out, const std::string& verb,
              const SetWork& work)
{
    std::string error;
    const sorvane::VideoSupport* support = sorvane::videoSupport(error);
    if (!support)
        return fail("cannot " + verb + " the set " + path + ": " + error);
    struct SetCancel {
        std::atomic<bool> cancelled{false};
        sorvane::DvsFileReader* reader = nullptr;
        void cancel()
        {
            cancelled.store(true);
            reader->cancel();
        }
    } cancel;
    cancel.reader = &reader;
    Progress progress(verb == "cut" ? "cutting" : "exporting");
    const CancelOnSignal cancelOnSignal(cancel);
    if (!work(*support, progress.callback(), cancel.cancelled, error))
        return writeFailed(error, "cannot " + verb + " " + path + " into " + out);
    return 0;
}

int cut(Options& options)
{
    const std::string path = sorvane::fusionSetEvents(options.positional()[0]);
    const std::string out = options.positional()[1];
    const std::optional<uint64_t> start = options.number("start");
    const std::optional<uint64_t> end = options.number("end");
    if (!options.numbersValid())
        return 2;
    std::optional<sorvane::EventRegion> region;
    if (!regionOption(options, region))
        return 2;
    if (!start || !end)
        return fail("cut needs --start and --end");
    if (*start > *end)
        return fail("--start lies after --end");
    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    if (const int status = applyRegion(*reader, region))
        return status;
    // Only an OUT.raw can be a set; any other name gets the events alone, as before sets were cut.
    if (!options.flag("events-only") && sorvane::isFusionSet(path)) {
        if (sorvane::fusionSetPaths(out).raw == out)
            // A set into a set: OUT.raw, OUT.mp4 and OUT.json.
            return workOnSet(*reader, path, out, "cut", [&](const auto& video, const auto& progress,
                                                            const auto& cancelled, std::string& error) {
                return video.cutFusionSet(*reader, path, *start, *end, out, existingFile(options), progress,
                                          cancelled, error);
            });
        std::fprintf(stderr, "svraw: %s does not end in .raw, so it gets the events alone, not a set\n", out.c_str());
    }
    Progress progress("cutting");
    reader->setProgressCallback(progress.callback());
    const CancelOnSignal cancelOnSignal(*reader);
    if (!reader->exportEventData(*start, *end, out, existingFile(options)))
        return writeFailed(reader->lastError(), "cannot cut " + path + " into " + out);
    return 0;
}

// What SIGINT and SIGTERM stop during a conversion: the file under way and those after it.
struct ConvertBatch {
    std::atomic<sorvane::DvsFileReader*> current{nullptr};
    std::atomic<bool> stopped{false};
    void cancel()
    {
        stopped.store(true);
        if (sorvane::DvsFileReader* reader = current.load())
            reader->cancel();
    }
};

// Converts one file; false after saying why on stderr.
bool convertOne(const std::string& path, const std::string& out, sorvane::EventEncoding encoding,
                const std::optional<sorvane::EventRegion>& region, Options& options, ConvertBatch& batch)
{
    std::string error;
    auto reader = openRecording(path, options, error, &batch.current);
    if (!reader) {
        fail("cannot read " + path);
        return false;
    }
    // A signal before the reader was named still stops it.
    if (batch.stopped.load())
        reader->cancel();
    if (applyRegion(*reader, region) != 0) {
        batch.current.store(nullptr);
        return false;
    }
    Progress progress("converting");
    reader->setProgressCallback(progress.callback());
    const bool converted = reader->convertTo(out, encoding, existingFile(options));
    batch.current.store(nullptr);
    if (!converted)
        writeFailed(reader->lastError(), "cannot convert " + path + " into " + out);
    return converted;
}

// Device and inode of an existing file, to tell whether two paths name the same one.
std::optional<std::pair<dev_t, ino_t>> fileId(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return std::make_pair(status.st_dev, status.st_ino);
}

int convert(Options& options)
{
    const std::string formatName = options.text("format").value_or("evt3");
    const std::optional<std::string> into = options.text("into");
    sorvane::EventEncoding encoding = sorvane::EventEncoding::Evt3;
    if (formatName == "evt2")
        encoding = sorvane::EventEncoding::Evt2;
    else if (formatName != "evt3")
        return fail("--format is evt3 or evt2, not '" + formatName + "'") + 1;
    std::optional<sorvane::EventRegion> region;
    if (!regionOption(options, region))
        return 2;
    const std::vector<std::string>& arguments = options.positional();
    ConvertBatch batch;
    const CancelOnSignal cancelOnSignal(batch);
    if (!into) {
        if (arguments.size() != 2)
            return fail("convert takes IN OUT, or IN... --into DIR") + 1;
        return convertOne(arguments[0], arguments[1], encoding, region, options, batch) ? 0 : 1;
    }
    if (!std::filesystem::is_directory(*into))
        return fail("--into " + *into + " is not a folder");

    std::vector<std::optional<std::pair<dev_t, ino_t>>> inputs;
    for (const std::string& path : arguments)
        inputs.push_back(fileId(path));
    std::vector<std::string> outputs;
    size_t failed = 0;
    for (size_t i = 0; i < arguments.size() && !batch.stopped.load(); ++i) {
        const std::string& path = arguments[i];
        const std::string out = (std::filesystem::path(*into) / std::filesystem::path(path).stem()).string() + ".raw";
        const auto target = fileId(out);
        const auto input = target ? std::find(inputs.begin(), inputs.end(), target) : inputs.end();
        bool ok = false;
        if (input != inputs.end())
            fail("cannot convert " + path + ": " + out + " is the input " + arguments[size_t(input - inputs.begin())]);
        else if (std::find(outputs.begin(), outputs.end(), out) != outputs.end())
            fail("cannot convert " + path + ": " + out + " is the output of an earlier input");
        else
            ok = convertOne(path, out, encoding, region, options, batch);
        if (ok)
            outputs.push_back(out);
        failed += !ok;
    }
    if (batch.stopped.load())
        return fail("converting was cancelled");
    if (failed > 0)
        return fail(std::to_string(failed) + " of " + std::to_string(arguments.size()) + " recordings were not converted");
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
    const std::string path = sorvane::fusionSetEvents(options.positional()[0]);
    const std::string out = options.positional()[1];
    const std::optional<uint64_t> start = options.number("start");
    const std::optional<uint64_t> end = options.number("end");
    const std::optional<uint64_t> accumulation = options.number("acc-us");
    const std::optional<uint64_t> fps = options.number("fps");
    std::optional<sorvane::EventRegion> region;
    if (!regionOption(options, region))
        return 2;
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
    const std::optional<std::string> viewName = options.text("view");
    std::optional<sorvane::FusionView> view;
    if (viewName) {
        if (*viewName == "fusion")
            view = sorvane::FusionView::Fusion;
        else if (*viewName == "aps")
            view = sorvane::FusionView::Aps;
        else if (*viewName == "dvs")
            view = sorvane::FusionView::Dvs;
        else
            return fail("unknown view '" + *viewName + "' (fusion, aps, dvs)");
        if (!sorvane::isFusionSet(path))
            return fail("--view paints a fusion set, and " + path + " has no NAME.mp4 beside it");
    }

    auto reader = openRecording(path, options);
    if (!reader)
        return fail("cannot read " + path);
    if (const int status = applyRegion(*reader, region))
        return status;
    // A set painted as the viewer shows it: what the viewer plays of [start, end], image by image.
    if (view) {
        uint64_t last = 0;
        sorvane::DvsFileInfo info;
        if (reader->getEndTimestamp(last) && reader->getFileInfo(info)) {
            const uint64_t first = sorvane::fusionSetStart(info.apsTimeOffset, last);
            if (const uint64_t images = sorvane::fusionImageCount(std::max(start.value_or(0), first),
                                                                  std::min(end.value_or(last), last), video.frameStep))
                std::fprintf(stderr, "writing %llu frames\n", static_cast<unsigned long long>(images));
        }
        return workOnSet(*reader, path, out, "export", [&](const auto& support, const auto& progress,
                                                           const auto& cancelled, std::string& error) {
            return support.exportFusionVideo(*reader, path, start.value_or(0), end.value_or(UINT64_MAX), out,
                                             existingFile(options), *view, video, progress, cancelled, error);
        });
    }
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
    const std::string path = sorvane::fusionSetEvents(options.positional()[0]);
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
        return fail(sorvane::rangeOutsideMessage(*at, *at, first, last));
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
        {"info", "FILE... [--no-cache] [--rebuild-index]",
         "print what a recording holds, as one JSON object (a line for each FILE)", info, 1, {}, {"no-cache", "rebuild-index"}, true},
        {"dump", "FILE [--start T] [--end T] [--roi X0,Y0,X1,Y1] [--triggers] [--no-cache] [--rebuild-index]",
         "print the events of [start, end] as x,y,p,t lines (or trigger edges as id,polarity,t)", dump, 1,
         {"start", "end", "roi"}, {"triggers", "no-cache", "rebuild-index"}},
        {"cut", "FILE OUT --start T --end T [--roi X0,Y0,X1,Y1] [--events-only] [--force] [--no-cache] [--rebuild-index]",
         "write the events and trigger edges of [start, end] into OUT; a set (NAME.raw beside NAME.mp4) into the set "
         "OUT.raw, OUT.mp4, OUT.json with the frames of [start, end] (--events-only: the events alone; --force: "
         "replace an existing output)", cut, 2,
         {"start", "end", "roi"}, {"events-only", "force", "no-cache", "rebuild-index"}},
        {"convert",
         "IN OUT | IN... --into DIR [--format evt3|evt2] [--roi X0,Y0,X1,Y1] [--force] [--no-cache] "
         "[--rebuild-index]",
         "write every event and trigger edge of IN into a new EVT 3.0 (or EVT 2.0) .raw; with --into, each IN "
         "into DIR/NAME.raw (--force: replace an existing output)",
         convert, 1, {"format", "roi", "into"}, {"force", "no-cache", "rebuild-index"}, true},
        {"export",
         "FILE OUT.mp4 [--view fusion|aps|dvs] [--start T] [--end T] [--roi X0,Y0,X1,Y1] [--acc-us N] [--fps N] "
         "[--palette NAME] [--force] [--no-cache] [--rebuild-index]",
         "paint [start, end] into a video; with --view, a set as the viewer shows it: the events of the "
         "--acc-us before each image over the frame, the frame alone, or the events alone (--force: replace an "
         "existing OUT.mp4)",
         exportVideo, 2, {"view", "start", "end", "roi", "acc-us", "fps", "palette"}, {"force", "no-cache", "rebuild-index"}},
        {"frame", "FILE OUT.png --at T [--acc-us N] [--palette NAME] [--force] [--no-cache] [--rebuild-index]",
         "write the picture the viewer shows at T as a PNG (--force: replace an existing OUT.png)", frame, 2,
         {"at", "acc-us", "palette"}, {"force", "no-cache", "rebuild-index"}},
    };
}

} // namespace svraw

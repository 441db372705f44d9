#include "SorvaneDriver/Simulated/SimulatedCameras.h"

#include "SorvaneBase/Logger.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sorvane {

namespace {

// Links of the simulated devices, created on first use and kept for the process.
struct LinkRegistry {
    // Guards links.
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<DeviceLink>> links;

    std::shared_ptr<DeviceLink> get(const std::string& serial)
    {
        std::lock_guard lock(mutex);
        auto& link = links[serial];
        if (!link)
            link = std::make_shared<DeviceLink>();
        return link;
    }
};

LinkRegistry& registry()
{
    static LinkRegistry instance;
    return instance;
}

const SimulatedCameraModel* findModel(const std::string& serial)
{
    for (const auto& model : SimulatedCameraProvider::models())
        if (model.serial == serial)
            return &model;
    return nullptr;
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

} // namespace

const std::vector<SimulatedCameraModel>& SimulatedCameraProvider::models()
{
    static const std::vector<SimulatedCameraModel> list = {
        {"O4S0021", "Orion4", false, SceneKind::Mixed, 2.0e6, 21},
        {"VS20047", "Vesper", false, SceneKind::Mixed, 1.2e6, 47},
        {"TD30103", "Tandem", true, SceneKind::Mixed, 1.0e6, 103},
    };
    return list;
}

std::string SimulatedCameraProvider::serialOf(const std::string& product)
{
    for (const auto& model : models())
        if (model.product == product)
            return model.serial;
    return {};
}

void SimulatedCameraProvider::setPlugged(const std::string& serial, bool plugged)
{
    registry().get(serial)->plugged.store(plugged);
}

bool SimulatedCameraProvider::isPlugged(const std::string& serial)
{
    return registry().get(serial)->plugged.load();
}

std::vector<CameraDescription> SimulatedCameraProvider::listCameras()
{
    std::vector<CameraDescription> found;
    for (const auto& model : models())
        if (isPlugged(model.serial))
            found.push_back({model.serial, model.product});
    return found;
}

std::shared_ptr<DvsCamera> SimulatedCameraProvider::openCamera(const std::string& serial)
{
    const SimulatedCameraModel* model = findModel(serial);
    if (!model || model->fusion)
        return nullptr;
    auto link = registry().get(serial);
    if (!link->plugged.load()) {
        SV_LOG_ERROR("camera %s is not connected", serial.c_str());
        return nullptr;
    }
    return std::make_shared<SimulatedDvsCamera>(*model, link);
}

std::shared_ptr<FusionCamera> SimulatedCameraProvider::openFusionCamera(const std::string& serial)
{
    const SimulatedCameraModel* model = findModel(serial);
    if (!model || !model->fusion)
        return nullptr;
    auto link = registry().get(serial);
    if (!link->plugged.load()) {
        SV_LOG_ERROR("camera %s is not connected", serial.c_str());
        return nullptr;
    }
    return std::make_shared<SimulatedFusionCamera>(*model, link);
}

// ---------------------------------------------------------------------------------------------

SimulatedDvsCamera::SimulatedDvsCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link_)
    : SimulatedDvsCamera(model, std::move(link_), SensorTools::create(Width, Height, false))
{
}

SimulatedDvsCamera::SimulatedDvsCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link_,
                                       SensorTools tools_)
    : DvsCamera({model.serial, model.product}, tools_.toolMap())
    , tools(tools_)
    , link(link_)
    , stream(model.serial, link_,
             std::make_unique<EventPipeline>(model.scene, model.eventRate, model.seed, Width, Height, tools_))
{
    stream.pipeline().setTriggerSource(EventPipeline::externalInputs());
}

SimulatedDvsCamera::~SimulatedDvsCamera()
{
    stream.stop();
    live.end();
}

bool SimulatedDvsCamera::isConnected()
{
    return link->plugged.load();
}

uint32_t SimulatedDvsCamera::addTriggerInCallback(TriggerInCallback callback)
{
    std::lock_guard lock(callbackMutex);
    const uint32_t id = nextCallbackId++;
    triggerCallbacks[id] = std::move(callback);
    return id;
}

bool SimulatedDvsCamera::removeTriggerInCallback(uint32_t id)
{
    std::lock_guard lock(callbackMutex);
    return triggerCallbacks.erase(id) > 0;
}

bool SimulatedDvsCamera::getNextBatch(std::vector<Event2D>& events)
{
    return live.nextBatch(events, batchTime.load());
}

void SimulatedDvsCamera::setBatchEventsTime(uint64_t batchTimeUs)
{
    batchTime.store(std::clamp<uint64_t>(batchTimeUs, 1, 10000000));
}

int SimulatedDvsCamera::start()
{
    // Unplugging ends the stream thread only at its next batch, so check the link first.
    if (!isConnected()) {
        SV_LOG_ERROR("camera %s is not connected", getDvsDesc().serial.c_str());
        return -1;
    }
    if (stream.isRunning())
        return 0;
    stream.stop(); // joins a stream that ended by itself (unplugged) before its queue is reset
    live.reset(stream.producedUntil());
    const bool started = stream.start([this](const ChunkPtr& chunk) {
        if (!chunk) {
            live.end();
            return;
        }
        live.push(chunk);
        if (chunk->triggers.empty())
            return;
        std::lock_guard lock(callbackMutex);
        for (const EventTriggerIn& trigger : chunk->triggers)
            for (auto& [id, callback] : triggerCallbacks)
                if (callback)
                    callback(trigger);
    });
    if (!started) {
        live.end();
        return -1;
    }
    SV_LOG_INFO("camera %s streaming", getDvsDesc().serial.c_str());
    return 0;
}

void SimulatedDvsCamera::stop()
{
    stream.stop();
    live.end();
}

bool SimulatedDvsCamera::startRecording(const std::string& path)
{
    return record(path, std::nullopt);
}

bool SimulatedDvsCamera::startRecordingFrom(const std::string& path, uint64_t cameraTime)
{
    return record(path, cameraTime);
}

bool SimulatedDvsCamera::record(const std::string& path, std::optional<uint64_t> from)
{
    if (!isConnected()) {
        SV_LOG_ERROR("camera %s is not connected; %s not recorded", getDvsDesc().serial.c_str(), path.c_str());
        return false;
    }
    RawHeaderInfo header;
    header.width = Width;
    header.height = Height;
    header.serial = getDvsDesc().serial;
    return stream.recorder().start(path, header, false, from);
}

bool SimulatedDvsCamera::setRecordCacheTime(uint16_t seconds, const std::string& cacheFolder)
{
    return stream.recorder().setCache(seconds, cacheFolder);
}

bool SimulatedDvsCamera::stopRecording()
{
    return stream.recorder().stop();
}

void SimulatedDvsCamera::setStatisticInfoCallback(StatisticInfoCallback callback)
{
    stream.setStatisticCallback(std::move(callback));
}

// ---------------------------------------------------------------------------------------------

ApsVideoRecorder::~ApsVideoRecorder()
{
    if (thread.joinable())
        close();
}

bool ApsVideoRecorder::open(const std::string& path, int width, int height, int fps)
{
    std::string error;
    const VideoSupport* video = videoSupport(error);
    if (!video) {
        SV_LOG_ERROR("cannot record %s: %s", path.c_str(), error.c_str());
        return false;
    }
    writer = video->newLiveVideoWriter();
    if (!writer->open(path, width, height, fps))
        return false;
    thread = std::thread([this] { run(); });
    return true;
}

void ApsVideoRecorder::push(const ApsFrame& frame, uint64_t origin)
{
    {
        std::lock_guard lock(mutex);
        if (frames.size() >= MaxQueuedFrames) {
            if (dropped.fetch_add(1) == 0)
                SV_LOG_ERROR("the video encoder falls behind; frames are left out of the recording");
            return;
        }
        frames.emplace_back(frame, origin);
    }
    changed.notify_one();
}

void ApsVideoRecorder::run()
{
    for (;;) {
        std::pair<ApsFrame, uint64_t> item;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [this] { return closing || !frames.empty(); });
            if (frames.empty())
                return;
            item = std::move(frames.front());
            frames.pop_front();
        }
        const ApsFrame& frame = item.first;
        if (writeFailed || frame.getTimestamp() < item.second)
            continue;
        if (!writer->writeFrame(frame.data(), frame.getTimestamp() - item.second))
            writeFailed = true;
    }
}

bool ApsVideoRecorder::close()
{
    if (!thread.joinable())
        return false;
    {
        std::lock_guard lock(mutex);
        closing = true;
    }
    changed.notify_all();
    thread.join();
    const bool ok = writer->close();
    return ok && !writeFailed;
}

// ---------------------------------------------------------------------------------------------

SimulatedFusionCamera::SimulatedFusionCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link_)
    : SimulatedFusionCamera(model, std::move(link_), SensorTools::create(DvsWidth, DvsHeight, true),
                            std::make_shared<ApsTool>())
{
}

namespace {
ToolMap fusionTools(const SensorTools& tools, const std::shared_ptr<ApsTool>& aps)
{
    ToolMap map = tools.toolMap();
    map[ToolType::Aps] = aps;
    return map;
}
} // namespace

SimulatedFusionCamera::SimulatedFusionCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link_,
                                             SensorTools tools_, std::shared_ptr<ApsTool> aps)
    : FusionCamera({model.serial, model.product}, fusionTools(tools_, aps))
    , tools(tools_)
    , apsTool(std::move(aps))
    , link(link_)
    , renderer(ApsWidth, ApsHeight, DvsToAps)
    , stream(model.serial, link_,
             std::make_unique<EventPipeline>(model.scene, model.eventRate, model.seed, DvsWidth, DvsHeight, tools_))
{
    stream.pipeline().setTriggerSource(
        [this](uint64_t begin, uint64_t end, const ParameterValues& values, std::vector<EventTriggerIn>& out) {
            frameSync(begin, end, values, out);
        });
}

SimulatedFusionCamera::~SimulatedFusionCamera()
{
    stop(STREAM_ALL);
    if (video)
        stopRecording(STREAM_ALL);
}

bool SimulatedFusionCamera::isConnected()
{
    return link->plugged.load() && !closed.load();
}

void SimulatedFusionCamera::addEventsCallback(EventsCallback callback)
{
    std::lock_guard lock(streamCallbackMutex);
    eventsCallbacks.push_back(std::move(callback));
}

void SimulatedFusionCamera::addApsFrameCallback(ApsFrameCallback callback)
{
    std::lock_guard lock(frameCallbackMutex);
    frameCallbacks.push_back(std::move(callback));
}

uint32_t SimulatedFusionCamera::addTriggerInCallback(TriggerInCallback callback)
{
    std::lock_guard lock(streamCallbackMutex);
    const uint32_t id = nextCallbackId++;
    triggerCallbacks[id] = std::move(callback);
    return id;
}

void SimulatedFusionCamera::frameSync(uint64_t begin, uint64_t end, const ParameterValues& triggerIn,
                                      std::vector<EventTriggerIn>& out)
{
    std::lock_guard lock(frameMutex);
    if (!scheduleStarted) {
        scheduleStarted = true;
        frameStart = begin;
        int rate = 30;
        apsTool->getIntParameter(param::FrameRate, rate);
        nextSync = begin + uint64_t(1000000 / std::max(1, rate));
    }
    // Falling edges left over from the last millisecond come first.
    auto pending = std::partition(pendingEdges.begin(), pendingEdges.end(),
                                  [end](const EventTriggerIn& e) { return e.timestamp >= end; });
    for (auto it = pending; it != pendingEdges.end(); ++it)
        out.push_back(*it);
    pendingEdges.erase(pending, pendingEdges.end());

    // Frames are captured on the sync edge, so with the sync input off the sensor stays idle.
    // While the sensor still reads out earlier frames it ignores the edge, as a busy sensor
    // does: no frame and no sync signal, so frames never fall behind their signals. The first
    // frame of a recording is always taken: the recording's offset names its start.
    const bool sync = ParameterTool::boolValue(triggerIn, param::Channel0, true) && apsOn.load();
    while (nextSync < end) {
        const bool firstRecorded = video && frameStart == recordFrom;
        if (sync && nextSync >= begin && (jobs.size() < MaxPendingFrames || firstRecorded)) {
            out.emplace_back(int16_t(0), RisingEdge, nextSync);
            const EventTriggerIn falling(int16_t(0), FallingEdge, nextSync + 100);
            if (falling.timestamp < end)
                out.push_back(falling);
            else
                pendingEdges.push_back(falling);
            jobs.push_back({frameIndex++, frameStart, nextSync});
            frameChanged.notify_one();
        }
        int rate = 30;
        apsTool->getIntParameter(param::FrameRate, rate);
        frameStart = nextSync;
        nextSync += uint64_t(1000000 / std::max(1, rate));
    }
}

void SimulatedFusionCamera::deliver(const ChunkPtr& chunk)
{
    if (!chunk)
        return;
    const bool events = dvsOn.load();
    const auto& ev = chunk->events;
    std::lock_guard lock(streamCallbackMutex);
    auto sendEvents = [&](size_t from, size_t to) {
        if (!events || to <= from)
            return;
        for (auto& callback : eventsCallbacks)
            if (callback)
                callback(ev.data() + from, ev.data() + to);
    };
    size_t next = 0;
    for (const EventTriggerIn& trigger : chunk->triggers) {
        // The events before a sync edge belong to the frame it closes.
        const size_t upTo = size_t(std::lower_bound(ev.begin() + std::ptrdiff_t(next), ev.end(), trigger.timestamp,
                                                    [](const Event2D& a, uint64_t t) { return a.timestamp < t; })
                                   - ev.begin());
        sendEvents(next, upTo);
        next = upTo;
        for (auto& [id, callback] : triggerCallbacks)
            if (callback)
                callback(trigger);
    }
    sendEvents(next, ev.size());
}

void SimulatedFusionCamera::runFrames()
{
    for (;;) {
        FrameJob job;
        {
            std::unique_lock lock(frameMutex);
            frameChanged.wait(lock, [this] { return stopFrames || !jobs.empty(); });
            if (stopFrames)
                return;
            job = jobs.front();
            jobs.pop_front();
        }
        int exposure = 10000;
        float gain = 1.0f;
        bool autoExposure = false;
        int rate = 30;
        apsTool->getIntParameter(param::ExposureTime, exposure);
        apsTool->getFloatParameter(param::AnalogGain, gain);
        apsTool->getBoolParameter(param::AutoExposure, autoExposure);
        apsTool->getIntParameter(param::FrameRate, rate);
        const double used = autoExposure ? autoExposureUs : double(exposure);

        ApsFrame frame(ApsWidth, ApsHeight, job.index, job.start);
        renderer.render(stream.pipeline().syntheticScene(), job.start + uint64_t(used / 2), used, gain, frame);
        if (autoExposure) {
            const double mean = std::max(1.0, renderer.lastMeanLevel());
            const double longest = 1e6 / std::max(1, rate);
            autoExposureUs = std::clamp(used * std::clamp(118.0 / mean, 0.5, 2.0), 100.0, longest);
        } else {
            autoExposureUs = exposure;
        }
        frameCount.fetch_add(1);
        {
            std::lock_guard lock(frameCallbackMutex);
            for (auto& callback : frameCallbacks)
                if (callback)
                    callback(frame);
        }
        std::lock_guard lock(frameMutex);
        if (video && job.start >= recordFrom)
            video->push(frame.clone(), videoOrigin);
    }
}

int SimulatedFusionCamera::start(STREAM_TYPE type)
{
    if (!isConnected()) {
        SV_LOG_ERROR("camera %s is not connected", getDvsDesc().serial.c_str());
        return -1;
    }
    if (type == STREAM_DVS || type == STREAM_ALL)
        dvsOn.store(true);
    if (type == STREAM_APS || type == STREAM_ALL)
        apsOn.store(true);
    int rate = 30;
    apsTool->getIntParameter(param::FrameRate, rate);
    stream.setExtraBandwidth(apsOn.load() ? uint64_t(ApsWidth) * ApsHeight * 3 * uint64_t(rate) : 0);
    if (stream.isRunning())
        return 0;
    return restartStream() ? 0 : -1;
}

bool SimulatedFusionCamera::restartStream()
{
    {
        std::lock_guard lock(frameMutex);
        scheduleStarted = false;
        pendingEdges.clear();
        jobs.clear();
        stopFrames = false;
    }
    if (!frameThread.joinable())
        frameThread = std::thread([this] { runFrames(); });
    if (stream.start([this](const ChunkPtr& chunk) { deliver(chunk); })) {
        SV_LOG_INFO("fusion camera %s streaming", getDvsDesc().serial.c_str());
        return true;
    }
    {
        std::lock_guard lock(frameMutex);
        stopFrames = true;
    }
    frameChanged.notify_all();
    frameThread.join();
    return false;
}

void SimulatedFusionCamera::stop(STREAM_TYPE type)
{
    if (type == STREAM_DVS || type == STREAM_ALL)
        dvsOn.store(false);
    if (type == STREAM_APS || type == STREAM_ALL)
        apsOn.store(false);
    if (dvsOn.load() || apsOn.load())
        return;
    stream.stop();
    {
        std::lock_guard lock(frameMutex);
        stopFrames = true;
    }
    frameChanged.notify_all();
    if (frameThread.joinable())
        frameThread.join();
}

void SimulatedFusionCamera::close()
{
    stop(STREAM_ALL);
    if (video || stream.recorder().isRecording())
        stopRecording(STREAM_ALL);
    closed.store(true);
}

bool SimulatedFusionCamera::getCalibratorParameters(CalibratorParameters& parameters)
{
    parameters = CalibratorParameters{};
    parameters.cameraSerial = getDvsDesc().serial;
    parameters.dvsWidth = DvsWidth;
    parameters.dvsHeight = DvsHeight;
    parameters.apsWidth = ApsWidth;
    parameters.apsHeight = ApsHeight;
    parameters.cameraMatrix = {3, 3, 6, {1050.0, 0, 640.0, 0, 1050.0, 360.0, 0, 0, 1}};
    parameters.distCoeffs = {1, 5, 6, {0, 0, 0, 0, 0}};
    const auto& m = DvsToAps;
    parameters.affineMatrices["1"] = {2, 3, 6, {m[0], m[1], m[2], m[3], m[4], m[5]}};
    parameters.affineMatrices["0"] = {2, 3, 6, {1 / m[0], 0, -m[2] / m[0], 0, 1 / m[4], -m[5] / m[4]}};
    parameters.rotation = {0, 0, 0};
    parameters.translation = {0.03, 0, 0};
    return true;
}

namespace {

std::string number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string numbers(const std::vector<double>& values)
{
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i)
        out += (i ? ", " : "") + number(values[i]);
    return out + "]";
}

std::string matrix(const CalibrationMatrix& m)
{
    return "{\"rows\": " + std::to_string(m.rows) + ", \"cols\": " + std::to_string(m.cols)
        + ", \"type\": " + std::to_string(m.type) + ", \"data\": " + numbers(m.data) + "}";
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

std::string SimulatedFusionCamera::calibrationJson(const CalibratorParameters& p)
{
    auto affine = [&](const std::string& key) {
        auto it = p.affineMatrices.find(key);
        return it == p.affineMatrices.end() ? std::string()
                                            : "{" + quoted(key) + ": " + matrix(it->second) + "}";
    };
    std::string text = "{\n  \"0\": {\n";
    text += "    \"camera_serial\": " + quoted(p.cameraSerial) + ",\n";
    text += "    \"frame_size\": {\"cols\": " + std::to_string(p.dvsWidth) + ", \"rows\": " + std::to_string(p.dvsHeight) + "},\n";
    text += "    \"camera_matrix\": " + matrix(p.cameraMatrix) + ",\n";
    text += "    \"dist_coeffs\": " + matrix(p.distCoeffs) + ",\n";
    if (const std::string a = affine("1"); !a.empty())
        text += "    \"affine_matrix\": " + a + ",\n";
    text += "    \"rotation\": " + numbers(p.rotation) + ",\n";
    text += "    \"translation\": " + numbers(p.translation) + "\n  },\n";
    text += "  \"1\": {\n";
    text += "    \"frame_size\": {\"cols\": " + std::to_string(p.apsWidth) + ", \"rows\": " + std::to_string(p.apsHeight) + "}";
    if (const std::string a = affine("0"); !a.empty())
        text += ",\n    \"affine_matrix\": " + a;
    text += "\n  }\n}\n";
    return text;
}

bool SimulatedFusionCamera::startRecording(const std::string& folder, const std::string& baseName, STREAM_TYPE)
{
    if (!isConnected()) {
        SV_LOG_ERROR("camera %s is not connected; %s not recorded", getDvsDesc().serial.c_str(), baseName.c_str());
        return false;
    }
    if (stream.recorder().isRecording()) {
        SV_LOG_ERROR("camera %s is recording already", getDvsDesc().serial.c_str());
        return false;
    }
    const std::string base = joinPath(folder, baseName);

    CalibratorParameters calibration;
    getCalibratorParameters(calibration);
    const std::string jsonPath = base + ".json";
    // "x": a set never replaces the files of another recording.
    std::FILE* json = std::fopen(jsonPath.c_str(), "wbx");
    if (!json) {
        SV_LOG_ERROR("cannot create %s: %s", jsonPath.c_str(), std::strerror(errno));
        return false;
    }
    const std::string text = calibrationJson(calibration);
    const bool jsonWritten = std::fwrite(text.data(), 1, text.size(), json) == text.size();
    if (std::fclose(json) != 0 || !jsonWritten) {
        SV_LOG_ERROR("cannot write %s", jsonPath.c_str());
        std::remove(jsonPath.c_str());
        return false;
    }

    int rate = 30;
    apsTool->getIntParameter(param::FrameRate, rate);
    // The producer waits here while the files open, so the first frame recorded is the next
    // one it starts, and the events from then on reach the raw file.
    std::lock_guard lock(frameMutex);
    const uint64_t origin = scheduleStarted && stream.isRunning() ? nextSync : stream.producedUntil();
    auto recorder = std::make_unique<ApsVideoRecorder>();
    if (!recorder->open(base + ".mp4", ApsWidth, ApsHeight, rate)) {
        std::remove(jsonPath.c_str());
        return false;
    }
    RawHeaderInfo header;
    header.width = DvsWidth;
    header.height = DvsHeight;
    header.serial = getDvsDesc().serial;
    header.extraKeys["apsTimeOffset"] = std::to_string(origin);
    // The event sensor is read out mirrored; the live stream turns it to match the frames,
    // the recording keeps the sensor's own order.
    if (!stream.recorder().start(base + ".raw", header, true)) {
        recorder->close();
        std::remove((base + ".mp4").c_str());
        std::remove(jsonPath.c_str());
        return false;
    }
    video = std::move(recorder);
    videoOrigin = origin;
    recordFrom = origin;
    SV_LOG_INFO("recording %s (.raw, .mp4, .json), frames from %llu us", base.c_str(),
                static_cast<unsigned long long>(origin));
    return true;
}

bool SimulatedFusionCamera::stopRecording(STREAM_TYPE)
{
    std::unique_ptr<ApsVideoRecorder> finished;
    {
        std::lock_guard lock(frameMutex);
        finished = std::move(video);
    }
    bool ok = stream.recorder().stop();
    if (finished)
        ok = finished->close() && ok;
    else
        ok = false;
    return ok;
}

void SimulatedFusionCamera::setStatisticInfoCallback(StatisticInfoCallback callback)
{
    stream.setStatisticCallback(std::move(callback));
}

} // namespace sorvane

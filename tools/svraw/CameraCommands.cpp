// Commands on cameras: cameras, record, generate.
#include "Cli.h"

#include <SorvaneBase/SafeOutput.h>
#include <SorvaneDriver/DvsCameraManager.h>
#include <SorvaneDriver/Raw/RawEventWriter.h>
#include <SorvaneDriver/Simulated/SimulatedSensor.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

using namespace sorvane;

namespace svraw {

namespace {

const std::map<std::string, ToolType>& toolNames()
{
    static const std::map<std::string, ToolType> names = {
        {"biases", ToolType::Biases},
        {"trigger_in", ToolType::TriggerIn},
        {"anti_flicker", ToolType::AntiFlicker},
        {"trail_filter", ToolType::EventTrailFilter},
        {"rate_control", ToolType::EventRateControl},
        {"roi", ToolType::Roi},
        {"aps", ToolType::Aps},
    };
    return names;
}

bool parseNumber(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value);
}

// Writes one camera parameter from text through the tool's own description of it.
bool setParameter(CameraTool& tool, const std::string& name, const std::string& text)
{
    ParameterInfoMap infos;
    tool.getAllParameterInfo(infos);
    auto it = infos.find(name);
    if (it == infos.end()) {
        std::fprintf(stderr, "svraw: no parameter %s; this tool has:", name.c_str());
        for (const auto& [known, info] : infos)
            std::fprintf(stderr, " %s", known.c_str());
        std::fprintf(stderr, "\n");
        return false;
    }
    double number = 0;
    switch (it->second.type) {
    case ParameterInt:
        if (!parseNumber(text, number) || number != std::floor(number) || std::fabs(number) > 2e9)
            break;
        return tool.setIntParameter(name, int(number));
    case ParameterFloat:
        if (!parseNumber(text, number))
            break;
        return tool.setFloatParameter(name, float(number));
    case ParameterBool:
        if (text == "true" || text == "1" || text == "on")
            return tool.setBoolParameter(name, true);
        if (text == "false" || text == "0" || text == "off")
            return tool.setBoolParameter(name, false);
        break;
    case ParameterEnum:
        return tool.setEnumParameter(name, text);
    }
    std::fprintf(stderr, "svraw: \"%s\" is not a value for %s\n", text.c_str(), name.c_str());
    return false;
}

template <typename Camera>
bool applySettings(Camera& camera, const std::vector<std::string>& settings)
{
    for (const std::string& setting : settings) {
        const size_t dot = setting.find('.');
        const size_t equals = setting.find('=');
        if (dot == std::string::npos || equals == std::string::npos || equals < dot) {
            std::fprintf(stderr, "svraw: --set takes TOOL.PARAM=VALUE, not %s\n", setting.c_str());
            return false;
        }
        const std::string toolName = setting.substr(0, dot);
        auto found = toolNames().find(toolName);
        std::shared_ptr<CameraTool> tool = found == toolNames().end() ? nullptr : camera.getTool(found->second);
        if (!tool) {
            std::fprintf(stderr, "svraw: this camera has no tool %s (tools: biases, trigger_in, anti_flicker, "
                                 "trail_filter, rate_control, roi, aps)\n", toolName.c_str());
            return false;
        }
        const std::string param = setting.substr(dot + 1, equals - dot - 1);
        if (!setParameter(*tool, param, setting.substr(equals + 1))) {
            std::fprintf(stderr, "svraw: the camera refuses %s\n", setting.c_str());
            return false;
        }
    }
    return true;
}

void waitSeconds(double seconds)
{
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t(seconds * 1e6)));
}

long fileSize(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return size;
}

std::optional<double> decimal(Options& options, const std::string& name, double low, double high)
{
    const std::optional<std::string> text = options.text(name);
    if (!text)
        return std::nullopt;
    double value = 0;
    if (!parseNumber(*text, value) || value <= low || value > high) {
        std::fprintf(stderr, "svraw: --%s wants a number above %g and up to %g, not '%s'\n", name.c_str(), low, high,
                     text->c_str());
        return low;
    }
    return value;
}

int cameras(Options&)
{
    DvsCameraManager manager;
    for (const CameraDescription& desc : manager.getCameraDescs())
        print("%s %s\n", desc.serial.c_str(), desc.product.c_str());
    return 0;
}

int record(Options& options)
{
    const std::string& serial = options.positional()[0];
    const std::string& out = options.positional()[1];
    const std::optional<double> given = decimal(options, "seconds", 0, 86400);
    if (!given) {
        std::fprintf(stderr, "svraw record: --seconds S is needed\nusage: svraw record SERIAL OUT.raw --seconds S "
                             "[--set TOOL.PARAM=VALUE ...]\n");
        return 2;
    }
    if (*given <= 0)
        return 2;
    const double seconds = *given;
    const std::vector<std::string> settings = options.texts("set");
    // A folder is no name: a fusion camera would write the hidden, nameless set .raw, .mp4 and
    // .json into it.
    std::error_code ignored;
    if ((!out.empty() && out.back() == '/') || std::filesystem::is_directory(out, ignored)) {
        const std::string folder = out.back() == '/' ? out : out + "/";
        return fail(out + " is a folder; name the recording in it, as in " + folder + "NAME.raw");
    }

    DvsCameraManager manager;
    std::string product;
    for (const CameraDescription& desc : manager.getCameraDescs())
        if (desc.serial == serial)
            product = desc.product;
    if (product.empty())
        return fail("no camera " + serial + " attached (svraw cameras lists them)");

    if (product == "Tandem") {
        // A fusion camera records a set: OUT.raw, OUT.mp4 and OUT.json.
        auto camera = manager.openFusionCamera(serial);
        if (!camera || !applySettings(*camera, settings))
            return 1;
        std::string base = out;
        if (base.size() > 4 && base.compare(base.size() - 4, 4, ".raw") == 0)
            base.resize(base.size() - 4);
        const size_t slash = base.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : base.substr(0, slash);
        const std::string name = slash == std::string::npos ? base : base.substr(slash + 1);
        if (name.empty())
            return fail("the set " + out + " needs a name before .raw");
        if (camera->start(STREAM_ALL) != 0 || !camera->startRecording(folder, name, STREAM_ALL)) {
            camera->stop(STREAM_ALL);
            return fail("cannot record " + out + " from " + serial);
        }
        waitSeconds(seconds);
        bool ok = camera->isConnected();
        ok = camera->stopRecording(STREAM_ALL) && ok;
        camera->stop(STREAM_ALL);
        camera->close();
        if (!ok)
            return fail("the recording " + base + " is incomplete");
        print("%s.raw %ld bytes, %s.mp4 %ld bytes, %s.json\n", base.c_str(), fileSize(base + ".raw"), base.c_str(),
              fileSize(base + ".mp4"), base.c_str());
        return 0;
    }

    auto camera = manager.openCamera(serial);
    if (!camera || !applySettings(*camera, settings))
        return 1;
    if (camera->start() != 0 || !camera->startRecording(out)) {
        camera->stop();
        return fail("cannot record " + out + " from " + serial);
    }
    waitSeconds(seconds);
    bool ok = camera->isConnected();
    ok = camera->stopRecording() && ok;
    camera->stop();
    if (!ok)
        return fail("the recording " + out + " is incomplete");
    print("%s %ld bytes\n", out.c_str(), fileSize(out));
    return 0;
}

int generate(Options& options)
{
    const std::string& out = options.positional()[0];
    SceneKind kind = SceneKind::Mixed;
    if (const auto scene = options.text("scene"); scene && !parseSceneKind(*scene, kind))
        return fail("no scene '" + *scene + "' (edges, bar, flicker, noise, mixed)");
    const double duration = decimal(options, "duration-s", 0, 3600).value_or(10);
    const double rate = decimal(options, "rate-ev-s", 0, 1e9).value_or(2e6);
    const uint64_t seed = options.number("seed").value_or(1);
    if (duration <= 0 || rate <= 0 || !options.numbersValid())
        return 2;

    // The camera's own pipeline with its default tools: the same events a camera would stream.
    EventPipeline pipeline(kind, rate, seed, 1280, 720, SensorTools::create(1280, 720, false));
    pipeline.setTriggerSource(EventPipeline::externalInputs());
    RawEventWriter writer;
    RawHeaderInfo header;
    header.serial = "SYNTH-" + std::string(sceneKindName(kind)) + "-" + std::to_string(seed);
    // Like a cut: written beside the target and moved onto it when complete, and on SIGINT or
    // SIGTERM removed.
    struct Stop {
        std::atomic<bool> asked{false};
        void cancel() { asked.store(true); }
    } stop;
    const CancelOnSignal cancelOnSignal(stop);
    SafeOutput output;
    std::string problem;
    if (!output.begin(out, existingFile(options), {}, problem)) {
        fail(problem);
        return writeFailed(problem, {});
    }
    if (!writer.attach(output.temporaryFd(), output.temporaryPath(), header))
        return fail("cannot write " + out);
    const uint64_t end = uint64_t(std::llround(duration * 1e6));
    uint64_t events = 0;
    StreamChunk chunk;
    bool ok = true;
    Progress progress("generating");
    while (ok && !stop.asked.load() && pipeline.position() + SyntheticScene::TickUs <= end) {
        chunk.clear();
        chunk.begin = pipeline.position();
        pipeline.produce(std::min(end, chunk.begin + 10000), chunk);
        const Event2D* e = chunk.events.data();
        const Event2D* last = e + chunk.events.size();
        for (const EventTriggerIn& trigger : chunk.triggers) {
            const Event2D* upTo = e;
            while (upTo != last && upTo->timestamp <= trigger.timestamp)
                ++upTo;
            ok = ok && writer.write(e, upTo) && writer.writeTrigger(trigger);
            e = upTo;
        }
        ok = ok && writer.write(e, last);
        events += chunk.events.size();
        progress(double(pipeline.position()) / double(end));
    }
    ok = writer.close() && ok;
    if (stop.asked.load())
        return fail("generating " + out + " was cancelled");
    if (!ok)
        return fail("writing " + out + " failed");
    if (!output.commit(problem))
        return fail(problem);
    print("%s: %llu events, %.3f s, scene %s, seed %llu\n", out.c_str(), static_cast<unsigned long long>(events),
          double(pipeline.position()) / 1e6, sceneKindName(kind), static_cast<unsigned long long>(seed));
    return 0;
}

} // namespace

std::vector<Command> cameraCommands()
{
    return {
        {"cameras", "", "list the attached cameras, one per line: serial, a blank, product", cameras, 0, {}, {}},
        {"record", "SERIAL OUT.raw --seconds S [--set TOOL.PARAM=VALUE ...]",
         "record S seconds from a camera (a fusion camera writes OUT.raw, OUT.mp4 and OUT.json); tools: biases, "
         "trigger_in, anti_flicker, trail_filter, rate_control, roi, aps",
         record, 2, {"seconds", "set"}, {}},
        {"generate",
         "OUT.raw [--scene edges|bar|flicker|noise|mixed] [--duration-s S] [--rate-ev-s R] [--seed N] [--force]",
         "write a synthetic recording; the same arguments always give the same events (--force: replace an "
         "existing OUT.raw)",
         generate, 1, {"scene", "duration-s", "rate-ev-s", "seed"}, {"force"}},
    };
}

} // namespace svraw

#include "CameraCommands.h"

#include <SorvaneDriver/DvsCameraManager.h>
#include <SorvaneDriver/RawEventWriter.h>
#include <SorvaneDriver/SimulatedSensor.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

using namespace sorvane;

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

bool parseWhole(const std::string& text, uint64_t& value)
{
    if (text.empty() || text[0] == '-')
        return false;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return *end == '\0';
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

} // namespace

int svrawCameras(const std::vector<std::string>& args)
{
    if (!args.empty()) {
        std::fprintf(stderr, "usage: svraw cameras\n");
        return 2;
    }
    DvsCameraManager manager;
    for (const CameraDescription& desc : manager.getCameraDescs())
        std::printf("%s %s\n", desc.serial.c_str(), desc.product.c_str());
    return 0;
}

int svrawRecord(const std::vector<std::string>& args)
{
    const char* usage = "usage: svraw record SERIAL OUT.raw --seconds S [--set TOOL.PARAM=VALUE ...]\n";
    std::vector<std::string> positional;
    std::vector<std::string> settings;
    double seconds = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size()) {
            if (!parseNumber(args[++i], seconds) || seconds <= 0 || seconds > 86400) {
                std::fprintf(stderr, "svraw: --seconds takes a number of seconds above 0, not %s\n", args[i].c_str());
                return 2;
            }
        } else if (args[i] == "--set" && i + 1 < args.size()) {
            settings.push_back(args[++i]);
        } else if (args[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "svraw: unknown option %s\n%s", args[i].c_str(), usage);
            return 2;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2 || seconds < 0) {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }
    const std::string& serial = positional[0];
    const std::string& out = positional[1];

    DvsCameraManager manager;
    std::string product;
    for (const CameraDescription& desc : manager.getCameraDescs())
        if (desc.serial == serial)
            product = desc.product;
    if (product.empty()) {
        std::fprintf(stderr, "svraw: no camera %s attached (svraw cameras lists them)\n", serial.c_str());
        return 1;
    }

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
        if (camera->start(STREAM_ALL) != 0 || !camera->startRecording(folder, name, STREAM_ALL)) {
            std::fprintf(stderr, "svraw: cannot record %s from %s\n", out.c_str(), serial.c_str());
            return 1;
        }
        waitSeconds(seconds);
        const bool ok = camera->stopRecording(STREAM_ALL);
        camera->stop(STREAM_ALL);
        camera->close();
        if (!ok) {
            std::fprintf(stderr, "svraw: the recording %s is incomplete\n", out.c_str());
            return 1;
        }
        std::printf("%s.raw %ld bytes, %s.mp4, %s.json\n", base.c_str(), fileSize(base + ".raw"), base.c_str(), base.c_str());
        return 0;
    }

    auto camera = manager.openCamera(serial);
    if (!camera || !applySettings(*camera, settings))
        return 1;
    if (camera->start() != 0 || !camera->startRecording(out)) {
        std::fprintf(stderr, "svraw: cannot record %s from %s\n", out.c_str(), serial.c_str());
        camera->stop();
        return 1;
    }
    waitSeconds(seconds);
    bool ok = camera->isConnected();
    ok = camera->stopRecording() && ok;
    camera->stop();
    if (!ok) {
        std::fprintf(stderr, "svraw: the recording %s is incomplete\n", out.c_str());
        return 1;
    }
    std::printf("%s %ld bytes\n", out.c_str(), fileSize(out));
    return 0;
}

int svrawGenerate(const std::vector<std::string>& args)
{
    const char* usage = "usage: svraw generate OUT.raw --scene edges|bar|flicker|noise|mixed --duration-s S "
                        "--rate-ev-s R --seed N\n";
    std::string out;
    SceneKind kind = SceneKind::Mixed;
    double duration = 10;
    double rate = 2e6;
    uint64_t seed = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--scene" && hasValue) {
            if (!parseSceneKind(args[++i], kind)) {
                std::fprintf(stderr, "svraw: no scene %s\n%s", args[i].c_str(), usage);
                return 2;
            }
        } else if (args[i] == "--duration-s" && hasValue) {
            if (!parseNumber(args[++i], duration) || duration <= 0 || duration > 3600) {
                std::fprintf(stderr, "svraw: --duration-s takes seconds above 0 and up to 3600\n");
                return 2;
            }
        } else if (args[i] == "--rate-ev-s" && hasValue) {
            if (!parseNumber(args[++i], rate) || rate <= 0 || rate > 1e9) {
                std::fprintf(stderr, "svraw: --rate-ev-s takes events per second above 0 and up to 1e9\n");
                return 2;
            }
        } else if (args[i] == "--seed" && hasValue) {
            if (!parseWhole(args[++i], seed)) {
                std::fprintf(stderr, "svraw: --seed takes a whole number\n");
                return 2;
            }
        } else if (args[i].rfind("--", 0) == 0 || !out.empty()) {
            std::fprintf(stderr, "svraw: unexpected %s\n%s", args[i].c_str(), usage);
            return 2;
        } else {
            out = args[i];
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }

    // The camera's own pipeline with its default tools: the same events a camera would stream.
    EventPipeline pipeline(kind, rate, seed, 1280, 720, SensorTools::create(1280, 720, false));
    pipeline.setTriggerSource(EventPipeline::externalInputs());
    RawEventWriter writer;
    RawHeaderInfo header;
    header.serial = "SYNTH-" + std::string(sceneKindName(kind)) + "-" + std::to_string(seed);
    if (!writer.open(out, header))
        return 1;
    const uint64_t end = uint64_t(std::llround(duration * 1e6));
    uint64_t events = 0;
    StreamChunk chunk;
    bool ok = true;
    while (ok && pipeline.position() < end) {
        chunk.clear();
        chunk.begin = pipeline.position();
        pipeline.produce(std::min(end, chunk.begin + 10000), chunk);
        if (chunk.end == chunk.begin)
            break; // less than a millisecond left
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
    }
    ok = writer.close() && ok;
    if (!ok) {
        std::fprintf(stderr, "svraw: writing %s failed\n", out.c_str());
        return 1;
    }
    std::printf("%s: %llu events, %.3f s, scene %s, seed %llu\n", out.c_str(), static_cast<unsigned long long>(events),
                double(end) / 1e6, sceneKindName(kind), static_cast<unsigned long long>(seed));
    return 0;
}

#include "SorvaneDriver/VideoSupport.h"

#include "SorvaneDriver/Video/VideoExport.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <vector>

namespace sorvane {

namespace {

std::atomic<const VideoSupport*> registered{nullptr};
// Guards loadError and the loading itself: threads asking at once load the module once.
std::mutex loading;
std::string loadError;

// The module beside the program, then in its lib folder; the build tree's last.
std::vector<std::string> moduleCandidates()
{
    std::vector<std::string> paths;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        paths.push_back((program.parent_path() / "libsv_video.so").string());
        paths.push_back((program.parent_path().parent_path() / "lib" / "libsv_video.so").string());
    }
#ifdef SV_VIDEO_MODULE_PATH
    paths.push_back(SV_VIDEO_MODULE_PATH);
#endif
    return paths;
}

} // namespace

void registerVideoSupport(const VideoSupport* support)
{
    registered.store(support);
}

const VideoSupport* videoSupport(std::string& error)
{
    if (const VideoSupport* support = registered.load())
        return support;
    const std::lock_guard lock(loading);
    if (const VideoSupport* support = registered.load())
        return support;
    if (loadError.empty()) {
        std::string tried;
        for (const std::string& path : moduleCandidates()) {
            if (::access(path.c_str(), R_OK) != 0)
                continue;
            // The module registers itself as it loads.
            if (::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL) && registered.load())
                return registered.load();
            const char* why = ::dlerror();
            tried += (tried.empty() ? "" : "; ") + path + ": " + (why ? why : "it did not register");
        }
        loadError = "video support cannot be loaded (" + (tried.empty() ? "no libsv_video.so found" : tried) + ")";
    }
    error = loadError;
    return nullptr;
}

FusionSetPaths fusionSetPaths(const std::string& rawPath)
{
    const size_t slash = rawPath.rfind('/');
    const size_t dot = rawPath.rfind('.');
    const std::string base = dot != std::string::npos && (slash == std::string::npos || dot > slash)
        ? rawPath.substr(0, dot) : rawPath;
    return {base + ".raw", base + ".mp4", base + ".json"};
}

bool isFusionSet(const std::string& rawPath)
{
    const std::string_view suffix = ".raw";
    if (rawPath.size() <= suffix.size() || rawPath.compare(rawPath.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::error_code ignored;
    return std::filesystem::is_regular_file(fusionSetPaths(rawPath).video, ignored);
}

std::string fusionSetEvents(const std::string& path)
{
    const FusionSetPaths set = fusionSetPaths(path);
    return (path == set.video || path == set.calibration) && isFusionSet(set.raw) ? set.raw : path;
}

// Plain arithmetic, here so that a program can say what an export will write before loading the
// video half.
std::pair<uint64_t, uint64_t> heldToEvents(uint64_t start, uint64_t end, uint64_t first, uint64_t last,
                                           uint64_t frameStep)
{
    if (start < first)
        start += (first - start) / frameStep * frameStep;
    return {start, std::min(end, last)};
}

uint64_t exportedFrameCount(uint64_t start, uint64_t end, uint64_t first, uint64_t last, uint64_t frameStep)
{
    if (frameStep == 0 || start > end || start > last || end < first)
        return 0;
    const auto [from, to] = heldToEvents(start, end, first, last, frameStep);
    return (to - from) / frameStep + 1;
}

uint64_t fusionImageCount(uint64_t start, uint64_t end, uint64_t frameStep)
{
    if (start > end || frameStep == 0)
        return 0;
    const uint64_t span = end - start;
    return span / frameStep + (span % frameStep ? 2 : 1);
}

uint64_t fusionSetStart(int64_t apsTimeOffset, uint64_t lastEvent)
{
    return std::min(uint64_t(std::max<int64_t>(apsTimeOffset, 0)), lastEvent);
}

} // namespace sorvane

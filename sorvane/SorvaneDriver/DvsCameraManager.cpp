#include "SorvaneDriver/DvsCameraManager.h"

#include "SorvaneBase/Logger.h"

namespace sorvane {

std::vector<std::shared_ptr<CameraProvider>> builtInCameraProviders();

DvsCameraManager::DvsCameraManager()
    : DvsCameraManager(builtInCameraProviders())
{
}

DvsCameraManager::DvsCameraManager(std::vector<std::shared_ptr<CameraProvider>> providers_)
    : providers(std::move(providers_))
{
}

std::vector<CameraDescription> DvsCameraManager::getCameraDescs()
{
    std::vector<CameraDescription> all;
    for (const auto& provider : providers) {
        auto found = provider->listCameras();
        all.insert(all.end(), found.begin(), found.end());
    }
    return all;
}

std::shared_ptr<DvsCamera> DvsCameraManager::openCamera(const std::string& serial)
{
    for (const auto& provider : providers)
        if (auto camera = provider->openCamera(serial))
            return camera;
    SV_LOG_ERROR("no event camera with serial %s", serial.c_str());
    return nullptr;
}

std::shared_ptr<FusionCamera> DvsCameraManager::openFusionCamera(const std::string& serial)
{
    for (const auto& provider : providers)
        if (auto camera = provider->openFusionCamera(serial))
            return camera;
    SV_LOG_ERROR("no fusion camera with serial %s", serial.c_str());
    return nullptr;
}

} // namespace sorvane

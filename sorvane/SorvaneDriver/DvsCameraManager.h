#pragma once
// Finds cameras and opens them. Cameras come from providers (the simulated cameras; a hardware
// driver would be another provider), so the viewer never knows which kind it holds.
#include "SorvaneDriver/DvsCamera.h"
#include "SorvaneDriver/FusionCamera.h"

#include <memory>
#include <string>
#include <vector>

namespace sorvane {

class CameraProvider {
public:
    virtual ~CameraProvider() = default;
    virtual std::vector<CameraDescription> listCameras() = 0;
    // Null when serial is not one of this provider's cameras or it cannot be opened as asked.
    virtual std::shared_ptr<DvsCamera> openCamera(const std::string& serial) = 0;
    virtual std::shared_ptr<FusionCamera> openFusionCamera(const std::string& serial) = 0;
};

class DvsCameraManager {
public:
    // With the providers built into the SDK (the simulated cameras).
    DvsCameraManager();
    explicit DvsCameraManager(std::vector<std::shared_ptr<CameraProvider>> providers);

    std::vector<CameraDescription> getCameraDescs();
    std::shared_ptr<DvsCamera> openCamera(const std::string& serial);
    std::shared_ptr<FusionCamera> openFusionCamera(const std::string& serial);

private:
    std::vector<std::shared_ptr<CameraProvider>> providers;
};

} // namespace sorvane

#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"

namespace sorvane {

std::vector<std::shared_ptr<CameraProvider>> builtInCameraProviders()
{
    return {std::make_shared<SimulatedCameraProvider>()};
}

} // namespace sorvane

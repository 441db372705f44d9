#include "SorvaneDriver/DvsCameraManager.h"

namespace sorvane {

// The simulated cameras register here once they exist.
std::vector<std::shared_ptr<CameraProvider>> builtInCameraProviders()
{
    return {};
}

} // namespace sorvane

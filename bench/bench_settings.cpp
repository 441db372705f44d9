// Settings pages: the DVS page built from a camera's tools when the camera opens, on the GUI
// thread, so it must not stall the window.
#include "SorvaneDriver/Simulated/SimulatedSensor.h"
#include "settings/SidebarDvsSettingUI.h"

#include "BenchApplication.h"

#include <benchmark/benchmark.h>

namespace {

// All six groups of the simulated camera's tools, each rebuilt over the previous one.
void BM_BuildDvsPage(benchmark::State& state)
{
    benchApplication();
    const sorvane::SensorTools tools = sorvane::SensorTools::create(1280, 720, false);
    SidebarDvsSettingUI page;
    for (auto _ : state) {
        page.setBiasesToolUI(tools.biases);
        page.setTriggerInToolUI(tools.triggerIn);
        page.setAntiFlickerToolUI(tools.antiFlicker);
        page.setEventRateControlToolUI(tools.rateControl);
        page.setEventTrailFilterToolUI(tools.trailFilter);
        page.setROIToolUI(tools.roi);
        benchmark::DoNotOptimize(page.groups().size());
    }
}
BENCHMARK(BM_BuildDvsPage)->Unit(benchmark::kMillisecond);

} // namespace

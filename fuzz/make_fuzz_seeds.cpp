// Writes the fuzzer's seed corpus: small recordings in the three encodings, with row runs,
// time wraps and trigger edges, plus a few header variants.
#include "RawTestData.h"

#include <cstdio>
#include <string>

using namespace rawtest;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    int written = 0;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        Stream stream;
        // Step sizes chosen so that some seeds cross the EVT 3.0 wrap at 16.78 s.
        stream.events = makeEvents(seed, 200 * seed, 16'777'216 - 20'000 * seed, 200 * seed, 320, 240);
        for (size_t i = 0; i < stream.events.size(); i += 37)
            stream.triggers.emplace_back(int16_t(i % 16), int16_t(i % 2), stream.events[i].timestamp);
        const std::string base = folder + "/seed" + std::to_string(seed);
        written += writeRecording(base + "-evt3.raw", stream, 320, 240);
        written += writeFile(base + "-evt2.raw", "% evt 2.0\n% geometry 320x240\n", encodeEvt2(stream));
        written += writeFile(base + "-evt21.raw", "% format EVT21;height=240;width=320\n% end\n", encodeEvt21(stream, false));
        written += writeFile(base + "-evt21-legacy.raw", "% format EVT21;height=240;width=320;endianness=legacy\n% end\n",
                             encodeEvt21(stream, true));
    }
    written += writeFile(folder + "/header-only.raw", "% evt 3.0\n% plugin_name hal_plugin_gen31\n% end\n", {});
    written += writeFile(folder + "/no-header.raw", "", std::vector<uint8_t>{0x01, 0x00, 0x02, 0x80, 0x05, 0x20, 0xff, 0x4f});
    std::printf("%d seed files in %s\n", written, folder.c_str());
    return written == 18 ? 0 : 1;
}

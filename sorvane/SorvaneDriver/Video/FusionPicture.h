#pragma once
// The picture the viewer shows of a fusion set (see FusionSetPaths in VideoSupport.h) at a time
// t, painted in one place for the viewer's playback and for the export, so that both give the
// same picture:
// - the frame is the last one that started at or before t on the event clock (the first one
//   before any), mapped onto the event grid by the calibration;
// - the events are those of (t - accumulation, t]. The recording holds the sensor's readout, whose
//   column x the frames show at column width - 1 - x, so they are turned before they are drawn.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/EventRegion.h"
#include "SorvaneDriver/Render/EventImage.h"
#include "SorvaneDriver/VideoSupport.h"
#include "sdk/Calibrator.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sorvane {

class ApsFileReader;

// Draws [begin, end) over a BGR888 picture of the event grid (rows stride bytes apart): the
// positive colour for polarity 1, else the negative one; later events overwrite earlier ones.
// mirrored: the events are a recording's readout (see above). With `only`, only the events shown
// inside it are drawn.
void drawEventsOver(uint8_t* bgr, size_t stride, const Event2D* begin, const Event2D* end, bool mirrored,
                    Rgb positive, Rgb negative, const EventRegion* only = nullptr);

// Copies a frame mapped onto the event grid into a BGR888 picture of it (rows stride bytes
// apart), as the background the events are drawn over; black when the frame has another size.
void drawFrame(const ApsFrame& mapped, uint8_t* bgr, size_t stride);

// A region of the picture as the region of the readout's own columns that it shows.
EventRegion readoutRegion(const EventRegion& shown);

// Whether a calibration maps onto the event grid the pictures have.
bool fitsEventGrid(const CalibratorParameters& parameters);

// The calibration of the set whose calibration file is path: the default mapping when there is
// none. False, with error set, when it cannot be read or is not for the event grid.
bool loadSetCalibration(const std::string& path, Calibrator& calibrator, std::string& error);

class FusionPicture {
public:
    // The frames of the video at videoPath, mapped by calibration. Null, with error set, when
    // the video holds no readable frame.
    static std::unique_ptr<FusionPicture> open(const std::string& videoPath, const Calibrator& calibration,
                                               std::string& error);
    ~FusionPicture();
    FusionPicture(const FusionPicture&) = delete;
    FusionPicture& operator=(const FusionPicture&) = delete;

    // Where the video's zero lies on the event clock (a set's apsTimeOffset); times before the
    // clock's zero count from it.
    void setTimeOffset(int64_t apsTimeOffset);

    // Paints the picture at t into bgr (the event grid, rows stride bytes apart). An accumulation
    // of 0 shows the frame alone. With `only`, only the events shown inside it are drawn. A frame
    // that cannot be decoded leaves the last one that could in its place. False, with error set,
    // when the events cannot be read.
    bool paint(DvsFileReader& events, uint64_t t, uint64_t accumulation, FusionView view, const Palette& colours,
               const EventRegion* only, uint8_t* bgr, size_t stride, std::string& error);

private:
    FusionPicture(std::unique_ptr<ApsFileReader> frames, std::vector<uint64_t> frameTimes, const Calibrator& calibration);
    // Makes the frame shown at t the mapped one.
    bool mapFrameAt(uint64_t t, std::string& error);

    std::unique_ptr<ApsFileReader> frames;
    std::vector<uint64_t> frameTimes; // presentation times, from the video's zero
    Calibrator calibrator;
    uint64_t offset = 0;
    ApsFrame mapped;
    int64_t mappedIndex = -1;
    // The counts of the events-only view and the turned events of a block, kept between pictures.
    eventimage::CountPlane counts;
    std::vector<Event2D> turned;
};

} // namespace sorvane

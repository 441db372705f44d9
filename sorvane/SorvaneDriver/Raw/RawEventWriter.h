#pragma once
// Streaming writer of EVT 3.0 (or EVT 2.0) `.raw` recordings. Events and trigger edges are appended in
// timestamp order; the file is flushed at least once a second, so a killed program loses at most
// the last second, and every file left behind is readable.
//
// Threading: one thread writes; no internal locking.
#include "SorvaneDriver/Raw/EventDecoders.h"
#include "sdk/SvEventRecords.h"

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>

namespace sorvane {

struct RawHeaderInfo {
    int width = 1280;
    int height = 720;
    std::string serial;
    // Evt3 or Evt2.
    EventEncoding encoding = EventEncoding::Evt3;
    // Further "% key value" lines, e.g. {"apsTimeOffset", "1234"}.
    std::map<std::string, std::string> extraKeys;
};

class RawEventWriter {
public:
    RawEventWriter();
    ~RawEventWriter(); // closes
    RawEventWriter(const RawEventWriter&) = delete;
    RawEventWriter& operator=(const RawEventWriter&) = delete;

    // Creates path, which must not exist yet, and writes the header. False, with a log line,
    // when it cannot.
    bool open(const std::string& path, const RawHeaderInfo& header);
    // The same into fd, an empty file created for the recording (the writer keeps its own
    // descriptor of it; path names it in messages).
    bool attach(int fd, const std::string& path, const RawHeaderInfo& header);
    // Drops everything written after the header, to write the stream anew.
    bool restart();
    // Events must not go back in time relative to what was written before.
    bool write(const Event2D* begin, const Event2D* end);
    bool writeTrigger(const EventTriggerIn& trigger);
    bool flush();
    bool close();
    bool isOpen() const;
    uint64_t bytesWritten() const;

    // Continues the stream with EVT 3.0 words taken as they are from another recording: before is
    // the decoder state those words followed there, after the one they leave. False when the
    // stream cannot be brought to before (it lies earlier than what was written) or the writer
    // writes EVT 2.0.
    bool writeEvt3Words(std::span<const uint8_t> words, const DecoderState& before, const DecoderState& after);
    // Events dropped because they lay outside the sensor.
    uint64_t droppedEvents() const;

private:
    bool start(int fd, const std::string& path, const RawHeaderInfo& header);

    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace sorvane

#include "SorvaneDriver/Raw/SeekIndex.h"

#include <algorithm>

namespace sorvane {

namespace {

// First checkpoint that has a word at or after t before it.
std::vector<Checkpoint>::const_iterator firstPast(const std::vector<Checkpoint>& checkpoints, uint64_t t)
{
    return std::partition_point(checkpoints.begin(), checkpoints.end(), [t](const Checkpoint& checkpoint) {
        return checkpoint.maxTimeBefore < t;
    });
}

} // namespace

void SeekIndex::finish()
{
    uint64_t least = UINT64_MAX;
    for (auto it = checkpoints.rbegin(); it != checkpoints.rend(); ++it) {
        if (it->minTime <= it->maxTime)
            least = std::min(least, it->minTime);
        it->minTimeFrom = least;
    }
}

size_t SeekIndex::checkpointFor(uint64_t t) const
{
    // Everything before the checkpoint ahead of firstPast is earlier than t, so the word sought
    // lies after it.
    const auto it = firstPast(checkpoints, t);
    const size_t past = size_t(it - checkpoints.begin());
    if (past == checkpoints.size())
        return checkpoints.size() - 1;
    return past == 0 ? 0 : past - 1;
}

size_t SeekIndex::firstStretchFor(uint64_t start) const
{
    return checkpoints.empty() ? 0 : checkpointFor(start);
}

size_t SeekIndex::endOfStretchesFor(uint64_t stop) const
{
    // minTimeFrom only grows: stretches from the first one whose later times all lie at or
    // after stop hold nothing of the range. The last checkpoint only marks the end.
    const auto it = std::partition_point(checkpoints.begin(), checkpoints.end(),
                                         [stop](const Checkpoint& checkpoint) { return checkpoint.minTimeFrom < stop; });
    return std::min(size_t(it - checkpoints.begin()), checkpoints.empty() ? 0 : checkpoints.size() - 1);
}

bool SeekIndex::stretchMeets(size_t i, uint64_t start, uint64_t stop) const
{
    const Checkpoint& stretch = checkpoints[i];
    return stretch.minTime <= stretch.maxTime && stretch.minTime < stop && stretch.maxTime >= start;
}

size_t SeekIndex::stretchHolding(uint64_t offset) const
{
    const auto it = std::partition_point(checkpoints.begin(), checkpoints.end(),
                                         [offset](const Checkpoint& checkpoint) { return checkpoint.offset <= offset; });
    return it == checkpoints.begin() ? 0 : size_t(it - checkpoints.begin()) - 1;
}

std::vector<uint64_t> SeekIndex::eventsPerBin(uint64_t first, uint64_t last, size_t bins) const
{
    std::vector<uint64_t> counts(bins, 0);
    if (bins == 0 || last < first || checkpoints.size() < 2)
        return counts;
    std::vector<double> spread(bins, 0.0);
    const double binsPerUs = double(bins) / double(last - first + 1);
    const double lastBinStart = double(bins - 1);
    uint64_t before = checkpoints[0].eventsBefore;
    for (size_t i = 0; i + 1 < checkpoints.size(); ++i) {
        const Checkpoint& stretch = checkpoints[i];
        const uint64_t after = checkpoints[i + 1].eventsBefore;
        const double events = double(after - before);
        before = after;
        if (events == 0 || stretch.minTime > stretch.maxTime || stretch.maxTime < first || stretch.minTime > last)
            continue;
        // The stretch covers [begin, end) in bin units.
        const double begin = double(std::max(stretch.minTime, first) - first) * binsPerUs;
        const double end = double(std::min(stretch.maxTime, last) - first + 1) * binsPerUs;
        const size_t firstBin = size_t(std::min(begin, lastBinStart));
        const size_t lastBin = size_t(std::min(end, lastBinStart));
        if (firstBin == lastBin) {
            spread[firstBin] += events;
            continue;
        }
        const double perBin = events / (end - begin);
        spread[firstBin] += perBin * (double(firstBin + 1) - begin);
        for (size_t k = firstBin + 1; k < lastBin; ++k)
            spread[k] += perBin;
        spread[lastBin] += perBin * (end - double(lastBin));
    }
    for (size_t k = 0; k < bins; ++k)
        counts[k] = uint64_t(spread[k] + 0.5);
    return counts;
}

} // namespace sorvane

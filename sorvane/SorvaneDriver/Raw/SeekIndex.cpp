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

uint64_t SeekIndex::eventsBetween(size_t from, uint64_t t) const
{
    if (from >= checkpoints.size())
        return 0;
    const auto it = firstPast(checkpoints, t);
    const Checkpoint& end = it == checkpoints.end() ? checkpoints.back() : *it;
    return end.eventsBefore > checkpoints[from].eventsBefore ? end.eventsBefore - checkpoints[from].eventsBefore : 0;
}

} // namespace sorvane

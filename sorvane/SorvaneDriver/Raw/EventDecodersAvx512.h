#pragma once
// The decoders' AVX-512 fast paths. Their file is compiled for AVX-512 and includes nothing that
// could leave an AVX-512 copy of a shared inline function behind; they are called only once
// supported() said yes. Records are 16 bytes: x | y << 16 | polarity << 32, then the timestamp.
#include <cstddef>
#include <cstdint>

namespace sorvane::avx512 {

// The processor and the system allow AVX-512 F, BW, VL and VBMI2 (built without AVX-512 itself).
bool supported();

// ADDR_Y, ADDR_X and TIME_LOW words of EVT 3.0 and whole vector groups (VECT_BASE_X, VECT_12,
// VECT_12, VECT_8), up to 32 words at a time while 32 records fit, and other vector words between
// them; stops at a word of another type. The caller guarantees that no TIME_LOW can
// reach the stop time. now (its low 12 bits), y and the vector state are updated.
const uint8_t* decodeEvt3Bulk(const uint8_t* p, const uint8_t* end, uint32_t width, uint32_t height, uint64_t& now,
                              uint64_t& y, uint32_t& vectBase, uint32_t& vectPolarity, void* events, size_t capacity,
                              size_t& count);

// decodeEvt3Bulk counting instead of writing: events, those outside the sensor, and the least and
// greatest time of the events counted go into count, outside, minNow and maxNow.
const uint8_t* countEvt3Bulk(const uint8_t* p, const uint8_t* end, uint32_t width, uint32_t height, uint64_t& now,
                             uint64_t& y, uint32_t& vectBase, uint32_t& vectPolarity, size_t& count, uint64_t& outside,
                             uint64_t& minNow, uint64_t& maxNow);

// CD words of EVT 2.0, 16 at a time while 16 records fit; stops at a word of another type. The
// caller guarantees that no event of the current TIME_HIGH can reach the stop time.
const uint8_t* decodeEvt2Bulk(const uint8_t* p, const uint8_t* end, uint64_t highBits, uint32_t width,
                              uint32_t height, void* events, size_t capacity, size_t& count);

// decodeEvt2Bulk counting instead of writing: events, those outside the sensor, and the least and
// greatest low time bits of the events counted (left alone when none) go into count, outside,
// leastLow and mostLow.
const uint8_t* countEvt2Bulk(const uint8_t* p, const uint8_t* end, uint32_t width, uint32_t height, size_t& count,
                             uint64_t& outside, uint32_t& leastLow, uint32_t& mostLow);

// The records of a `.dat` file, 8 at a time while 8 records fit. The caller guarantees that no
// record can reach the stop time.
const uint8_t* decodeDatBulk(const uint8_t* p, const uint8_t* end, uint32_t width, uint32_t height, void* events,
                             size_t capacity, size_t& count);

} // namespace sorvane::avx512

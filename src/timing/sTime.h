// Interval timer: seconds between a StartTime and the following StopTime
// calls, read from the performance counter, or from the millisecond tick count
// when the counter runs at exactly 10,000,000 counts per second.
//
// Use: create, Init once, then alternate StartTime and StopTime and read
// RetTime after each StopTime. One instance belongs to one thread.
#pragma once

#include <cstdint>

// Signed 64-bit fixed-point number with four decimal places: Raw holds the
// number times kScale.
struct Fixed4 {
    static constexpr std::int64_t kScale = 10'000;
    std::int64_t Raw = 0;

    double Number() const { return static_cast<double>(Raw) / kScale; }
};

class sTime {
public:
    // Seconds from the last StartTime to the last StopTime; 0.0 until the first
    // StopTime, and 0.0 for good when the counter reports a frequency of 0.
    double RetTime() const { return Elapsed; }
    // Reads the counter frequency and fixes the reading source for the life of
    // the instance.
    void Init();
    // Takes the stop reading and measures from the last StartTime. Several calls
    // after one StartTime all measure from that same start. When the difference
    // of the readings does not fit 64 bits (readings not from one monotonic
    // clock), RetTime keeps its previous value.
    void StopTime();
    // Begins a new interval.
    void StartTime();

private:
    void TakeReading(Fixed4& reading) const;

    double Elapsed = 0.0;
    Fixed4 Frequency;
    Fixed4 StartCount;
    Fixed4 StopCount;
    std::int16_t UseTickCount = 0;  // -1: readings come from the tick count
};

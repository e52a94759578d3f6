#pragma once
#include <chrono>
#include <cstddef>
#include <string>

// The progress of a walk as one line: entries done of the total, pictures imported, files
// per second and the time left, redrawn at most ten times a second.
class TProgressMeter {
public:
    using TClock = std::chrono::steady_clock;

    void Start(std::size_t total, TClock::time_point now);
    // Whether the line is due again: a tenth of a second after the last one, or the last entry.
    bool Due(std::size_t done, TClock::time_point now);
    // "120 of 5000 entries, 100 pictures imported, 45.2 files/s, 1:48 left"
    std::string Line(std::size_t done, unsigned imported, TClock::time_point now) const;
    std::size_t Total() const { return FTotal; }

private:
    std::size_t FTotal = 0;
    TClock::time_point FStart {}, FLastShown {};
    bool FShown = false;
};

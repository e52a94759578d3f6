#pragma once
#include <chrono>

// Adds the time from construction to destruction to a total, if there is one.
class TStopwatch {
public:
    explicit TStopwatch(std::chrono::nanoseconds* total) : FTotal(total), FStart(std::chrono::steady_clock::now()) {}
    TStopwatch(const TStopwatch&) = delete;
    TStopwatch& operator=(const TStopwatch&) = delete;
    ~TStopwatch()
    {
        if (FTotal)
            *FTotal += std::chrono::steady_clock::now() - FStart;
    }

private:
    std::chrono::nanoseconds* FTotal;
    std::chrono::steady_clock::time_point FStart;
};

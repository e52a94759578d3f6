#pragma once
#include <cstddef>
#include <vector>

namespace testsupport {

// Samples of a picture, channels interleaved, rows top-down, in floating point.
struct TFloatPicture {
    int Width = 0, Height = 0, Channels = 3;
    std::vector<double> Samples;
    double At(int x, int y, int channel) const
    {
        return Samples[(static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x))
                * static_cast<std::size_t>(Channels) + static_cast<std::size_t>(channel)];
    }
};

// The picture shrunk or stretched to width × height by exact area averaging: each new pixel
// the mean of the picture over the rectangle it covers, partly covered pixels weighted by the
// part covered. Plain floating point, one side at a time.
TFloatPicture AreaAverage(const TFloatPicture& picture, int width, int height);

} // namespace testsupport

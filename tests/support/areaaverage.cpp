#include "tests/support/areaaverage.h"

#include <algorithm>
#include <cmath>

namespace testsupport {

namespace {

// Averages along x (alongRows) or along y into count pixels.
TFloatPicture AverageOneSide(const TFloatPicture& picture, int count, bool alongRows)
{
    const int sourceCount = alongRows ? picture.Width : picture.Height;
    TFloatPicture result;
    result.Width = alongRows ? count : picture.Width;
    result.Height = alongRows ? picture.Height : count;
    result.Channels = picture.Channels;
    result.Samples.assign(static_cast<std::size_t>(result.Width) * static_cast<std::size_t>(result.Height)
            * static_cast<std::size_t>(result.Channels), 0.0);
    const double scale = static_cast<double>(sourceCount) / count; // picture pixels per new pixel
    const int lines = alongRows ? picture.Height : picture.Width;
    for (int line = 0; line < lines; ++line)
        for (int t = 0; t < count; ++t) {
            const double begin = t * scale, end = (t + 1) * scale;
            for (int channel = 0; channel < picture.Channels; ++channel) {
                double sum = 0;
                for (int s = static_cast<int>(std::floor(begin)); s < std::min<double>(sourceCount, std::ceil(end)); ++s) {
                    const double part = std::min<double>(end, s + 1) - std::max<double>(begin, s);
                    if (part > 0)
                        sum += part * (alongRows ? picture.At(s, line, channel) : picture.At(line, s, channel));
                }
                const int x = alongRows ? t : line, y = alongRows ? line : t;
                result.Samples[(static_cast<std::size_t>(y) * static_cast<std::size_t>(result.Width) + static_cast<std::size_t>(x))
                        * static_cast<std::size_t>(result.Channels) + static_cast<std::size_t>(channel)]
                    = sum / scale;
            }
        }
    return result;
}

} // namespace

TFloatPicture AreaAverage(const TFloatPicture& picture, int width, int height)
{
    return AverageOneSide(AverageOneSide(picture, width, true), height, false);
}

} // namespace testsupport

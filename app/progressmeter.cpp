#include "app/progressmeter.h"

#include "base/fmt.h"

#include <cmath>

namespace {

constexpr auto MinInterval = std::chrono::milliseconds(100);

std::string Duration(double seconds)
{
    const auto whole = static_cast<unsigned long long>(std::llround(seconds));
    if (whole >= 3600)
        return Fmt("%u:%s:%s", whole / 3600, std::to_string(whole / 60 % 60 + 100).substr(1),
            std::to_string(whole % 60 + 100).substr(1));
    return Fmt("%u:%s", whole / 60, std::to_string(whole % 60 + 100).substr(1));
}

} // namespace

void TProgressMeter::Start(std::size_t total, TClock::time_point now)
{
    FTotal = total;
    FStart = now;
    FShown = false;
}

bool TProgressMeter::Due(std::size_t done, TClock::time_point now)
{
    if (FShown && now - FLastShown < MinInterval && done < FTotal)
        return false;
    FShown = true;
    FLastShown = now;
    return true;
}

std::string TProgressMeter::Line(std::size_t done, unsigned imported, TClock::time_point now) const
{
    std::string line = Fmt("%u of %u entries, %u pictures imported", done, FTotal, imported);
    const double seconds = std::chrono::duration<double>(now - FStart).count();
    if (done == 0 || seconds < 0.05)
        return line;
    const double rate = static_cast<double>(done) / seconds;
    const auto tenths = static_cast<unsigned long long>(std::llround(rate * 10));
    line += Fmt(", %u.%u files/s", tenths / 10, tenths % 10);
    if (done < FTotal)
        line += ", " + Duration(static_cast<double>(FTotal - done) / rate) + " left";
    return line;
}

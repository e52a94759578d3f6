#include "imaging/readergraphic.h"

#include "base/filestream.h"
#include "base/stream.h"

#include <algorithm>
#include <climits>

TReaderGraphic::TReaderGraphic() = default;

TReaderGraphic::~TReaderGraphic() = default;

bool TReaderGraphic::CanReadStream(TStream&)
{
    return false;
}

bool TReaderGraphic::CanReadFileWith(const std::string& fileName, bool (*canReadStream)(TStream& stream))
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    return canReadStream(stream);
}

bool TReaderGraphic::ReadImageInfo(TStream&, std::uint32_t)
{
    FProperties.Clear();
    return false;
}

void TReaderGraphic::CopyContentFrom(const TGraphic& source)
{
    if (const auto* reader = dynamic_cast<const TReaderGraphic*>(&source))
        FProperties = reader->FProperties;
    TBitmap::CopyContentFrom(source);
}

void TReaderGraphic::StartLoading(TStream& stream, std::string_view formatName, TProgressArea area)
{
    Clear();
    FBasePosition = stream.Position();
    FSourceStream = &stream;
    if (!ReadImageInfo(stream, 0))
        RaiseGraphicError(SInvalidImageFormat, formatName);
    const std::uint32_t width = area == paImageWidth ? FProperties.Width : 0;
    // Progress areas are 32-bit signed; a wider image reports the widest area it can.
    FProgressRect = TRect { 0, 0, static_cast<std::int32_t>(std::min<std::uint32_t>(width, INT32_MAX)), 1 };
    ProgressStart(SPreparing);
}

void TReaderGraphic::ProgressStart(const std::string& message)
{
    Progress(TProgressStage::psStarting, 0, false, FProgressRect, message);
}

void TReaderGraphic::ProgressEnd(const std::string& message)
{
    Progress(TProgressStage::psEnding, 100, false, FProgressRect, message);
}

void TReaderGraphic::ProgressRow(std::uint32_t row, std::uint32_t height)
{
    // Rounded to nearest, ties to even.
    int percent = 100;
    if (height != 0) {
        const std::uint64_t scaled = std::uint64_t(row) * 100;
        std::uint64_t quotient = scaled / height;
        const std::uint64_t twice = (scaled % height) * 2;
        if (twice > height || (twice == height && (quotient & 1) != 0))
            ++quotient;
        percent = static_cast<int>(std::min<std::uint64_t>(quotient, INT32_MAX));
    }
    Progress(TProgressStage::psRunning, percent, true, FProgressRect, std::string());
    if (FProgressRect.Bottom < INT32_MAX) {
        ++FProgressRect.Top;
        ++FProgressRect.Bottom;
    }
}

#include "raster/graphic.h"

#include "base/filestream.h"
#include "base/fmt.h"

void TGraphic::LoadFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadStream(stream);
}

void TGraphic::SaveFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmCreate);
    SaveStream(stream);
}

void TGraphic::CopyContentFrom(const TGraphic& source)
{
    source.CopyContentInto(*this);
}

void TGraphic::CopyContentInto(TGraphic& target) const
{
    RaiseAssignError(*this, target);
}

void TGraphic::RaiseAssignError(const TGraphic& source, const TGraphic& target) const
{
    throw EInvalidGraphicOperation(Fmt(SAssignError, source.ClassName(), target.ClassName()));
}

void TGraphic::Changed()
{
    FModified = true;
    if (OnChange)
        OnChange(*this);
}

void TGraphic::Progress(TProgressStage stage, int percentDone, bool redrawNow, const TRect& rect,
    const std::string& message)
{
    if (OnProgress)
        OnProgress(*this, stage, percentDone, redrawNow, rect, message);
}

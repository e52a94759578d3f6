#pragma once
#include "base/exception.h"

#include <cstdint>
#include <functional>
#include <string>

class TStream;
class TCanvas;

// Errors of image objects. Every reader raises EInvalidGraphic with its fixed text.
class EInvalidGraphic : public Exception { using Exception::Exception; };
// An operation that the object cannot carry out in its present state.
class EInvalidGraphicOperation : public Exception { using Exception::Exception; };
// A drawing surface that cannot be made (allocation refused).
class EOutOfResources : public Exception { using Exception::Exception; };
// A canvas without a target to draw into.
class EInvalidOperation : public Exception { using Exception::Exception; };

inline constexpr const char* SInvalidBitmap = "Bitmap image is not valid";
inline constexpr const char* SInvalidPixelFormat = "Invalid pixel format";
inline constexpr const char* SScanLine = "Scan line index out of range";
inline constexpr const char* SAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* SOutOfResources = "Out of system resources";
inline constexpr const char* SNoCanvasHandle = "Canvas does not allow drawing";

// The largest pixel count any image object allocates; larger images are invalid.
inline constexpr std::uint64_t MaxImagePixels = std::uint64_t(1) << 28;

struct TRect {
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    std::int32_t Width() const { return static_cast<std::int32_t>(std::int64_t(Right) - Left); }
    std::int32_t Height() const { return static_cast<std::int32_t>(std::int64_t(Bottom) - Top); }
    bool operator==(const TRect&) const = default;
};

enum class TProgressStage : std::uint8_t { psStarting, psRunning, psEnding };

class TGraphic;
using TNotifyEvent = std::function<void(TGraphic& sender)>;
// stage, percent done (0..100), whether the area should be shown at once, the area of the
// image that changed, and a short text ("Preparing...", "Transfering...").
using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, int percentDone,
    bool redrawNow, const TRect& rect, const std::string& message)>;

// The abstract image object: bitmaps, the JPEG image and the file readers are all graphics.
class TGraphic {
public:
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;
    virtual ~TGraphic() = default;

    // Class name used in messages ("TBitmap", "TJPEGImage", ...).
    virtual std::string ClassName() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool IsEmpty() const = 0;

    // Reads the image from the stream's position to its end.
    virtual void LoadStream(TStream& stream) = 0;
    virtual void SaveStream(TStream& stream) = 0;
    // Opens the file read-only and LoadStream; "Cannot open file "%s". %s" when it cannot.
    virtual void LoadFile(const std::string& fileName);
    // Creates or truncates the file, then SaveStream.
    virtual void SaveFile(const std::string& fileName);

    // Takes over the content of the source. The base asks the source to CopyContentInto this
    // object; a source that cannot fails with "Cannot assign a %s to a %s".
    virtual void CopyContentFrom(const TGraphic& source);
    // Puts this object's content into the target; the base fails with SAssignError.
    virtual void CopyContentInto(TGraphic& target) const;
    // Draws the image scaled into the rectangle of the canvas.
    virtual void DrawInto(TCanvas& canvas, const TRect& rect) const = 0;

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;
    bool Modified() const { return FModified; }
    void SetModified(bool value) { FModified = value; }
    bool PaletteModified() const { return FPaletteModified; }
    void SetPaletteModified(bool value) { FPaletteModified = value; }

    // Fires the change notification (and marks the object modified).
    virtual void Changed();
    void Progress(TProgressStage stage, int percentDone, bool redrawNow, const TRect& rect,
        const std::string& message);

protected:
    [[noreturn]] void RaiseAssignError(const TGraphic& source, const TGraphic& target) const;

private:
    bool FModified = false;
    bool FPaletteModified = false;
};

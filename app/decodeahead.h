#pragma once
#include "raster/bitmap.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A picture made ready ahead of the pass: what the loader answered, the pixels, or the error it
// raised (kept to be raised when the pass reaches the entry), and the warnings the decoder
// showed meanwhile (to be shown then, before the error). When the worker made the thumbnail
// too, Encoded is set, Encoding holds what the thumbnail encoding answered (a value of
// TThumbnailEncoding), Thumbnail its JPEG bytes, and the pixels are gone.
struct TDecodedPicture {
    bool Loaded = false;
    std::unique_ptr<TBitmap> Bitmap = std::make_unique<TBitmap>();
    std::exception_ptr Error;
    std::vector<std::string> Warnings;
    bool Encoded = false;
    std::uint8_t Encoding = 0;
    std::vector<std::uint8_t> Thumbnail;

    // The memory it holds: pixels and thumbnail bytes.
    std::size_t HeldBytes() const;
};

// Decodes the pictures of a folder listing on worker threads, ahead of the pass that walks the
// same listing: workers take the next qualifying entries in listing order, and at most Window
// pictures are decoded or being decoded ahead at any time. The pictures they hold, decoded or
// being decoded, stay within Budget bytes: a picture starts only when what it declares fits
// beside them, or when nothing else is held (a picture larger than the budget is decoded alone);
// pictures start in listing order. The workers only read files and compute; the database, the
// files written and the user interface stay with the pass.
class TDecodeAhead {
public:
    // Whether an entry may need its picture (a pure test of the name, run on every thread).
    using TQualifies = std::function<bool(const std::string& path)>;
    // Decodes one file; exceptions are caught and kept. Runs on the workers only.
    using TDecoder = std::function<bool(const std::string& path, TBitmap& bitmap)>;
    // Makes one entry ready (decodes it, or makes its thumbnail); the same otherwise.
    using TJob = std::function<void(const std::string& path, TDecodedPicture& picture)>;
    // The bytes a file's picture will hold while it is decoded, from its header; 0 when unknown
    // (the picture then counts once decoded).
    using TSizer = std::function<std::uint64_t(const std::string& path)>;

    static constexpr std::size_t DefaultWindow = 2;
    static constexpr std::uint64_t DefaultBudget = std::uint64_t(512) << 20;

    TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TDecoder decoder,
        std::size_t window = DefaultWindow, std::size_t workers = 1);
    TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TJob job, std::size_t window,
        std::size_t workers, std::uint64_t budget, TSizer sizer);
    // Stops the workers: each ends after the picture it is decoding, if any.
    ~TDecodeAhead();
    TDecodeAhead(const TDecodeAhead&) = delete;
    TDecodeAhead& operator=(const TDecodeAhead&) = delete;

    // The picture of entry index, waiting for the workers if needed. Entries before index that
    // were never taken are dropped. Empty when the entry does not qualify or the workers were
    // stopped: the caller then decodes it itself. Indexes must not decrease between calls.
    std::optional<TDecodedPicture> Take(std::size_t index);
    // Ends the workers early (cancelling the pass); later Take calls return nothing.
    void Stop();
    // Decoded pictures waiting now, and the bytes held (for tests of the bounds).
    std::size_t Waiting();
    std::uint64_t Held();

private:
    struct TReady {
        TDecodedPicture Picture;
        std::uint64_t Bytes = 0;
    };
    void Work();
    // Whether the entry claimed at index may start now: its turn, and room in the budget.
    bool MayStart(std::size_t index, std::uint64_t bytes) const;
    void Drop(std::map<std::size_t, TReady>::iterator ready);

    std::vector<std::string> FPaths;
    TQualifies FQualifies;
    TJob FJob;
    TSizer FSizer;
    std::size_t FWindow;
    std::uint64_t FBudget;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::map<std::size_t, TReady> FReady; // by entry index
    std::set<std::size_t> FDecoding;       // entries a worker has claimed and not finished
    std::set<std::size_t> FWaitingStart;   // of them, those not yet started
    std::uint64_t FHeld = 0;     // bytes of the ready pictures and of those being decoded
    std::size_t FInFlight = 0;   // entries decoded or being decoded, not yet taken or dropped
    std::size_t FPassIndex = 0;  // the entry the pass asks for or is beyond
    std::size_t FNextClaim = 0;  // the first entry no worker has taken
    std::size_t FWorking = 0;    // workers not yet ended
    bool FStopping = false;
    std::vector<std::thread> FWorkers; // last: started once everything above is set
};

#pragma once
#include "raster/bitmap.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A picture decoded ahead of the pass: what the loader answered, the pixels, or the error it
// raised (kept to be raised when the pass reaches the entry), and the warnings the decoder
// showed meanwhile (to be shown then, before the error).
struct TDecodedPicture {
    bool Loaded = false;
    std::unique_ptr<TBitmap> Bitmap = std::make_unique<TBitmap>();
    std::exception_ptr Error;
    std::vector<std::string> Warnings;
};

// Decodes the pictures of a folder listing on a worker thread, in listing order, ahead of the
// pass that walks the same listing: at most Window decoded pictures wait at any time. The
// worker only reads files and decodes; the database and the user interface stay with the pass.
class TDecodeAhead {
public:
    // Whether an entry may need its picture (a pure test of the name, run on both threads).
    using TQualifies = std::function<bool(const std::string& path)>;
    // Decodes one file; exceptions are caught and kept. Runs on the worker only.
    using TDecoder = std::function<bool(const std::string& path, TBitmap& bitmap)>;

    static constexpr std::size_t DefaultWindow = 2;

    TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TDecoder decoder,
        std::size_t window = DefaultWindow);
    // Stops the worker: it ends after the picture it is decoding, if any.
    ~TDecodeAhead();
    TDecodeAhead(const TDecodeAhead&) = delete;
    TDecodeAhead& operator=(const TDecodeAhead&) = delete;

    // The picture of entry index, waiting for the worker if needed. Entries before index that
    // were never taken are dropped. Empty when the entry does not qualify or the worker was
    // stopped: the caller then decodes it itself. Indexes must not decrease between calls.
    std::optional<TDecodedPicture> Take(std::size_t index);
    // Ends the worker early (cancelling the pass); later Take calls return nothing.
    void Stop();
    // Decoded pictures waiting now (for tests of the bound).
    std::size_t Waiting();

private:
    struct TItem {
        std::size_t Index;
        TDecodedPicture Picture;
    };
    void Work();

    std::vector<std::string> FPaths;
    TQualifies FQualifies;
    TDecoder FDecoder;
    std::size_t FWindow;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TItem> FReady;
    std::size_t FPassIndex = 0;  // the entry the pass asks for or is beyond
    std::size_t FWorkerNext = 0; // the first entry the worker has not finished
    bool FStopping = false;
    std::thread FWorker; // last: started once everything above is set
};

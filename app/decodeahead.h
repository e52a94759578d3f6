#pragma once
#include "raster/bitmap.h"

#include <condition_variable>
#include <cstddef>
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

// A picture decoded ahead of the pass: what the loader answered, the pixels, or the error it
// raised (kept to be raised when the pass reaches the entry), and the warnings the decoder
// showed meanwhile (to be shown then, before the error).
struct TDecodedPicture {
    bool Loaded = false;
    std::unique_ptr<TBitmap> Bitmap = std::make_unique<TBitmap>();
    std::exception_ptr Error;
    std::vector<std::string> Warnings;
};

// Decodes the pictures of a folder listing on worker threads, ahead of the pass that walks the
// same listing: workers take the next qualifying entries in listing order, and at most Window
// pictures are decoded or being decoded ahead at any time. The workers only read files and
// decode; the database and the user interface stay with the pass.
class TDecodeAhead {
public:
    // Whether an entry may need its picture (a pure test of the name, run on every thread).
    using TQualifies = std::function<bool(const std::string& path)>;
    // Decodes one file; exceptions are caught and kept. Runs on the workers only.
    using TDecoder = std::function<bool(const std::string& path, TBitmap& bitmap)>;

    static constexpr std::size_t DefaultWindow = 2;

    TDecodeAhead(std::vector<std::string> paths, TQualifies qualifies, TDecoder decoder,
        std::size_t window = DefaultWindow, std::size_t workers = 1);
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
    // Decoded pictures waiting now (for tests of the bound).
    std::size_t Waiting();

private:
    void Work();

    std::vector<std::string> FPaths;
    TQualifies FQualifies;
    TDecoder FDecoder;
    std::size_t FWindow;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::map<std::size_t, TDecodedPicture> FReady; // by entry index
    std::set<std::size_t> FDecoding;                // entries a worker is decoding now
    std::size_t FInFlight = 0;   // entries decoded or being decoded, not yet taken or dropped
    std::size_t FPassIndex = 0;  // the entry the pass asks for or is beyond
    std::size_t FNextClaim = 0;  // the first entry no worker has taken
    std::size_t FWorking = 0;    // workers not yet ended
    bool FStopping = false;
    std::vector<std::thread> FWorkers; // last: started once everything above is set
};

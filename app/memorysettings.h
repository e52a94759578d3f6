#pragma once
#include <cstddef>

// Allocator settings for a pass over many pictures of about the same size: pixel stores, file
// buffers and decoder work buffers up to MmapThreshold bytes come from the heap and stay there
// when freed (up to TrimThreshold bytes of free space at its top), so the next picture reuses
// pages that are already mapped instead of faulting fresh ones in. Larger blocks are still
// mapped and unmapped one by one, which bounds what the process keeps.
inline constexpr std::size_t MmapThreshold = 32u << 20; // the allocator's largest accepted value
inline constexpr std::size_t TrimThreshold = 64u << 20;

// Applies the settings; called once at start-up before any thread exists. False when the
// allocator refused them (then it keeps its own defaults).
bool KeepFreedMemory();

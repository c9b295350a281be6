#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

// Address space for pictures, reserved in large pieces and carved into
// page-aligned blocks. A freed block's pages go back to the system at once
// (MADV_DONTNEED) and its addresses to the piece; a piece is unmapped when
// its last block goes. Mapping every picture on its own would take the
// process's address-space lock for writing on each map and unmap, which
// holds up the page faults of the threads writing other pictures (and
// neighbouring mappings merge, so a new picture locks the one being written
// next to it). Any thread.
class PictureArena
{
public:
    static PictureArena& Instance();

    // Null when no address space could be reserved.
    uint8_t* Allocate(size_t size);
    void Free(uint8_t* data, size_t size);

private:
    // Address space reserved at a time (nothing of it is resident unwritten).
    static constexpr size_t PIECE_SIZE = 256 * 1024 * 1024;

    struct Piece
    {
        uint8_t* base = nullptr;
        size_t size = 0;
        size_t used = 0;
        std::map<size_t, size_t> free; // offset -> length, ranges apart
    };

    static size_t PageRounded(size_t size);

    std::mutex mMutex;
    std::vector<Piece> mPieces; // guarded by mMutex
};

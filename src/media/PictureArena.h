#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

// Address space for pictures, reserved in large pieces and carved into
// page-aligned blocks. Mapping every picture on its own would take the
// process's address-space lock for writing on each map and unmap, which
// holds up the page faults of the threads writing other pictures (and
// neighbouring mappings merge, so a new picture locks the one being written
// next to it).
//
// A freed block keeps its pages while the blocks in use and those kept stay
// within the retain limit (the cache budget the engine sets): the next
// picture written there faults nothing in and the system zeroes nothing.
// Beyond the limit a freed block's pages go back to the system at once
// (MADV_DONTNEED) and its addresses to the piece; a piece is unmapped when
// its last block goes. Any thread.
class PictureArena
{
public:
    PictureArena() = default;
    // Unmaps every piece: only for an arena whose blocks are all freed.
    ~PictureArena();
    PictureArena(PictureArena const&) = delete;
    PictureArena& operator=(PictureArena const&) = delete;

    // The arena of the process's picture buffers.
    static PictureArena& Instance();

    // Null when no address space could be reserved. resident, when given,
    // tells whether the block kept its pages from an earlier picture (none
    // of them will fault).
    uint8_t* Allocate(size_t size, bool* resident = nullptr);
    void Free(uint8_t* data, size_t size);

    // Bytes of blocks in use and kept together that freed blocks may keep
    // their pages up to (0, the default: none are kept). Kept pages beyond a
    // lower limit go back at once.
    void SetRetainLimit(size_t bytes);
    size_t RetainLimit() const;
    // Gives the pages of every kept block back to the system (the limit stays).
    void ReleaseRetained();

    // Page-rounded bytes of the blocks in use, of freed blocks that kept
    // their pages, and of the address space reserved.
    size_t UsedBytes() const;
    size_t RetainedBytes() const;
    size_t ReservedBytes() const;

private:
    // Address space reserved at a time (nothing of it is resident unwritten).
    static constexpr size_t PIECE_SIZE = 256 * 1024 * 1024;

    // Free ranges of a piece: offset -> length, ranges apart.
    using Ranges = std::map<size_t, size_t>;

    struct Piece
    {
        uint8_t* base = nullptr;
        size_t size = 0;
        size_t used = 0;  // in use, and kept ranges being given back
        Ranges free;      // pages given back (or never written)
        Ranges retained;  // freed, pages kept
    };

    struct Range
    {
        uint8_t* data;
        size_t size;
    };

    static size_t PageRounded(size_t size);
    // Adds a range, joined with those on either side.
    static void Insert(Ranges& ranges, size_t offset, size_t length);
    // Carves size bytes from the first range that holds them; false when none does.
    static bool Take(Ranges& ranges, size_t size, size_t& offset);
    Piece* PieceOf(uint8_t const* data); // with mMutex held
    // Takes kept ranges out until what is kept fits beside the blocks in use
    // (with mMutex held); they stay counted as used until GiveBack.
    std::vector<Range> TakeRetainedBeyondLimit();
    // Gives the pages back, then the addresses to their pieces (without mMutex).
    void GiveBack(std::vector<Range> const& ranges);
    // Unmaps the pieces that hold nothing (with mMutex held); their ranges
    // are returned for munmap outside the lock.
    std::vector<Range> TakeEmptyPieces();

    mutable std::mutex mMutex;
    std::vector<Piece> mPieces;  // guarded by mMutex
    size_t mUsed = 0;            // guarded by mMutex: the sum of the pieces' used
    size_t mRetained = 0;        // guarded by mMutex: the sum of the pieces' kept ranges
    size_t mRetainLimit = 0;     // guarded by mMutex
};

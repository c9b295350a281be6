#include "media/PictureArena.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

PictureArena& PictureArena::Instance()
{
    // Never destroyed: pictures may be freed by other statics' destructors.
    static PictureArena* const arena = new PictureArena();
    return *arena;
}

uint8_t* PictureArena::Allocate(size_t size)
{
    size = PageRounded(size);
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        for (Piece& piece : mPieces)
        {
            // First fit: pictures of a stream share their size, so the
            // gaps fit the next ones.
            for (auto it = piece.free.begin(); it != piece.free.end(); ++it)
            {
                if (it->second < size)
                {
                    continue;
                }
                size_t const offset = it->first;
                size_t const rest = it->second - size;
                piece.free.erase(it);
                if (rest > 0)
                {
                    piece.free.emplace(offset + size, rest);
                }
                piece.used += size;
                return piece.base + offset;
            }
        }
    }
    // A new piece, mapped outside the lock; its pages are only backed
    // once written.
    size_t const pieceSize = std::max(PIECE_SIZE, size);
    void* const mapped =
        mmap(nullptr, pieceSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED)
    {
        return nullptr;
    }
    Piece piece;
    piece.base = static_cast<uint8_t*>(mapped);
    piece.size = pieceSize;
    piece.used = size;
    if (pieceSize > size)
    {
        piece.free.emplace(size, pieceSize - size);
    }
    std::lock_guard<std::mutex> const locker(mMutex);
    mPieces.push_back(std::move(piece));
    return static_cast<uint8_t*>(mapped);
}

void PictureArena::Free(uint8_t* data, size_t size)
{
    size = PageRounded(size);
    // Dropped before the addresses can be handed out again; taking the
    // lock for reading only, it holds up no other thread's faults.
    madvise(data, size, MADV_DONTNEED);
    uint8_t* unmapBase = nullptr;
    size_t unmapSize = 0;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        auto const piece = std::find_if(mPieces.begin(), mPieces.end(), [data](Piece const& candidate) {
            return data >= candidate.base && data < candidate.base + candidate.size;
        });
        if (piece == mPieces.end())
        {
            return;
        }
        piece->used -= size;
        if (piece->used == 0)
        {
            unmapBase = piece->base;
            unmapSize = piece->size;
            *piece = std::move(mPieces.back());
            mPieces.pop_back();
        }
        else
        {
            // Joined with the free ranges on either side.
            size_t offset = static_cast<size_t>(data - piece->base);
            size_t length = size;
            auto next = piece->free.lower_bound(offset);
            if (next != piece->free.end() && next->first == offset + length)
            {
                length += next->second;
                next = piece->free.erase(next);
            }
            if (next != piece->free.begin())
            {
                auto const previous = std::prev(next);
                if (previous->first + previous->second == offset)
                {
                    offset = previous->first;
                    length += previous->second;
                    piece->free.erase(previous);
                }
            }
            piece->free.emplace(offset, length);
        }
    }
    if (unmapBase)
    {
        munmap(unmapBase, unmapSize);
    }
}

size_t PictureArena::PageRounded(size_t size)
{
    static size_t const page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

#include "media/PictureArena.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

PictureArena::~PictureArena()
{
    for (Piece const& piece : mPieces)
    {
        munmap(piece.base, piece.size);
    }
}

PictureArena& PictureArena::Instance()
{
    // Never destroyed: pictures may be freed by other statics' destructors.
    static PictureArena* const arena = new PictureArena();
    return *arena;
}

uint8_t* PictureArena::Allocate(size_t size, bool* resident)
{
    size = PageRounded(size);
    if (resident)
    {
        *resident = false;
    }
    std::vector<Range> beyondLimit;
    uint8_t* data = nullptr;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        size_t offset = 0;
        // A freed block that kept its pages first: nothing to fault in.
        for (Piece& piece : mPieces)
        {
            if (Take(piece.retained, size, offset))
            {
                piece.used += size;
                mUsed += size;
                mRetained -= size;
                if (resident)
                {
                    *resident = true;
                }
                return piece.base + offset;
            }
        }
        // First fit: pictures of a stream share their size, so the gaps fit
        // the next ones.
        for (Piece& piece : mPieces)
        {
            if (Take(piece.free, size, offset))
            {
                piece.used += size;
                mUsed += size;
                data = piece.base + offset;
                beyondLimit = TakeRetainedBeyondLimit();
                break;
            }
        }
    }
    if (data)
    {
        GiveBack(beyondLimit);
        return data;
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
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        mPieces.push_back(std::move(piece));
        mUsed += size;
        beyondLimit = TakeRetainedBeyondLimit();
    }
    GiveBack(beyondLimit);
    return static_cast<uint8_t*>(mapped);
}

void PictureArena::Free(uint8_t* data, size_t size)
{
    size = PageRounded(size);
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        Piece* const piece = PieceOf(data);
        if (!piece)
        {
            return;
        }
        // Kept while the blocks in use and the kept ones, this one among
        // them, stay within the limit.
        if (mUsed + mRetained <= mRetainLimit)
        {
            piece->used -= size;
            mUsed -= size;
            Insert(piece->retained, static_cast<size_t>(data - piece->base), size);
            mRetained += size;
            return;
        }
    }
    GiveBack({{data, size}});
}

void PictureArena::SetRetainLimit(size_t bytes)
{
    std::vector<Range> beyondLimit;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        mRetainLimit = bytes;
        beyondLimit = TakeRetainedBeyondLimit();
    }
    GiveBack(beyondLimit);
}

size_t PictureArena::RetainLimit() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mRetainLimit;
}

void PictureArena::ReleaseRetained()
{
    std::vector<Range> kept;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        size_t const limit = mRetainLimit;
        mRetainLimit = 0;
        kept = TakeRetainedBeyondLimit();
        mRetainLimit = limit;
    }
    GiveBack(kept);
}

size_t PictureArena::UsedBytes() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mUsed;
}

size_t PictureArena::RetainedBytes() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    return mRetained;
}

size_t PictureArena::ReservedBytes() const
{
    std::lock_guard<std::mutex> const locker(mMutex);
    size_t reserved = 0;
    for (Piece const& piece : mPieces)
    {
        reserved += piece.size;
    }
    return reserved;
}

std::vector<PictureArena::Range> PictureArena::TakeRetainedBeyondLimit()
{
    std::vector<Range> taken;
    size_t excess = mUsed + mRetained > mRetainLimit ? mUsed + mRetained - mRetainLimit : 0;
    excess = std::min(excess, mRetained);
    for (Piece& piece : mPieces)
    {
        while (excess > 0 && !piece.retained.empty())
        {
            // From the end of the last range: the front of it stays kept.
            auto const last = std::prev(piece.retained.end());
            size_t const length = std::min(last->second, PageRounded(excess));
            size_t const offset = last->first + last->second - length;
            if (length == last->second)
            {
                piece.retained.erase(last);
            }
            else
            {
                last->second -= length;
            }
            // Counted as in use until its pages are back.
            piece.used += length;
            mUsed += length;
            mRetained -= length;
            excess -= std::min(excess, length);
            taken.push_back({piece.base + offset, length});
        }
    }
    return taken;
}

void PictureArena::GiveBack(std::vector<Range> const& ranges)
{
    if (ranges.empty())
    {
        return;
    }
    // Dropped before the addresses can be handed out again; taking the
    // address-space lock for reading only, it holds up no other thread's faults.
    for (Range const& range : ranges)
    {
        madvise(range.data, range.size, MADV_DONTNEED);
    }
    std::vector<Range> unmapped;
    {
        std::lock_guard<std::mutex> const locker(mMutex);
        for (Range const& range : ranges)
        {
            Piece* const piece = PieceOf(range.data);
            if (!piece)
            {
                continue;
            }
            piece->used -= range.size;
            mUsed -= range.size;
            Insert(piece->free, static_cast<size_t>(range.data - piece->base), range.size);
        }
        unmapped = TakeEmptyPieces();
    }
    for (Range const& piece : unmapped)
    {
        munmap(piece.data, piece.size);
    }
}

std::vector<PictureArena::Range> PictureArena::TakeEmptyPieces()
{
    std::vector<Range> empty;
    for (size_t i = 0; i < mPieces.size();)
    {
        Piece& piece = mPieces[i];
        if (piece.used == 0 && piece.retained.empty())
        {
            empty.push_back({piece.base, piece.size});
            piece = std::move(mPieces.back());
            mPieces.pop_back();
            continue;
        }
        ++i;
    }
    return empty;
}

PictureArena::Piece* PictureArena::PieceOf(uint8_t const* data)
{
    auto const piece = std::find_if(mPieces.begin(), mPieces.end(), [data](Piece const& candidate) {
        return data >= candidate.base && data < candidate.base + candidate.size;
    });
    return piece == mPieces.end() ? nullptr : &*piece;
}

void PictureArena::Insert(Ranges& ranges, size_t offset, size_t length)
{
    auto next = ranges.lower_bound(offset);
    if (next != ranges.end() && next->first == offset + length)
    {
        length += next->second;
        next = ranges.erase(next);
    }
    if (next != ranges.begin())
    {
        auto const previous = std::prev(next);
        if (previous->first + previous->second == offset)
        {
            offset = previous->first;
            length += previous->second;
            ranges.erase(previous);
        }
    }
    ranges.emplace(offset, length);
}

bool PictureArena::Take(Ranges& ranges, size_t size, size_t& offset)
{
    for (auto it = ranges.begin(); it != ranges.end(); ++it)
    {
        if (it->second < size)
        {
            continue;
        }
        offset = it->first;
        size_t const rest = it->second - size;
        ranges.erase(it);
        if (rest > 0)
        {
            ranges.emplace(offset + size, rest);
        }
        return true;
    }
    return false;
}

size_t PictureArena::PageRounded(size_t size)
{
    static size_t const page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

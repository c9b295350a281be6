#include "media/export/ExportStopFlag.h"

#include <algorithm>

ExportStopFlag::ExportStopFlag(bool value)
    : mValue(value)
{
}

ExportStopFlag::ExportStopFlag(ExportStopFlag const& other)
    : mValue(other.load())
{
}

ExportStopFlag& ExportStopFlag::operator=(ExportStopFlag const& other)
{
    store(other.load());
    return *this;
}

ExportStopFlag& ExportStopFlag::operator=(bool value)
{
    store(value);
    return *this;
}

ExportStopFlag::operator bool() const
{
    return load();
}

bool ExportStopFlag::load() const
{
    return mValue.load();
}

void ExportStopFlag::store(bool value)
{
    mValue.store(value);
    if (!value)
    {
        return;
    }
    // A wake added before this lock is called here; one added after it sees
    // the value stored above.
    std::lock_guard<std::mutex> const lock(mMutex);
    for (auto const& wake : mWakes)
    {
        wake.second();
    }
}

int ExportStopFlag::AddWake(std::function<void()> wake)
{
    int id = 0;
    {
        std::lock_guard<std::mutex> const lock(mMutex);
        id = ++mNextId;
        mWakes.emplace_back(id, wake);
    }
    if (load())
    {
        wake();
    }
    return id;
}

void ExportStopFlag::RemoveWake(int id)
{
    std::lock_guard<std::mutex> const lock(mMutex);
    mWakes.erase(std::remove_if(mWakes.begin(), mWakes.end(), [id](auto const& wake) { return wake.first == id; }),
                 mWakes.end());
}

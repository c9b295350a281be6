#include "media/CacheManager.h"

#include "app/Settings.h"
#include "media/AudioFrame.h"
#include "media/CacheBudget.h"
#include "media/VideoFrame.h"

#include <QLocale>
#include <QMutexLocker>

#include <algorithm>

namespace
{
QString TimeText(long long time)
{
    return QStringLiteral("%1 (%2)")
        .arg(static_cast<double>(time) / 1e6, 0, 'g', QLocale::FloatingPointShortest)
        .arg(time);
}

QString MegabyteText(long long bytes)
{
    return QString::number(static_cast<double>(bytes) / 1e6, 'g', QLocale::FloatingPointShortest);
}
} // namespace

CacheManager::CacheManager(QObject* parent)
    : QObject(parent)
{
    SetCacheSize(Settings::cacheSize);
}

CacheManager::~CacheManager()
{
    ClearAudio(true);
    ClearVideo(true);
}

void CacheManager::SetCacheSize(int megabytes)
{
    long long const video = CacheBudget::VideoBytes(megabytes);
    mVideo.SetMaximumSize(video);
    mAudio.SetMaximumSize(CacheBudget::AudioBytes(video));
}

int CacheManager::CacheSize() const
{
    return static_cast<int>(mVideo.MaximumSize() / CacheBudget::BYTES_PER_MEGABYTE);
}

void CacheManager::SetPlan(CachePlan plan)
{
    QMutexLocker locker(&mPlanMutex);
    mPlan = plan;
}

CachePlan CacheManager::Plan() const
{
    QMutexLocker locker(&mPlanMutex);
    return mPlan;
}

QString CacheManager::ToString(QString const& label) const
{
    QString const rule = QString(20, u'-') + u'\n';
    QString text = rule + QStringLiteral("Cache Info (%1)\n").arg(label);
    auto const side = [&text](QString const& name, auto const& window) {
        auto const figures = window.Snapshot();
        text += QStringLiteral("\t%1 Frame Count: %2\n").arg(name).arg(figures.count);
        text += QStringLiteral("\t%1 Start Time: %2\n").arg(name, TimeText(figures.keyStart));
        text += QStringLiteral("\t%1 End Time: %2\n").arg(name, TimeText(figures.keyEnd));
        text += QStringLiteral("\t%1 Size: %2 MB\n").arg(name, MegabyteText(figures.size));
        text += QStringLiteral("\t%1 Maximum Size: %2 MB\n").arg(name, MegabyteText(window.MaximumSize()));
    };
    side(QStringLiteral("Audio"), mAudio);
    text += u'\n';
    side(QStringLiteral("Video"), mVideo);
    return text + rule;
}

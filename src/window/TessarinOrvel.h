#pragma once

#include "window/TessarinBase.h"

// The player edition of the main window, the one start-up builds: the monitor
// alone, plus actions to open a file and to save, replace and show its source.
class TessarinOrvel : public TessarinBase
{
    Q_OBJECT

public:
    explicit TessarinOrvel(QList<QString> const& paths);

public Q_SLOTS:
    // The player shows no side bar: hidden whatever is asked.
    void SetSideBarVisible(bool visible) override;

protected:
    void CreateActions() override;
    void CreateMenus() override;
    void CreateConnections() override;
    void PostInitialize() override;

private:
    QAction* mSaveSourceAsAction = nullptr;
    QAction* mReplaceSourceAction = nullptr;
    QAction* mShowInFolderAction = nullptr;
};

#include "window/TessarinOrvel.h"

TessarinOrvel::TessarinOrvel(QList<QString> const& paths)
    : TessarinBase(paths)
{
    Initialize();
}

void TessarinOrvel::CreateActions()
{
    TessarinBase::CreateActions();
    CreateAction(&mFileAction, tr("Open File..."), tr("Open File"), KeySequenceType::ImportFile, false);
    CreateAction(&mSaveSourceAsAction, tr("Save Source As..."), tr("Save Source As..."), KeySequenceType::SaveSourceAs,
                 false);
    CreateAction(&mReplaceSourceAction, tr("Replace Source..."), tr("Replace Source..."),
                 KeySequenceType::ReplaceSource, false);
    CreateAction(&mShowInFolderAction, tr("Show in Folder"), tr("Show in Folder"), KeySequenceType::ShowInFolder,
                 false);
}

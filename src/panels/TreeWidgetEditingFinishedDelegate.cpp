#include "panels/TreeWidgetEditingFinishedDelegate.h"

void TreeWidgetEditingFinishedDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                                     QModelIndex const& index) const
{
    QStyledItemDelegate::setModelData(editor, model, index);
    if (index.column() == 0)
    {
        Q_EMIT editingFinished(index);
    }
}

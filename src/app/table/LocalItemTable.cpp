#include "LocalItemTable.h"

#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QPointer>

namespace quillbarrow {

LocalItemTable::LocalItemTable(LocalBrowserViewModel& browser, QWidget* parent) : NativeTable<LocalItem>(NativeTableColumn::standardColumns(), parent)
{
    setObjectName(QStringLiteral("localItemTable"));
    QPointer<LocalBrowserViewModel> model(&browser);
    const auto showRows = [this, model] {
        if (model) {
            const std::optional<std::vector<qsizetype>>& filledIn = model->filledInRows();
            setItems(model->items(), model->currentDirectory().toString(), filledIn ? &*filledIn : nullptr);
        }
    };
    const auto showSort = [this, model] {
        if (model) {
            setSortColumn(NativeTableColumn::sortColumnIdentifier(model->sort()), model->sortAscending());
        }
    };
    setOnSortColumn([model](const QString& identifier, bool ascending) {
        const std::optional<FileSort> sort = NativeTableColumn::fileSort(identifier);
        if (model && sort) {
            model->setSort(*sort, ascending);
        }
    });
    connect(&browser, &LocalBrowserViewModel::itemsChanged, this, showRows);
    connect(&browser, &LocalBrowserViewModel::sortChanged, this, showSort);
    connect(&browser, &LocalBrowserViewModel::sortAscendingChanged, this, showSort);
    showRows();
    showSort();
}

} // namespace quillbarrow

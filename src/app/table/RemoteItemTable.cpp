#include "RemoteItemTable.h"

#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QPointer>

namespace quillbarrow {

RemoteItemTable::RemoteItemTable(DeviceBrowserViewModel& browser, QWidget* parent)
    : NativeTable<RemoteItem>(NativeTableColumn::standardColumns(), parent)
{
    setObjectName(QStringLiteral("remoteItemTable"));
    QPointer<DeviceBrowserViewModel> model(&browser);
    const auto showRows = [this, model] {
        if (model) {
            const std::optional<std::vector<qsizetype>>& filledIn = model->filledInRows();
            setItems(model->items(), listingOf(*model), filledIn ? &*filledIn : nullptr);
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
    connect(&browser, &DeviceBrowserViewModel::itemsChanged, this, showRows);
    connect(&browser, &DeviceBrowserViewModel::sortChanged, this, showSort);
    connect(&browser, &DeviceBrowserViewModel::sortAscendingChanged, this, showSort);
    showRows();
    showSort();
}

QString RemoteItemTable::listingOf(const DeviceBrowserViewModel& browser)
{
    const std::optional<DirectoryPage>& page = browser.currentPage();
    if (!page) {
        return {};
    }
    const QString device = browser.selectedDevice() ? browser.selectedDevice()->id.rawValue() : QString();
    // Separated by a character that no identifier or folder name contains.
    return (QStringList{device, page->path.storageID.rawValue()} + page->path.components).join(QChar(0));
}

} // namespace quillbarrow

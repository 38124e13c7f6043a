#include "app/PlaylistModel.h"

namespace zumo {

PlaylistModel::PlaylistModel(QObject* parent, CellText cell) : QAbstractTableModel(parent), cell(std::move(cell)) {}

void PlaylistModel::SetRows(int count) {
    if (count > rows) {
        beginInsertRows(QModelIndex(), rows, count - 1);
        rows = count;
        endInsertRows();
    } else if (count < rows) {
        beginRemoveRows(QModelIndex(), count, rows - 1);
        rows = count;
        endRemoveRows();
    }
}

void PlaylistModel::TitlesChanged() {
    if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, 0));
}

int PlaylistModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows; }

int PlaylistModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant PlaylistModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return cell(index.row(), index.column());
}

QVariant PlaylistModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("Title") : QStringLiteral("Location");
}

} // namespace zumo

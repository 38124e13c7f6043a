#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <functional>

namespace zumo {

// The list view's two columns, "Title" and "Location". The cells are asked
// for when drawn (from `cell`, which the window answers from the playlist);
// the model keeps only the row count.
class PlaylistModel : public QAbstractTableModel {
public:
    using CellText = std::function<QString(int row, int column)>;

    PlaylistModel(QObject* parent, CellText cell);

    int Rows() const { return rows; }
    // Rows appended or removed at the end, not a reset: a reset would clear
    // the selection, which marks the row being played.
    void SetRows(int count);
    // The titles may read otherwise now (tags came in): the view asks again.
    void TitlesChanged();

    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    CellText cell;
    int rows = 0;
};

} // namespace zumo

// The hub table: one row per record, one column per record field. The view's
// user-interface definition names the fields (its "columnIdentifiers").
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include "panel/hub_list.h"

namespace panel {

class HubTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    HubTableModel(QStringList identifiers, QStringList titles, QObject* parent = nullptr);

    void setHubs(const HubList& hubs);
    const QStringList& identifiers() const { return identifiers_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // A field the record lacks shows an empty cell.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QStringList identifiers_;
    QStringList titles_;
    HubList hubs_;
};

}  // namespace panel

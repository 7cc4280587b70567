// The hub table: one row per record, one column per record field. The view's
// user-interface definition names the fields (its "columnIdentifiers").
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <map>
#include <string>

#include "panel/hub_list.h"

namespace panel {

class HubTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    HubTableModel(QStringList identifiers, QStringList titles, QObject* parent = nullptr);

    void setHubs(const HubList& hubs);
    // Marks the row of the hub on `port` as not answering, `reason` in its
    // tool tip and accessible description; an empty reason clears the mark.
    void setUnanswering(const std::string& port, const QString& reason);
    bool unanswering(const std::string& port) const { return unanswering_.count(port) > 0; }
    const QStringList& identifiers() const { return identifiers_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // A field the record lacks shows an empty cell.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QVariant markOf(const hublink::HubInfo& record, int role) const;

    QStringList identifiers_;
    QStringList titles_;
    HubList hubs_;
    std::map<std::string, QString> unanswering_;  // by port
};

}  // namespace panel

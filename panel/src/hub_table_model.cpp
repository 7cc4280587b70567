#include "panel/hub_table_model.h"

#include <QColor>

#include <algorithm>
#include <utility>

#include "panel/window_state.h"

namespace panel {

HubTableModel::HubTableModel(QStringList identifiers, QStringList titles, QObject* parent)
    : QAbstractTableModel(parent), identifiers_(std::move(identifiers)), titles_(std::move(titles)) {}

// Rows change in place: a reset would make the view, and an assistive
// technology watching it, build every cell anew after each click's re-read.
void HubTableModel::setHubs(const HubList& hubs) {
    const int before = rowCount();
    const int after = static_cast<int>(hubs.size());
    for (int row = 0; row < std::min(before, after); ++row) {
        const auto r = static_cast<std::size_t>(row);
        if (hubs_[r] == hubs[r]) continue;
        hubs_[r] = hubs[r];
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        hubs_.insert(hubs_.end(), hubs.begin() + before, hubs.end());
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows({}, after, before - 1);
        hubs_.resize(hubs.size());
        endRemoveRows();
    }
}

int HubTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(hubs_.size());
}

int HubTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(identifiers_.size());
}

void HubTableModel::setUnanswering(const std::string& port, const QString& reason) {
    const bool changed = reason.isEmpty() ? unanswering_.erase(port) > 0
                                          : std::exchange(unanswering_[port], reason) != reason;
    const int row = rowOfPort(hubs_, port);
    if (changed && row >= 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

QVariant HubTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const hublink::HubInfo& record = hubs_[static_cast<std::size_t>(index.row())];
    if (role != Qt::DisplayRole) return markOf(record, role);
    const auto it = record.find(identifiers_.at(index.column()).toStdString());
    if (it == record.end()) return {};
    // Line ends a reply left in a field are not part of what it says.
    return QString::fromStdString(withoutLineEnds(it->second));
}

// How a row that does not answer looks and what it says to a screen reader.
QVariant HubTableModel::markOf(const hublink::HubInfo& record, int role) const {
    const auto port = record.find("ControlPort");
    const auto mark = port == record.end() ? unanswering_.end() : unanswering_.find(port->second);
    if (mark == unanswering_.end()) return {};
    switch (role) {
        case Qt::ForegroundRole: return QColor(Qt::gray);
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole: return QStringLiteral("not answering: %1").arg(mark->second);
        default: return {};
    }
}

QVariant HubTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    if (section < 0 || section >= identifiers_.size()) return {};
    // A column without a title of its own is headed by its field name.
    return section < titles_.size() ? titles_.at(section) : identifiers_.at(section);
}

}  // namespace panel

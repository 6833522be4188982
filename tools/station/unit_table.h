#pragma once
// The station's table: one row per unit, in the station file's order.
//
//   Unit | Port | Serial | State | Progress | Result | Time
//
// UnitTableModel reads the Station's runs. Their changes come much faster than anyone reads
// (sixteen units streaming images): the model only notes which rows changed and tells its views
// at most every 100 ms, in one dataChanged over those rows; while any unit runs it also refreshes
// the Time column at that pace. Passed rows are green, failed rows red; the Result column is
// large and bold, coloured the same way, so it reads from across the room.
//
// ProgressDelegate paints the Progress column as a progress bar with SENT/TOTAL on it, from the
// value the model gives under ProgressRole (a fraction 0..1, or nothing while no image streams).
//
// All on the user-interface thread.

#include "tools/station/station.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTimer>

class UnitTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { UnitColumn, PortColumn, SerialColumn, StateColumn, ProgressColumn, ResultColumn, TimeColumn, ColumnCount };
    static constexpr int ProgressRole = Qt::UserRole + 1;
    static constexpr int kRefreshMs = 100;

    explicit UnitTableModel(QObject* parent = nullptr);

    // The station shown; nullptr: none. The model does not own it.
    void setStation(const Station* station);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Tells the views now about the rows changed since the last refresh.
    void refresh();

signals:
    // After each refresh that changed something.
    void refreshed();

private:
    void noteChanged(int row);
    QVariant display(int row, int column) const;
    QString stateText(int row) const;
    bool wantsTheOperator(int row) const;

    const Station* station_ = nullptr;
    QMetaObject::Connection station_connection_;
    QTimer refresh_timer_;
    int first_changed_ = -1, last_changed_ = -1;
};

class ProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

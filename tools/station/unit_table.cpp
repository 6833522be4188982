#include "tools/station/unit_table.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QStyleOptionProgressBar>

namespace {

const QColor kPassedRow(200, 240, 200);
const QColor kFailedRow(245, 195, 195);
const QColor kPassedText(0, 120, 0);
const QColor kFailedText(190, 0, 0);
// A run that is not on record wants attention whatever its result: amber, not green.
const QColor kNotKeptRow(255, 215, 140);
const QColor kNotKeptText(150, 70, 0);
// A fixture that waits for the operator's hands before its run (its serial), as a highlighter.
const QColor kAttentionRow(255, 245, 160);

QString seconds_text(double seconds)
{
    return QString::number(seconds, 'f', 1) + " s";
}

} // namespace

UnitTableModel::UnitTableModel(QObject* parent) : QAbstractTableModel(parent)
{
    refresh_timer_.setInterval(kRefreshMs);
    connect(&refresh_timer_, &QTimer::timeout, this, &UnitTableModel::refresh);
}

void UnitTableModel::setStation(const Station* station)
{
    beginResetModel();
    disconnect(station_connection_);
    station_ = station;
    first_changed_ = last_changed_ = -1;
    if (station_)
        station_connection_ = connect(station_, &Station::unitChanged, this, &UnitTableModel::noteChanged);
    endResetModel();
    refresh_timer_.start();
}

int UnitTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !station_ ? 0 : station_->unitCount();
}

int UnitTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

void UnitTableModel::noteChanged(int row)
{
    first_changed_ = first_changed_ < 0 ? row : std::min(first_changed_, row);
    last_changed_ = std::max(last_changed_, row);
}

void UnitTableModel::refresh()
{
    if (!station_)
        return;
    if (station_->busy()) {
        for (int row = 0; row < station_->unitCount(); ++row)
            if (station_->unit(row).isActive())
                emit dataChanged(index(row, TimeColumn), index(row, TimeColumn));
    }
    if (first_changed_ < 0)
        return;
    emit dataChanged(index(first_changed_, 0), index(last_changed_, ColumnCount - 1));
    first_changed_ = last_changed_ = -1;
    emit refreshed();
}

// What the fixture wants, in the words of the operator's view.
QString UnitTableModel::stateText(int row) const
{
    const UnitRun& run = station_->unit(row);
    const Presence presence = station_->presence(row);
    if (run.state() == UnitState::Uploading)
        return "uploading " + QString::fromStdString(run.progressFile());
    if (run.state() == UnitState::Waiting || run.isActive())
        return QString::fromStdString(station_->stateText(row));
    const QString failure = run.state() == UnitState::Failed ? "\n" + QString::fromStdString(run.reason()) : "";
    if (presence == Presence::Empty)
        return "waiting for a unit" + failure;
    if (presence == Presence::Done)
        return "take the unit off" + failure;
    return run.state() == UnitState::Failed ? QString::fromStdString(run.reason())
                                            : QString::fromStdString(state_text(run));
}

// The unit waits for the operator's hands: to be taken off, or for its serial.
bool UnitTableModel::wantsTheOperator(int row) const
{
    return station_->presence(row) == Presence::Done ||
           (station_->unit(row).state() == UnitState::Waiting && station_->waitsForSerial(row));
}

QVariant UnitTableModel::display(int row, int column) const
{
    const UnitRun& run = station_->unit(row);
    switch (column) {
    case UnitColumn:
        return QString::fromStdString(run.unit().name);
    case PortColumn:
        return QString::fromStdString(run.unit().device);
    case SerialColumn:
        return station_->serialOf(row).isEmpty() ? run.serial() : station_->serialOf(row);
    case StateColumn:
        return stateText(row);
    case ProgressColumn:
        return run.progressTotal() > 0 ? QString("%1/%2").arg(run.progressSent()).arg(run.progressTotal()) : QString();
    case ResultColumn: {
        const QString result = run.state() == UnitState::Passed ? "PASS" : run.state() == UnitState::Failed ? "FAIL" : "";
        return result.isEmpty() || run.notKept().isEmpty() ? result : result + ", not recorded";
    }
    case TimeColumn:
        return run.state() == UnitState::Idle || run.state() == UnitState::Waiting ? QString()
                                                                                   : seconds_text(run.seconds());
    }
    return {};
}

QVariant UnitTableModel::data(const QModelIndex& index, int role) const
{
    if (!station_ || !index.isValid() || index.row() >= station_->unitCount())
        return {};
    const UnitRun& run = station_->unit(index.row());
    const bool passed = run.state() == UnitState::Passed, failed = run.state() == UnitState::Failed;
    const bool not_kept = run.hasEnded() && !run.notKept().isEmpty();
    switch (role) {
    case Qt::DisplayRole:
        return display(index.row(), index.column());
    case Qt::ToolTipRole:
        if (index.column() == ResultColumn && not_kept)
            return run.notKept();
        if (index.column() == ResultColumn && failed)
            return QString::fromStdString(run.reason());
        return index.column() == StateColumn || index.column() == PortColumn ? display(index.row(), index.column())
                                                                             : QVariant();
    case ProgressRole:
        return run.progressTotal() > 0 ? QVariant(static_cast<double>(run.progressSent()) /
                                                  static_cast<double>(run.progressTotal()))
                                       : QVariant();
    case Qt::BackgroundRole:
        if (not_kept)
            return kNotKeptRow;
        if (passed || failed)
            return passed ? kPassedRow : kFailedRow;
        return wantsTheOperator(index.row()) ? QVariant(kAttentionRow) : QVariant();
    case Qt::ForegroundRole:
        if (index.column() != ResultColumn || !(passed || failed))
            return {};
        return not_kept ? QVariant(kNotKeptText) : QVariant(passed ? kPassedText : kFailedText);
    case Qt::FontRole:
        if (index.column() == ResultColumn || index.column() == UnitColumn) {
            QFont font = QApplication::font();
            font.setPointSizeF(font.pointSizeF() * 2);
            font.setBold(true);
            return font;
        }
        if (index.column() == StateColumn && wantsTheOperator(index.row())) {
            QFont font = QApplication::font();
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == ResultColumn ? QVariant(Qt::AlignCenter) : QVariant();
    }
    return {};
}

QVariant UnitTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const kTitles[ColumnCount] = {"Unit", "Port", "Serial", "State", "Progress", "Result", "Time"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return QString(kTitles[section]);
}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant fraction = index.data(UnitTableModel::ProgressRole);
    if (!fraction.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 1000;
    bar.progress = static_cast<int>(fraction.toDouble() * 1000);
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
}

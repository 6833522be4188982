#include "tools/station/station_window.h"

#include "tools/station/report.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QThread>
#include <QUrl>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {

// A label whose one line of text gives way in its middle when the status bar is too narrow for it,
// so that both what a warning is about and what to do stay in sight; the tooltip holds it whole.
class ElidedLabel : public QLabel {
public:
    QSize minimumSizeHint() const override { return {fontMetrics().averageCharWidth() * 12, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width()));
    }
};

} // namespace

StationWindow::StationWindow(StationMaker make_station, QWidget* parent)
    : QMainWindow(parent), make_station_(std::move(make_station)), model_(new UnitTableModel(this)),
      table_(new QTableView), totals_(new QLabel), records_(new QLabel), keep_(new QLabel), rate_(new QLabel),
      warnings_(new ElidedLabel),
      scan_(new QLineEdit), scan_message_(new QLabel)
{
    setWindowTitle("Kestrin station");
    buildMenu();
    table_->setModel(model_);
    table_->setItemDelegateForColumn(UnitTableModel::ProgressColumn, new ProgressDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->setTextElideMode(Qt::ElideMiddle); // a device path keeps its start and its end
    table_->setWordWrap(false);
    table_->horizontalHeader()->setSectionResizeMode(UnitTableModel::StateColumn, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(UnitTableModel::ProgressColumn, QHeaderView::Fixed);
    table_->setColumnWidth(UnitTableModel::ProgressColumn, 220);
    table_->horizontalHeader()->setSectionResizeMode(UnitTableModel::ResultColumn, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(UnitTableModel::SerialColumn, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(UnitTableModel::UnitColumn, QHeaderView::ResizeToContents);
    table_->setColumnWidth(UnitTableModel::PortColumn, 200);
    table_->horizontalHeader()->setMinimumSectionSize(60);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() * 2 + 8);
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) { showJournal(index.row()); });

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildButtons());
    layout->addWidget(table_);
    setCentralWidget(central);
    statusBar()->addWidget(totals_);
    statusBar()->addWidget(warnings_, 1);
    statusBar()->addPermanentWidget(rate_);
    warnings_->setStyleSheet("color: #8a4b00; font-weight: bold");
    statusBar()->addPermanentWidget(keep_);
    statusBar()->addPermanentWidget(records_);
    keep_->setStyleSheet("color: #b00000; font-weight: bold");
    connect(model_, &UnitTableModel::refreshed, this, [this] {
        updateTotals();
        updateButtons();
        updateRate();
    });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &StationWindow::updateButtons);
    resize(900, 560);
    setStation(nullptr);
}

StationWindow::~StationWindow()
{
    model_->setStation(nullptr);
}

void StationWindow::buildMenu()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction("&Open station...", QKeySequence::Open, this, &StationWindow::openStation);
    file->addSeparator();
    file->addAction("&Quit", QKeySequence::Quit, this, &QWidget::close);
    QMenu* records = menuBar()->addMenu("&Records");
    records->addAction("&Report", this, &StationWindow::showReport);
}

QWidget* StationWindow::buildButtons()
{
    auto* buttons = new QWidget;
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    start_ = new QPushButton("&Start");
    stop_ = new QPushButton("S&top");
    start_failed_ = new QPushButton("Run &failed again");
    start_unit_ = new QPushButton("Start &unit");
    start_unit_->setToolTip("Start the selected unit alone, for example after putting a new unit on its fixture");
    for (QPushButton* button : {start_, stop_, start_failed_, start_unit_})
        row->addWidget(button);
    row->addStretch();
    scan_->setPlaceholderText("Scan a serial");
    scan_->setMaxLength(kMaxSerialLength + 1); // one more, so that a longer one is refused, not cut
    scan_->setMinimumWidth(220);
    scan_message_->setStyleSheet("color: #b00000");
    row->addWidget(scan_message_);
    row->addWidget(scan_);
    connect(scan_, &QLineEdit::returnPressed, this, [this] {
        takeScannedSerial(scan_->text());
        scan_->clear();
    });
    connect(start_, &QPushButton::clicked, this, [this] {
        if (station_->startsWhenPresent())
            station_->armAll();
        else
            station_->startAll();
        updateButtons();
    });
    connect(stop_, &QPushButton::clicked, this, [this] { station_->stop(); });
    connect(start_failed_, &QPushButton::clicked, this, [this] { station_->startFailed(); });
    connect(start_unit_, &QPushButton::clicked, this, [this] {
        if (const int selected = selectedRow(); selected >= 0)
            station_->start({selected});
    });
    return buttons;
}

void StationWindow::takeScannedSerial(const QString& text)
{
    const QString serial = text.trimmed();
    const int row = station_ ? station_->rowForScannedSerial(selectedRow()) : -1;
    if (row < 0) {
        scan_message_->setText(serial + ": no fixture waits for a serial");
        return;
    }
    const auto problem = station_->assignSerial(row, serial);
    scan_message_->setText(problem ? serial + ": " + *problem : QString());
    model_->refresh();
}

// A message taken from files and databases reads as typed, never as markup.
void StationWindow::warn(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void StationWindow::showReport()
{
    if (!station_)
        return;
    const QString path = QDir(QDir::tempPath()).filePath(
        "kestrin-report-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".html");
    // What the writer found; read once it has finished, by a window that may have gone by then.
    auto error = std::make_shared<QString>();
    auto* writer = QThread::create([settings = station_->settings(), path, error] {
        bool unreadable = false;
        if (!write_report(settings, {}, path, *error, unreadable) && error->isEmpty())
            *error = "unknown";
    });
    connect(writer, &QThread::finished, writer, &QObject::deleteLater);
    connect(writer, &QThread::finished, this, [this, path, error] {
        if (error->isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        else
            warn("The report could not be written: " + *error);
    });
    writer->start();
}

void StationWindow::setStation(std::unique_ptr<Station> station)
{
    model_->setStation(station.get());
    station_ = std::move(station);
    if (station_) {
        setWindowTitle("Kestrin station - " + QString::fromStdString(station_->settings().name));
        connect(station_.get(), &Station::idle, this, &StationWindow::updateButtons);
        connect(station_.get(), &Station::idle, this, &StationWindow::quitWhenIdle, Qt::QueuedConnection);
        connect(&station_->records(), &RecordStore::statusChanged, this, &StationWindow::updateRecords);
    }
    const QStringList warnings = station_ ? QStringList(station_->warnings().begin(), station_->warnings().end())
                                          : QStringList();
    warnings_->setText(warnings.isEmpty()     ? QString()
                       : warnings.size() == 1 ? warnings.front()
                                              : warnings.front() + QString(" (and %1 more)").arg(warnings.size() - 1));
    warnings_->setToolTip(warnings.join("\n"));
    updateTotals();
    updateRecords();
    updateButtons();
}

void StationWindow::openStation()
{
    if (station_ && station_->busy()) {
        QMessageBox::information(this, windowTitle(), "Stop the running units before opening another station.");
        return;
    }
    const QString path = QFileDialog::getOpenFileName(this, "Open station", {}, "Station files (*.ini);;All files (*)");
    if (path.isEmpty())
        return;
    QString error;
    std::unique_ptr<Station> station = make_station_(path.toStdString(), error);
    if (!station) {
        warn(error);
        return;
    }
    setStation(std::move(station));
}

void StationWindow::showJournal(int row)
{
    if (!station_ || row < 0 || row >= station_->unitCount())
        return;
    const UnitRun& run = station_->unit(row);
    auto* dialog = new QDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle("Journal of " + QString::fromStdString(run.unit().name));
    auto* text = new QPlainTextEdit(QString::fromStdString(run.journal()));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    dialog->resize(760, 480);
    dialog->show();
}

void StationWindow::closeEvent(QCloseEvent* event)
{
    if (!station_ || !station_->busy()) {
        event->accept();
        return;
    }
    event->ignore();
    if (!quitting_ &&
        QMessageBox::question(this, windowTitle(), "Units are still running. Stop them and quit?") == QMessageBox::Yes)
        stopAndQuit("stopped: the window was closed");
}

void StationWindow::stopAndQuit(const std::string& reason)
{
    if (quitting_)
        return;
    quitting_ = true;
    if (station_)
        station_->stop(reason);
    totals_->setText("Stopping the units; the station ends once each is recorded");
    quitWhenIdle();
}

void StationWindow::quitWhenIdle()
{
    if (quitting_ && (!station_ || !station_->busy()))
        QCoreApplication::exit(1);
}

void StationWindow::updateTotals()
{
    if (quitting_)
        return;
    totals_->setText(station_ ? totals_text(station_->totals()) : "No station: File > Open station");
    const int not_kept = station_ ? station_->keepFailures() : 0;
    keep_->setText(not_kept == 0 ? QString() : QString("%1 not recorded: %2").arg(not_kept).arg(station_->keepError()));
    keep_->setToolTip(not_kept == 0 ? QString() : station_->keepError());
}

void StationWindow::updateRecords()
{
    const std::optional<RecordsStatus> status = station_ ? station_->records().status() : std::nullopt;
    records_->setText(status ? records_status_text(*status) : QString());
    records_->setToolTip(!status ? QString()
                         : status->detail.isEmpty() ? status->problem
                                                    : status->problem + "\n" + status->detail);
}

void StationWindow::updateButtons()
{
    const bool has = station_ != nullptr;
    const int row = selectedRow();
    start_->setEnabled(has && !station_->armed());
    stop_->setEnabled(has && (station_->busy() || station_->armed()));
    start_failed_->setEnabled(has && station_->totals().failed > 0);
    start_unit_->setEnabled(has && row >= 0 && !station_->unit(row).isActive() &&
                            station_->unit(row).state() != UnitState::Waiting);
}

// Units an hour over the last hour (or the shift, while it is younger), and the pass share of
// the shift.
void StationWindow::updateRate()
{
    if (!station_)
        return rate_->clear();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime hour_ago = now.addSecs(-3600);
    const std::vector<ShiftRun>& shift = station_->shift();
    const auto last_hour = std::count_if(shift.begin(), shift.end(), [&](const ShiftRun& r) { return r.ended >= hour_ago; });
    const auto passed = std::count_if(shift.begin(), shift.end(), [](const ShiftRun& r) { return r.passed; });
    const qint64 span_s = std::clamp<qint64>(station_->shiftStarted().secsTo(now), 60, 3600);
    const QString share = shift.empty() ? QString("no runs yet")
                                        : QString("%1 % pass").arg(100 * passed / static_cast<qint64>(shift.size()));
    rate_->setText(QString("%1 units/h, %2").arg(last_hour * 3600 / span_s).arg(share));
}

int StationWindow::selectedRow() const
{
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

#pragma once
// The station's window: the unit table, the buttons that start and stop units, and the totals.
//
// Start runs every unit (with start=when_present: arms every fixture, and each starts its unit
// when one is put on); Stop stops them all (waiting units do not start, fixtures are disarmed);
// Run failed again starts the failed ones; Start unit starts the selected row alone (the
// operator has put a new unit on that fixture).
//
// The scan field takes what a barcode scanner types (a keyboard that ends with Enter): the serial
// goes to the selected fixture, else to the first armed fixture that has no unit or is before its
// run and has no serial yet (Station::rowForScannedSerial), and shows in the Serial column; a
// serial that is refused says why beside the field. The status bar adds the units an hour over
// the last hour and the pass share of the shift. The status bar shows the totals ("8 passed, 1 failed, 3 running"),
// updated with the table; beside them, for a station whose records go to a database, "records:
// all in the database" or "records: 3 waiting for the database" (why, in its tooltip), updated
// whenever a record is written or an attempt to send ends. Double-clicking a row shows that unit's journal of its last run.
// File > Open station reads another station file when no unit runs. Records > Report writes the
// report of the station's records (report.h) to a temporary file, off the interface thread, and
// opens it in the desktop's browser.
//
// Closing the window while units run asks "Units are still running. Stop them and quit?"; Yes
// stops them ("stopped: the window was closed"), and the program ends with status 1 once every
// one of them is recorded. stopAndQuit() does the same for a stop signal. A run whose record or
// journal file could not be kept reads "PASS, not recorded" (or FAIL), with why in its tooltip
// and a line in the status bar.
//
// Nothing here blocks: the runs are QProcess children whose output arrives as events, and the
// table coalesces their changes (see unit_table.h). All on the user-interface thread.

#include "tools/station/station.h"
#include "tools/station/unit_table.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTableView>

#include <functional>
#include <memory>

// Makes the station of a station file, or gives the message why it cannot be made.
using StationMaker = std::function<std::unique_ptr<Station>(const std::string& path, QString& error)>;

class StationWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit StationWindow(StationMaker make_station, QWidget* parent = nullptr);
    ~StationWindow() override;

    void setStation(std::unique_ptr<Station> station);
    Station* station() const { return station_.get(); }
    QTableView* table() const { return table_; }
    UnitTableModel* model() const { return model_; }
    QString totalsText() const { return totals_->text(); }
    QString recordsText() const { return records_->text(); }
    QString recordsProblem() const { return records_->toolTip(); }

    void openStation();
    void showJournal(int row);
    void showReport();
    // A serial as the scanner typed it, Enter not included.
    void takeScannedSerial(const QString& text);
    QString scanMessage() const { return scan_message_->text(); }
    QString rateText() const { return rate_->text(); }
    QString warningText() const { return warnings_->text(); }
    // Stops the units with `reason` and ends the program with status 1 once all are recorded.
    void stopAndQuit(const std::string& reason);
    QString keepText() const { return keep_->text(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    QWidget* buildButtons();
    void updateTotals();
    void updateRecords();
    void updateButtons();
    void updateRate();
    void quitWhenIdle();
    void warn(const QString& text);
    int selectedRow() const;

    StationMaker make_station_;
    std::unique_ptr<Station> station_;
    UnitTableModel* model_;
    QTableView* table_;
    QLabel* totals_;
    QLabel* records_;
    QLabel* keep_;
    QLabel* rate_;
    QLabel* warnings_;
    QLineEdit* scan_;
    QLabel* scan_message_;
    bool quitting_ = false;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* start_failed_;
    QPushButton* start_unit_;
};

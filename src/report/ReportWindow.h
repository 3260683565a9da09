#pragma once

#include "ImplantReport.h"
#include "ReportPage.h"

#include <QDialog>
#include <QFutureWatcher>

#include <functional>

class QComboBox;
class QDateEdit;
class QLabel;
class QPrinter;
class QPushButton;
class QTableWidget;

namespace store {
class Clock;
class MessageLayer;
} // namespace store

namespace report {

class ReportChart;

// The implant report window: a range of dates of attention (quick choices for this month, last
// month, this year and every date, or two dates), a grouping, and the chart and table of the
// counts. The counting runs off the window's thread through a connection of its own; a change
// made while it runs starts it again and the older answer is dropped. Modeless: the main window
// stays usable.
class ReportWindow : public QDialog {
    Q_OBJECT
public:
    ReportWindow(store::Registry registry, PageContext page, const store::Clock& clock,
                 store::MessageLayer& messages, QWidget* parent = nullptr);
    ~ReportWindow() override;

    void setRange(const DateRange& range);
    void setGrouping(Grouping by);
    // Counts again with the cards as stored now.
    void refresh();

    // Whether a count is running; the last result counted, and whether it is for what the
    // window asks now.
    bool busy() const { return running_; }
    const ReportResult& result() const { return result_; }

    // Where "Imprimir / PDF" prints (by default the print dialog, which also writes PDF) and
    // where "Exportar CSV" writes (by default a save dialog): replaceable for tests.
    void setPrinterChooser(std::function<bool(QPrinter*)> chooser) {
        choosePrinter_ = std::move(chooser);
    }
    void setCsvPathChooser(std::function<QString()> chooser) { chooseCsv_ = std::move(chooser); }

    bool print();
    bool exportCsv();

signals:
    // A count finished and its result is shown (or its failure told).
    void computed();

private:
    struct Outcome {
        store::Status status;
        ReportResult result;
        quint64 generation = 0;
    };
    void quickChoice(int index);
    void datesEdited();
    void start();
    void finished();
    void showResult(const ReportResult& result);

    store::Registry registry_;
    PageContext page_;
    const store::Clock& clock_;
    store::MessageLayer& messages_;
    QComboBox* period_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QComboBox* grouping_ = nullptr;
    QLabel* state_ = nullptr;
    ReportChart* chart_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* printButton_ = nullptr;
    QPushButton* csvButton_ = nullptr;
    QFutureWatcher<Outcome> watcher_;
    quint64 generation_ = 0;
    bool running_ = false;
    bool again_ = false; // asked for something else while counting
    bool settingDates_ = false;
    bool openRange_ = false; // "Todas las fechas"
    ReportResult result_;
    std::function<bool(QPrinter*)> choosePrinter_;
    std::function<QString()> chooseCsv_;
};

} // namespace report

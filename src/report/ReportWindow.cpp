#include "ReportWindow.h"

#include "Clock.h"
#include "Dates.h"
#include "Messages.h"
#include "ReportChart.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace report {

namespace {

enum Quick { ThisMonth, LastMonth, ThisYear, Everything, Other };

QDateEdit* dateEdit(const QString& name, QWidget* parent) {
    auto* edit = new QDateEdit(parent);
    edit->setObjectName(name);
    edit->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    edit->setCalendarPopup(true);
    edit->setMinimumDate(QDate(store::kFirstDateYear, 1, 1));
#ifdef Q_OS_WIN
    // Windows' style sizes a box with a calendar button too narrow for its date: the year's last
    // digit would be cut.
    edit->setMinimumWidth(edit->sizeHint().width() +
                          edit->fontMetrics().horizontalAdvance(QStringLiteral("00")));
#endif
    return edit;
}

} // namespace

ReportWindow::ReportWindow(store::Registry registry, PageContext page, const store::Clock& clock,
                           store::MessageLayer& messages, QWidget* parent)
    : QDialog(parent), registry_(std::move(registry)), page_(std::move(page)), clock_(clock),
      messages_(messages) {
    setObjectName(QStringLiteral("ReportWindow"));
    setWindowTitle(QStringLiteral("Informe de implantaciones"));
    setAttribute(Qt::WA_DeleteOnClose);

    period_ = new QComboBox(this);
    period_->setObjectName(QStringLiteral("cmbPeriodo"));
    period_->addItems({QStringLiteral("Este mes"), QStringLiteral("Mes pasado"),
                       QStringLiteral("Este año"), QStringLiteral("Todas las fechas"),
                       QStringLiteral("Otro período")});
    from_ = dateEdit(QStringLiteral("dtDesde"), this);
    to_ = dateEdit(QStringLiteral("dtHasta"), this);
    grouping_ = new QComboBox(this);
    grouping_->setObjectName(QStringLiteral("cmbAgrupar"));
    for (Grouping by : {Grouping::Month, Grouping::Week, Grouping::Implanter, Grouping::Place,
                        Grouping::Species, Grouping::SexAndState})
        grouping_->addItem(groupingTitle(by), int(by));
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("lblEstadoInforme"));

    auto* choices = new QHBoxLayout;
    auto* periodLabel = new QLabel(QStringLiteral("&Período:"), this);
    periodLabel->setBuddy(period_);
    auto* fromLabel = new QLabel(QStringLiteral("&Desde:"), this);
    fromLabel->setBuddy(from_);
    auto* toLabel = new QLabel(QStringLiteral("&Hasta:"), this);
    toLabel->setBuddy(to_);
    auto* groupingLabel = new QLabel(QStringLiteral("&Agrupar por:"), this);
    groupingLabel->setBuddy(grouping_);
    choices->addWidget(periodLabel);
    choices->addWidget(period_);
    choices->addWidget(fromLabel);
    choices->addWidget(from_);
    choices->addWidget(toLabel);
    choices->addWidget(to_);
    choices->addSpacing(12);
    choices->addWidget(groupingLabel);
    choices->addWidget(grouping_);
    choices->addStretch();

    chart_ = new ReportChart(this);
    chart_->setObjectName(QStringLiteral("reportChart"));
    chart_->setMinimumSize(420, 300);
    table_ = new QTableWidget(0, 3, this);
    table_->setObjectName(QStringLiteral("tblInforme"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Grupo"), QStringLiteral("Tarjetas"), QStringLiteral("%")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    table_->setMinimumWidth(300);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(chart_);
    split->addWidget(table_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    printButton_ = new QPushButton(QStringLiteral("&Imprimir / PDF…"), this);
    printButton_->setObjectName(QStringLiteral("btnImprimirInforme"));
    csvButton_ = new QPushButton(QStringLiteral("&Exportar CSV…"), this);
    csvButton_->setObjectName(QStringLiteral("btnExportarInforme"));
    auto* closeButton = new QPushButton(QStringLiteral("&Cerrar"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(state_, 1);
    buttons->addWidget(printButton_);
    buttons->addWidget(csvButton_);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
    resize(980, 560);

    connect(period_, &QComboBox::activated, this, &ReportWindow::quickChoice);
    connect(from_, &QDateEdit::dateChanged, this, &ReportWindow::datesEdited);
    connect(to_, &QDateEdit::dateChanged, this, &ReportWindow::datesEdited);
    connect(grouping_, &QComboBox::currentIndexChanged, this, &ReportWindow::start);
    connect(printButton_, &QPushButton::clicked, this, &ReportWindow::print);
    connect(csvButton_, &QPushButton::clicked, this, &ReportWindow::exportCsv);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&watcher_, &QFutureWatcher<Outcome>::finished, this, &ReportWindow::finished);

    choosePrinter_ = [this](QPrinter* printer) {
        QPrintDialog dialog(printer, this);
        dialog.setWindowTitle(QStringLiteral("Imprimir el informe de implantaciones"));
        return dialog.exec() == QDialog::Accepted;
    };
    chooseCsv_ = [this] {
        const QString suggested =
            QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                .filePath(QStringLiteral("Informe de implantaciones.csv"));
        return QFileDialog::getSaveFileName(this, QStringLiteral("Exportar el informe a CSV"),
                                            suggested, QStringLiteral("CSV (*.csv)"));
    };

    period_->setCurrentIndex(ThisMonth);
    quickChoice(ThisMonth);
}

ReportWindow::~ReportWindow() {
    // The count holds only copies and its own connection: it may end after the window.
    watcher_.disconnect(this);
}

void ReportWindow::setRange(const DateRange& range) {
    period_->setCurrentIndex(range.from.isNull() && range.to.isNull() ? Everything : Other);
    openRange_ = range.from.isNull() && range.to.isNull();
    from_->setEnabled(!openRange_);
    to_->setEnabled(!openRange_);
    settingDates_ = true;
    if (range.from.isValid())
        from_->setDate(range.from);
    if (range.to.isValid())
        to_->setDate(range.to);
    settingDates_ = false;
    start();
}

void ReportWindow::setGrouping(Grouping by) {
    grouping_->setCurrentIndex(grouping_->findData(int(by)));
}

void ReportWindow::refresh() {
    start();
}

void ReportWindow::quickChoice(int index) {
    const QDate today = clock_.today();
    DateRange range;
    switch (index) {
    case ThisMonth:
        range = thisMonth(today);
        break;
    case LastMonth:
        range = lastMonth(today);
        break;
    case ThisYear:
        range = thisYear(today);
        break;
    case Everything:
        range = {};
        break;
    default:
        // The dates as they are, ready to be changed.
        openRange_ = false;
        from_->setEnabled(true);
        to_->setEnabled(true);
        start();
        return;
    }
    openRange_ = index == Everything;
    // Every date: the two dates play no part, and say so by being unavailable.
    from_->setEnabled(!openRange_);
    to_->setEnabled(!openRange_);
    settingDates_ = true;
    if (!openRange_) {
        from_->setDate(range.from);
        to_->setDate(range.to);
    }
    settingDates_ = false;
    start();
}

void ReportWindow::datesEdited() {
    if (settingDates_)
        return;
    openRange_ = false;
    period_->setCurrentIndex(Other);
    start();
}

void ReportWindow::start() {
    if (running_) {
        again_ = true;
        return;
    }
    DateRange range;
    if (!openRange_) {
        range = {from_->date(), to_->date()};
        if (range.from > range.to)
            std::swap(range.from, range.to);
    }
    const auto by = Grouping(grouping_->currentData().toInt());
    running_ = true;
    again_ = false;
    printButton_->setEnabled(false);
    csvButton_->setEnabled(false);
    state_->setText(QStringLiteral("Contando las tarjetas…"));
    const quint64 generation = ++generation_;
    watcher_.setFuture(
        QtConcurrent::run([registry = registry_, range, by, today = clock_.today(), generation] {
            Outcome outcome;
            outcome.generation = generation;
            outcome.status = computeReport(registry, range, by, today, &outcome.result);
            return outcome;
        }));
}

void ReportWindow::finished() {
    running_ = false;
    const Outcome outcome = watcher_.result();
    if (again_) {
        // The choice changed meanwhile: this answer is for a question no longer asked.
        start();
        return;
    }
    if (!outcome.status) {
        state_->setText(QStringLiteral("No se pudo contar."));
        messages_.notice(outcome.status.message());
        emit computed();
        return;
    }
    result_ = outcome.result;
    showResult(result_);
    emit computed();
}

void ReportWindow::showResult(const ReportResult& result) {
    chart_->setResult(result);
    table_->setHorizontalHeaderItem(0, new QTableWidgetItem(groupingTitle(result.by)));
    const int extra = 2; // the total and the cards without a date
    table_->setRowCount(int(result.rows.size()) + extra);
    const auto put = [&](int row, const QString& label, const QString& count, const QString& share,
                         bool bold) {
        const QString texts[] = {label, count, share};
        for (int c = 0; c < 3; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (bold) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            table_->setItem(row, c, item);
        }
    };
    int r = 0;
    for (const ReportRow& row : result.rows)
        put(r++, row.label, QString::number(row.count), shareText(row.count, result.total), false);
    put(r++, QStringLiteral("Total"), QString::number(result.total),
        result.total > 0 ? shareText(result.total, result.total) : QString(), true);
    put(r, QStringLiteral("Sin fecha o con fecha ilegible (no incluidas)"),
        QString::number(result.undated), QString(), false);
    state_->setText(
        QStringLiteral("%1 tarjetas, %2.").arg(result.total).arg(result.range.describe()));
    printButton_->setEnabled(true);
    csvButton_->setEnabled(true);
}

bool ReportWindow::print() {
    if (running_)
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::Letter));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    printer.setDocName(QStringLiteral("Informe de implantaciones"));
    if (!choosePrinter_(&printer))
        return false;
    page_.printedAt = clock_.now();
    QString error;
    if (!printReport(&printer, result_, page_, &error)) {
        messages_.notice(error);
        return false;
    }
    return true;
}

bool ReportWindow::exportCsv() {
    if (running_)
        return false;
    const QString path = chooseCsv_();
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(reportCsv(result_)) < 0 || !file.commit()) {
        messages_.notice(QStringLiteral("No se pudo escribir el archivo %1: %2. Elija otra carpeta "
                                        "o libere espacio y vuelva a exportar.")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    state_->setText(QStringLiteral("Informe exportado a %1.").arg(QDir::toNativeSeparators(path)));
    return true;
}

} // namespace report

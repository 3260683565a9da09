#include "MergeDialog.h"

#include "Backup.h"
#include "Clock.h"
#include "Folders.h"
#include "Messages.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace merge {

using store::Card;
using store::Status;

namespace {

QString quoted(const QString& path) {
    return u'«' + QDir::toNativeSeparators(path) + u'»';
}

// A progress dialog that paints and takes Cancel while the work runs on the window's own thread:
// each report lets the events through.
//
// While the write transaction is open on the window's thread (`Write::Here`), no events are let
// through: the window's own followers of the registry would then read through other connections
// that wait for this very transaction on a server. The bar is painted directly, without Cancel.
// A write on the store's thread (`Write::Away`) keeps Cancel: the window's followers wait their
// turn there, and the dialog is application-modal, so a click or a key reaches nothing but it.
class Steps {
public:
    enum class Write { None, Here, Away };
    Steps(const QString& text, QWidget* parent, Write write = Write::None)
        : dialog_(text, QStringLiteral("Cancelar"), 0, 1000, parent), write_(write) {
        dialog_.setObjectName(QStringLiteral("MergeProgress"));
        dialog_.setWindowTitle(kMergeTitle);
        if (write_ == Write::Here)
            dialog_.setCancelButton(nullptr);
        dialog_.setWindowModality(write_ == Write::Away ? Qt::ApplicationModal : Qt::WindowModal);
        dialog_.setMinimumDuration(write_ == Write::None ? 300 : 0);
        dialog_.setAutoReset(false);
        dialog_.setAutoClose(false);
        dialog_.setValue(0);
        if (write_ != Write::None) {
            // Shown and painted once before the transaction opens (the events let through here
            // find nothing held yet): a window never shown is not painted by repaint().
            dialog_.show();
            QCoreApplication::processEvents();
        }
    }
    Progress report() {
        return [this](qint64 done, qint64 total) {
            const int max = total > 0 ? int(std::min<qint64>(total, 1 << 30)) : 1;
            if (dialog_.maximum() != max)
                dialog_.setMaximum(max);
            dialog_.setValue(int(std::min<qint64>(done, max)));
            if (write_ == Write::Here) {
                dialog_.repaint();
                return true;
            }
            // A report that comes while the events of an earlier one are let through waits
            // for the next.
            if (!reporting_) {
                const QScopedValueRollback<bool> guard(reporting_, true);
                QCoreApplication::processEvents();
            }
            return !dialog_.wasCanceled();
        };
    }
    bool cancelled() const { return dialog_.wasCanceled(); }

private:
    QProgressDialog dialog_;
    Write write_;
    bool reporting_ = false;
};

const char* const kChoiceTexts[] = {
    "Mantener la de este registro",
    "Tomar la del otro registro",
    "Tomar los campos no vacíos del otro",
};

} // namespace

MergeDialog::MergeDialog(MergePlan plan, store::CardStore& cards, const store::Folders& folders,
                         const store::Clock& clock, store::MessageLayer& messages, Merged merged,
                         QWidget* parent)
    : QDialog(parent), plan_(std::move(plan)), cards_(cards), folders_(folders), clock_(clock),
      messages_(messages), merged_(std::move(merged)) {
    setObjectName(QStringLiteral("MergeDialog"));
    setWindowTitle(kMergeTitle + QStringLiteral(" - ") + plan_.otherName);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(860, 560);

    auto* layout = new QVBoxLayout(this);
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("lblCuentas"));
    counts_->setText(
        QStringLiteral("%1 tarjetas en %2: nuevas %3, iguales %4, distintas %5, eliminadas allí "
                       "%6. Nada se escribe hasta que pulse Combinar.")
            .arg(plan_.otherCards)
            .arg(quoted(plan_.otherPath))
            .arg(plan_.count(CardClass::Nueva))
            .arg(plan_.count(CardClass::Igual))
            .arg(plan_.count(CardClass::Distinta))
            .arg(plan_.count(CardClass::EliminadaAlli)));
    counts_->setWordWrap(true);
    layout->addWidget(counts_);

    auto* listLabel = new QLabel(QStringLiteral("Con&flictos:"), this);
    list_ = new QTableWidget(int(plan_.conflicts.size()), 4, this);
    list_->setObjectName(QStringLiteral("tblConflictos"));
    listLabel->setBuddy(list_);
    list_->setHorizontalHeaderLabels({QStringLiteral("Código"), QStringLiteral("Clase"),
                                      QStringLiteral("Campos distintos"),
                                      QStringLiteral("Decisión")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setStretchLastSection(true);
    for (int r = 0; r < int(plan_.conflicts.size()); ++r) {
        const Conflict& c = plan_.conflicts[size_t(r)];
        QStringList names;
        for (store::Field f : c.changed)
            names.append(store::cardField(f).name.toString());
        list_->setItem(r, 0, new QTableWidgetItem(c.code()));
        list_->setItem(r, 1, new QTableWidgetItem(className(c.kind)));
        list_->setItem(r, 2,
                       new QTableWidgetItem(c.kind == CardClass::EliminadaAlli
                                                ? QStringLiteral("eliminada en el otro registro")
                                                : names.join(QStringLiteral(", "))));
        list_->setItem(r, 3, new QTableWidgetItem(choiceText(c)));
    }
    list_->resizeColumnsToContents();
    layout->addWidget(listLabel);
    layout->addWidget(list_, 1);

    auto* choiceRow = new QHBoxLayout;
    auto* choiceLabel = new QLabel(QStringLiteral("&Decisión para la tarjeta elegida:"), this);
    choice_ = new QComboBox(this);
    choice_->setObjectName(QStringLiteral("cboDecision"));
    for (const char* text : kChoiceTexts)
        choice_->addItem(QString::fromUtf8(text));
    choiceLabel->setBuddy(choice_);
    choiceRow->addWidget(choiceLabel);
    choiceRow->addWidget(choice_, 1);
    layout->addLayout(choiceRow);

    fields_ = new QTableWidget(0, 3, this);
    fields_->setObjectName(QStringLiteral("tblComparacion"));
    fields_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fields_->verticalHeader()->hide();
    fields_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    layout->addWidget(fields_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    merge_ = new QPushButton(QStringLiteral("&Combinar"), this);
    merge_->setObjectName(QStringLiteral("btnCombinar"));
    merge_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    cancel->setObjectName(QStringLiteral("btnCancelar"));
    buttons->addWidget(merge_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(list_, &QTableWidget::currentCellChanged, this, [this](int row) { showConflict(row); });
    connect(choice_, &QComboBox::currentIndexChanged, this, &MergeDialog::choose);
    connect(merge_, &QPushButton::clicked, this, &MergeDialog::mergeNow);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    const bool any = !plan_.conflicts.empty();
    choice_->setEnabled(any);
    if (any) {
        list_->setCurrentCell(0, 0);
        list_->setFocus();
    } else {
        merge_->setFocus();
    }
    showConflict(any ? 0 : -1);
}

QString MergeDialog::choiceText(const Conflict& c) const {
    if (c.kind == CardClass::EliminadaAlli)
        return c.choice == Choice::TakeOther ? QStringLiteral("Eliminarla también aquí")
                                             : QString::fromUtf8(kChoiceTexts[0]);
    return QString::fromUtf8(kChoiceTexts[int(c.choice)]);
}

void MergeDialog::setChoice(int row, Choice choice) {
    if (row < 0 || row >= int(plan_.conflicts.size()))
        return;
    Conflict& c = plan_.conflicts[size_t(row)];
    // A deletion has no fields to take: only keeping the card or deleting it.
    if (c.kind == CardClass::EliminadaAlli && choice == Choice::TakeOtherFilled)
        choice = Choice::KeepThis;
    c.choice = choice;
    list_->item(row, 3)->setText(choiceText(c));
    if (row == list_->currentRow())
        showConflict(row);
}

void MergeDialog::choose(int index) {
    setChoice(list_->currentRow(), Choice(index));
}

void MergeDialog::showConflict(int row) {
    fields_->setRowCount(0);
    if (row < 0 || row >= int(plan_.conflicts.size())) {
        fields_->setHorizontalHeaderLabels(
            {QStringLiteral("Campo"), QStringLiteral("Este registro"), plan_.otherName});
        return;
    }
    const Conflict& c = plan_.conflicts[size_t(row)];
    const bool deletion = c.kind == CardClass::EliminadaAlli;
    // The choices a deletion offers: keep it or delete it.
    choice_->setItemText(1, deletion ? QStringLiteral("Eliminarla también aquí")
                                     : QString::fromUtf8(kChoiceTexts[1]));
    if (auto* model = qobject_cast<QStandardItemModel*>(choice_->model()))
        model->item(2)->setEnabled(!deletion);
    choice_->setCurrentIndex(int(c.choice));

    QString otherHeader = plan_.otherName;
    if (deletion)
        otherHeader +=
            QStringLiteral(" (eliminada el %1)")
                .arg(c.otherWhen.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));
    else if (c.otherNewer)
        otherHeader += QStringLiteral(" (más reciente)");
    fields_->setHorizontalHeaderLabels(
        {QStringLiteral("Campo"), QStringLiteral("Este registro"), otherHeader});
    std::vector<store::Field> shown = c.changed;
    if (deletion) {
        shown.clear();
        for (const store::CardField& f : store::cardFields())
            shown.push_back(f.field);
    }
    fields_->setRowCount(int(shown.size()));
    for (int r = 0; r < int(shown.size()); ++r) {
        const store::Field f = shown[size_t(r)];
        fields_->setItem(r, 0, new QTableWidgetItem(store::cardField(f).name.toString()));
        fields_->setItem(r, 1, new QTableWidgetItem(c.here[f]));
        auto* theirs = new QTableWidgetItem(c.other[f]);
        if (c.otherNewer && !deletion) {
            // The newer value stands out, and says so to a screen reader too.
            QFont bold = theirs->font();
            bold.setBold(true);
            theirs->setFont(bold);
            theirs->setToolTip(QStringLiteral("Más reciente"));
        }
        fields_->setItem(r, 2, theirs);
    }
}

void MergeDialog::mergeNow() {
    merge_->setEnabled(false);
    // The day's copy of the file, to go back to, before anything is written to it.
    {
        Status copied;
        bool stopped = false;
        {
            // Nothing is written yet: the window goes on and Cancel stops before the merge.
            Steps steps(QStringLiteral("Copia de respaldo del registro antes de combinar…"), this);
            copied = backupBeforeMerge(folders_, cards_.registry(), clock_.today(), steps.report());
            stopped = steps.cancelled();
        }
        if (stopped) {
            merge_->setEnabled(true);
            messages_.inform(QStringLiteral("Se canceló la combinación: el registro %1 no cambió.")
                                 .arg(cards_.registry().quoted()),
                             kMergeTitle, store::MessageLayer::Icon::Information);
            return;
        }
        if (!copied &&
            messages_.askYesNo(QStringLiteral("No se pudo hacer la copia de respaldo del registro "
                                              "antes de combinar:\n%1\n\n¿Combinar de todos "
                                              "modos?")
                                   .arg(copied.message()),
                               kMergeTitle, store::MessageLayer::Answer::No) !=
                store::MessageLayer::Answer::Yes) {
            merge_->setEnabled(true);
            return;
        }
    }
    std::vector<MergeOutcome> outcomes;
    Status status;
    bool cancelled = false;
    {
        Steps steps(QStringLiteral("Combinando las tarjetas de %1…").arg(quoted(plan_.otherPath)),
                    this, cards_.handOver() ? Steps::Write::Away : Steps::Write::Here);
        status = applyMerge(cards_, plan_, &outcomes, steps.report());
        cancelled = steps.cancelled();
    }
    if (!status) {
        merge_->setEnabled(true);
        messages_.inform(cancelled
                             ? QStringLiteral("Se canceló la combinación: el registro %1 no "
                                              "cambió.")
                                   .arg(cards_.registry().quoted())
                             : status.message() + QStringLiteral("\n\nEl registro %1 no cambió.")
                                                      .arg(cards_.registry().quoted()),
                         kMergeTitle,
                         cancelled ? store::MessageLayer::Icon::Information
                                   : store::MessageLayer::Icon::Warning);
        return;
    }
    if (merged_)
        merged_();
    QString report;
    const Status reported = writeMergeReport(folders_, clock_.now(), plan_, outcomes, &report);
    qint64 written = 0;
    for (const MergeOutcome& o : outcomes) {
        if (o.what == QStringLiteral("agregada") || o.what.startsWith(QStringLiteral("se tom")) ||
            o.what.startsWith(QStringLiteral("eliminada")))
            ++written;
    }
    QString text = QStringLiteral("Se combinaron las tarjetas de %1: %2 agregadas, %3 cambiadas o "
                                  "eliminadas; las demás quedaron como estaban.")
                       .arg(quoted(plan_.otherPath))
                       .arg(plan_.added.size())
                       .arg(written - qint64(plan_.added.size()));
    text += reported ? QStringLiteral("\n\nEl informe está en %1.").arg(quoted(report))
                     : QStringLiteral("\n\n") + reported.message();
    accept();
    messages_.inform(text, kMergeTitle, store::MessageLayer::Icon::Information);
}

void startMerge(store::CardStore& cards, const store::Folders& folders, const store::Clock& clock,
                store::MessageLayer& messages, MergeDialog::Merged merged, QWidget* parent,
                QString otherPath) {
    if (otherPath.isEmpty()) {
        otherPath = messages.chooseFileToOpen(
            kMergeTitle, folders.exportDir,
            QStringLiteral("Registros de tarjetas (*.db);;Todos los archivos (*)"));
        if (otherPath.isEmpty())
            return;
    }
    MergePlan plan;
    Status status;
    bool cancelled = false;
    {
        Steps steps(QStringLiteral("Leyendo y comparando %1…").arg(quoted(otherPath)), parent);
        status = planMerge(cards, otherPath, &plan, steps.report());
        cancelled = steps.cancelled();
    }
    if (cancelled)
        return;
    if (!status) {
        messages.inform(status.message(), kMergeTitle, store::MessageLayer::Icon::Warning);
        return;
    }
    auto* dialog = new MergeDialog(std::move(plan), cards, folders, clock, messages,
                                   std::move(merged), parent);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->show();
}

} // namespace merge

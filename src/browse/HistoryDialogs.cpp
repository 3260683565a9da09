#include "HistoryDialogs.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace browse {

namespace {

// The newest changes are what is looked at, and each row shown costs a quarter of a
// millisecond; older deleted cards are found by narrowing the search.
constexpr int kCardHistoryLimit = 500;
constexpr int kDeletedLimit = 200;

QString fieldTitle(store::Field f) {
    // The derived address has no grid column; its stored name would mean nothing to a user.
    if (f == store::DireccionCompleta)
        return QStringLiteral("Dirección completa");
    const store::CardField& field = store::cardField(f);
    return field.gridHeader.isEmpty() ? field.name.toString() : field.gridHeader.toString();
}

QString whenText(const QDateTime& when) {
    return when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

QTableWidget* makeTable(const QStringList& headers, QWidget* parent) {
    auto* table = new QTableWidget(0, int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    // Column widths from the first rows only: measuring a thousand rows took longer than
    // reading them.
    table->horizontalHeader()->setResizeContentsPrecision(50);
    return table;
}

void setRow(QTableWidget* table, int row, const QStringList& texts) {
    for (int c = 0; c < texts.size(); ++c)
        table->setItem(row, c, new QTableWidgetItem(texts[c]));
}

// What a change did, in a few words for its line in the list.
QString summary(const store::HistoryEntry& e) {
    // An add, a delete or a restore holds the card on one side only: naming every field would
    // say nothing.
    const auto holds = [](const auto& values) {
        return std::any_of(values.begin(), values.end(), [](const auto& v) { return bool(v); });
    };
    if (!holds(e.before) || !holds(e.after))
        return QStringLiteral("tarjeta completa");
    QStringList changed;
    for (int i = 0; i < store::kFieldCount; ++i) {
        const auto f = store::Field(i);
        if ((e.before[f] || e.after[f]) && e.changed(f))
            changed.append(fieldTitle(f));
    }
    return changed.join(QStringLiteral(", "));
}

QString shown(const std::optional<QString>& value) {
    return value ? *value : QString();
}

} // namespace

CardHistoryDialog::CardHistoryDialog(const QString& code, std::vector<store::HistoryEntry> entries,
                                     QWidget* parent)
    : QDialog(parent), entries_(std::move(entries)) {
    setObjectName(QStringLiteral("CardHistoryDialog"));
    setWindowTitle(QStringLiteral("Historial de la tarjeta %1").arg(code));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(820, 560);

    changes_ =
        makeTable({QStringLiteral("Fecha"), QStringLiteral("Operación"), QStringLiteral("Usuario"),
                   QStringLiteral("Equipo"), QStringLiteral("Campos cambiados")},
                  this);
    changes_->setObjectName(QStringLiteral("tblCambios"));
    fields_ = makeTable(
        {QStringLiteral("Campo"), QStringLiteral("Antes"), QStringLiteral("Después")}, this);
    fields_->setObjectName(QStringLiteral("tblCampos"));
    fields_->setSelectionMode(QAbstractItemView::NoSelection);

    changes_->setRowCount(int(entries_.size()));
    for (int r = 0; r < int(entries_.size()); ++r) {
        const store::HistoryEntry& e = entries_[size_t(r)];
        // A card merged in from another registry says which file it came from.
        const QString what =
            e.source.isEmpty() ? e.what : QStringLiteral("%1 (de %2)").arg(e.what, e.source);
        setRow(changes_, r, {whenText(e.when), what, e.user, e.computer, summary(e)});
    }
    changes_->resizeColumnsToContents();
    connect(changes_, &QTableWidget::currentCellChanged, this, [this](int row) { showEntry(row); });

    auto* empty = new QLabel(QStringLiteral("La tarjeta no tiene cambios registrados."), this);
    empty->setVisible(entries_.empty());

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(changes_);
    split->addWidget(fields_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(empty);
    layout->addWidget(split);
    layout->addWidget(buttons);

    if (!entries_.empty())
        changes_->setCurrentCell(0, 0);
}

void CardHistoryDialog::showEntry(int row) {
    fields_->setRowCount(0);
    if (row < 0 || row >= int(entries_.size()))
        return;
    const store::HistoryEntry& e = entries_[size_t(row)];
    // The fields the change holds: the ones an edit changed, or the whole card.
    for (int i = 0; i < store::kFieldCount; ++i) {
        const auto f = store::Field(i);
        if (!e.before[f] && !e.after[f])
            continue;
        const int r = fields_->rowCount();
        fields_->insertRow(r);
        setRow(fields_, r, {fieldTitle(f), shown(e.before[f]), shown(e.after[f])});
        if (e.changed(f)) {
            for (int c = 0; c < 3; ++c) {
                QTableWidgetItem* item = fields_->item(r, c);
                QFont font = item->font();
                font.setBold(true);
                item->setFont(font);
                item->setBackground(QColor(255, 236, 150));
                item->setToolTip(QStringLiteral("Cambió"));
            }
        }
    }
    fields_->resizeColumnsToContents();
}

DeletedCardsDialog::DeletedCardsDialog(store::CardStore& cards, store::MessageLayer& messages,
                                       Restored restored, QWidget* parent)
    : QDialog(parent), cards_(cards), messages_(messages), restored_(std::move(restored)) {
    setObjectName(QStringLiteral("DeletedCardsDialog"));
    setWindowTitle(QStringLiteral("Tarjetas eliminadas"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(900, 520);

    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("txtBuscarEliminada"));
    filter_->setPlaceholderText(QStringLiteral("Buscar por código o propietario"));
    filter_->setClearButtonEnabled(true);
    filter_->setAccessibleName(
        QStringLiteral("Buscar tarjetas eliminadas por código o propietario"));
    filter_->installEventFilter(this);
    list_ = makeTable({QStringLiteral("Eliminada"), QStringLiteral("Código"),
                       QStringLiteral("Propietario"), QStringLiteral("Mascota"),
                       QStringLiteral("Usuario"), QStringLiteral("Equipo")},
                      this);
    list_->setObjectName(QStringLiteral("tblEliminadas"));
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("lblEliminadas"));
    restore_ = new QPushButton(QStringLiteral("&Restaurar"), this);
    restore_->setObjectName(QStringLiteral("btnRestaurar"));
    restore_->setEnabled(false);
    // Enter in the search box must not restore whatever card happens to be selected.
    restore_->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(restore_, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(restore_, &QPushButton::clicked, this, &DeletedCardsDialog::restoreSelected);
    connect(list_, &QTableWidget::currentCellChanged, this,
            [this](int row) { restore_->setEnabled(row >= 0); });
    connect(list_, &QTableWidget::cellDoubleClicked, this, &DeletedCardsDialog::restoreSelected);

    // The list follows the typing once it pauses.
    typing_ = new QTimer(this);
    typing_->setSingleShot(true);
    typing_->setInterval(150);
    connect(filter_, &QLineEdit::textChanged, typing_, qOverload<>(&QTimer::start));
    connect(typing_, &QTimer::timeout, this, [this] { (void)reload(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filter_);
    layout->addWidget(list_);
    layout->addWidget(note_);
    layout->addWidget(buttons);
    filter_->setFocus();
}

store::Status DeletedCardsDialog::reload() {
    typing_->stop();
    const store::Status status =
        store::History(cards_).deleted(filter_->text(), kDeletedLimit, &entries_);
    if (!status) {
        entries_.clear();
        messages_.notice(status.message());
    }
    list_->setRowCount(0);
    list_->setRowCount(int(entries_.size()));
    for (int r = 0; r < int(entries_.size()); ++r) {
        const store::HistoryEntry& e = entries_[size_t(r)];
        setRow(list_, r,
               {whenText(e.when), e.code, shown(e.before[store::Propietario]),
                shown(e.before[store::NombreAnimal]), e.user, e.computer});
    }
    list_->resizeColumnsToContents();
    if (!entries_.empty())
        list_->setCurrentCell(0, 1);
    restore_->setEnabled(!entries_.empty());
    note_->setText(entries_.empty() ? QStringLiteral("No hay tarjetas eliminadas que mostrar.")
                   : int(entries_.size()) == kDeletedLimit
                       ? QStringLiteral("Se muestran las %1 eliminadas más recientes; escriba un "
                                        "código o un propietario para encontrar otras.")
                             .arg(kDeletedLimit)
                   : entries_.size() == 1
                       ? QStringLiteral("1 tarjeta eliminada.")
                       : QStringLiteral("%1 tarjetas eliminadas.").arg(entries_.size()));
    return status;
}

bool DeletedCardsDialog::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the search box searches at once; it neither closes the dialog nor restores.
    if (watched == filter_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            (void)reload();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void DeletedCardsDialog::restoreSelected() {
    const int row = list_->currentRow();
    if (row < 0 || row >= int(entries_.size()))
        return;
    store::RowId id = store::kNoRow;
    const store::Status status = store::History(cards_).restore(entries_[size_t(row)].id, &id);
    if (!status) {
        messages_.notice(status.message());
        return;
    }
    if (restored_)
        restored_(id);
    accept();
}

void showCardHistory(store::CardStore& cards, const QString& code, store::MessageLayer& messages,
                     QWidget* parent) {
    std::vector<store::HistoryEntry> entries;
    if (const store::Status status =
            store::History(cards).forCode(code, kCardHistoryLimit, &entries);
        !status) {
        messages.notice(status.message());
        return;
    }
    auto* dialog = new CardHistoryDialog(code, std::move(entries), parent);
    dialog->show();
}

void showDeletedCards(store::CardStore& cards, store::MessageLayer& messages,
                      DeletedCardsDialog::Restored restored, QWidget* parent) {
    auto* dialog = new DeletedCardsDialog(cards, messages, std::move(restored), parent);
    if (!dialog->reload()) {
        dialog->deleteLater();
        return;
    }
    dialog->show();
}

} // namespace browse

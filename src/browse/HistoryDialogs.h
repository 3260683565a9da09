#pragma once

#include "CardStore.h"
#include "History.h"
#include "Messages.h"

#include <QDialog>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace browse {

// A card's changes, newest first, read-only: who, when, on which computer and what; the values
// of the selected change below, its changed fields highlighted.
class CardHistoryDialog : public QDialog {
    Q_OBJECT
public:
    CardHistoryDialog(const QString& code, std::vector<store::HistoryEntry> entries,
                      QWidget* parent);

private:
    void showEntry(int row);

    std::vector<store::HistoryEntry> entries_;
    QTableWidget* changes_;
    QTableWidget* fields_;
};

// The deleted cards, newest first, found by code or owner, with "Restaurar", which puts the
// selected card back as it was.
class DeletedCardsDialog : public QDialog {
    Q_OBJECT
public:
    // Told the id of a card put back.
    using Restored = std::function<void(store::RowId)>;
    DeletedCardsDialog(store::CardStore& cards, store::MessageLayer& messages, Restored restored,
                       QWidget* parent);

    // Lists the deleted cards the search text finds; a failure is said to the user.
    store::Status reload();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restoreSelected();

    store::CardStore& cards_;
    store::MessageLayer& messages_;
    Restored restored_;
    std::vector<store::HistoryEntry> entries_;
    QLineEdit* filter_;
    QTableWidget* list_;
    QLabel* note_;
    QPushButton* restore_;
    QTimer* typing_;
};

// Opens the history of the card with this code; a failure to read it is said and opens nothing.
void showCardHistory(store::CardStore& cards, const QString& code, store::MessageLayer& messages,
                     QWidget* parent);
// Opens the list of deleted cards.
void showDeletedCards(store::CardStore& cards, store::MessageLayer& messages,
                      DeletedCardsDialog::Restored restored, QWidget* parent);

} // namespace browse

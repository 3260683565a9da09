#pragma once

#include "Merge.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace store {
class Clock;
class MessageLayer;
struct Folders;
} // namespace store

namespace merge {

// The other registry compared with this one, before anything is written: the counts of each
// class, and the conflicts, each with its differing fields side by side and the user's choice
// (keep this card, the default; take the other; take the other's non-empty fields). "Combinar"
// makes the day's backup copy of a file registry, writes everything in one transaction with
// progress and Cancel, writes the report and says what was done.
class MergeDialog : public QDialog {
    Q_OBJECT
public:
    // Told after the cards were written.
    using Merged = std::function<void()>;
    MergeDialog(MergePlan plan, store::CardStore& cards, const store::Folders& folders,
                const store::Clock& clock, store::MessageLayer& messages, Merged merged,
                QWidget* parent);

    const MergePlan& plan() const { return plan_; }
    // The choice for the conflict in this row of the list.
    void setChoice(int row, Choice choice);

private:
    void showConflict(int row);
    void choose(int index);
    void mergeNow();
    QString choiceText(const Conflict& c) const;

    MergePlan plan_;
    store::CardStore& cards_;
    const store::Folders& folders_;
    const store::Clock& clock_;
    store::MessageLayer& messages_;
    Merged merged_;
    QLabel* counts_;
    QTableWidget* list_;
    QTableWidget* fields_;
    QComboBox* choice_;
    QPushButton* merge_;
};

// "Combinar tarjetas de otro registro…": asks for the file (unless `otherPath` is given), reads
// and compares it with progress and Cancel, and opens the dialog above; a refusal is said and
// opens nothing.
void startMerge(store::CardStore& cards, const store::Folders& folders, const store::Clock& clock,
                store::MessageLayer& messages, MergeDialog::Merged merged, QWidget* parent,
                QString otherPath = {});

inline const QString kMergeTitle = QStringLiteral("Combinar tarjetas de otro registro");

} // namespace merge

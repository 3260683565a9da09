#pragma once

#include "CardFields.h"
#include "CardStore.h"
#include "Status.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QTextStream;

namespace store {
class Clock;
struct Folders;
} // namespace store

// Merging the cards of another registry made by this program (a laptop taken to a field
// campaign, a backup copy) into the open one.
namespace merge {

// What a card of the other registry is to this one, by its code compared as bytes.
enum class CardClass {
    Nueva,         // the code is not stored here: added
    Igual,         // stored here with the same 25 values: nothing to write
    Distinta,      // stored here with other values: a conflict
    EliminadaAlli, // the other registry deleted a code stored here: a conflict
};

// What a conflict resolves to.
enum class Choice {
    KeepThis,        // this registry's card stays as it is
    TakeOther,       // the other registry's card (for a deletion there: this card deleted)
    TakeOtherFilled, // this card with the other's non-empty fields written over it
};

struct Conflict {
    CardClass kind = CardClass::Distinta;
    store::Card here;  // as stored in this registry
    store::Card other; // the other registry's card; for a deletion, the card as it was deleted
    // The other's card is the newer one: by the times of the two histories when both have
    // rows for the code, otherwise by fecha_atencion.
    bool otherNewer = false;
    QDateTime otherWhen; // the time of the other's last history row for the code, if any
    std::vector<store::Field> changed; // the fields whose values differ (none for a deletion)
    Choice choice = Choice::KeepThis;

    const QString& code() const { return here[store::Codigo]; }
};

// The other registry read and compared with this one, before anything is written.
struct MergePlan {
    QString otherPath;              // absolute
    QString otherName;              // its file name, as the history rows and the report name it
    std::vector<store::Card> added; // class nueva, in the other registry's stored order
    qint64 equal = 0;
    std::vector<QString> equalCodes;
    qint64 otherCards = 0;
    std::vector<Conflict> conflicts; // distinta in stored order, then eliminada allí by code

    qint64 count(CardClass kind) const;
};

// Called now and then with the work done and the work there is; returning false cancels.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// The cards of the registry file at `path`, in stored order, and the codes its history deleted
// that it no longer holds (with the time of the deletion and the card as it was), read in one
// read transaction without writing anything to the file. Refused with a Spanish message when
// the file is not a registry of this program, is written by a later version, or is being
// written by another program.
struct OtherRegistry {
    std::vector<store::Card> cards;
    struct Deleted {
        store::Card card;
        QDateTime when;
    };
    std::vector<Deleted> deleted;
    // The time of the last history row of each code that has one.
    std::vector<std::pair<QString, QDateTime>> lastChange;
};
store::Status readOtherRegistry(const QString& path, OtherRegistry* other,
                                const Progress& progress = {});

// Reads the other registry and compares it with `here`. Refuses the registry `here` is itself.
store::Status planMerge(const store::CardStore& here, const QString& otherPath, MergePlan* plan,
                        const Progress& progress = {});

// What was done with one code, for the report and the summary.
struct MergeOutcome {
    QString code;
    QString kind;   // className() of its class
    QString what;   // what was done: "agregada", "se tomó la del otro registro", …
    QString fields; // the fields that differ, for a conflict
};

// Writes what the plan says, each conflict as its choice says, in one transaction; fills
// `outcomes` with one line per code of the other registry that was not equal. Cancelling
// through `progress` writes nothing.
store::Status applyMerge(store::CardStore& here, const MergePlan& plan,
                         std::vector<MergeOutcome>* outcomes, const Progress& progress = {});

// "Combinación AAAA-MM-DD HH.MM.csv" in the export folder (Windows-1252, ';', formula-safe):
// every code of the other registry that was not equal here, with its class, what was done and
// the changed fields. Written through a temporary file; returns its full name in `path`.
store::Status writeMergeReport(const store::Folders& folders, const QDateTime& at,
                               const MergePlan& plan, const std::vector<MergeOutcome>& outcomes,
                               QString* path);

// The card a choice writes for a conflict, or nullopt when it writes nothing (kept, or the
// other's non-empty fields are this card's values already).
std::optional<store::Card> resolvedCard(const Conflict& conflict);

// The day's backup copy of the registry file `registry` in the data folder's backups, made
// before a merge writes to it (replacing one made earlier that day); nothing for a server.
// With `progress`, the copy goes a step at a time and its check runs on a thread of its own,
// `progress` called meanwhile; returning false cancels it, leaving no copy behind.
store::Status backupBeforeMerge(const store::Folders& folders, const store::Registry& registry,
                                const QDate& day, const Progress& progress = {});

// The Spanish words of a class, as the window and the report show it.
QString className(CardClass kind);

// `tarjetas --combinar FILE`: merges FILE into the registry of `folders` (the file or server
// the configuration chooses), keeping this registry's card in every conflict unless
// `takeOther` (which takes the other's changed cards; a card deleted there is only listed, never
// deleted without the window's question), writes the report and prints a summary with every
// conflict. Exit code: 0 merged
// (or nothing to merge), 1 refused or failed with the registry unchanged.
int runMergeCommand(const store::Folders& folders, const QString& otherPath, bool takeOther,
                    const store::Clock& clock, QTextStream& out);

} // namespace merge

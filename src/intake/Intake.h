#pragma once

#include "CardStore.h"
#include "Clock.h"
#include "Folders.h"
#include "Messages.h"

#include <QString>

#include <vector>

namespace intake {

inline const QString kIntakeTitle = QStringLiteral("Recibido desde la Web");
inline const QString kRejectedSuffix = QStringLiteral(".rechazado");

struct IntakeResult {
    bool fileFound = false;
    int added = 0;   // cards new to the store
    int updated = 0; // stored cards overwritten from the web
    bool fileRemoved = false;
    bool keptForNextStart = false; // the file stays as it came, to be taken in at the next start
    QString keptAs;                // where a refused file now is; empty otherwise

    bool tookIn() const { return added + updated > 0; }
    // After taking a card in, the cursor that stored it walks in code order, and so does the
    // listing that follows; otherwise the cards are listed in stored order.
    store::Order listingOrder() const {
        return tookIn() ? store::Order::ByCode : store::Order::Stored;
    }
};

// The start-up step for cards that arrived from the web: when the data folder holds
// "CLIENTE.TLV" (in any case), and every record in it has the shape of a web card, all its
// records are stored in one transaction (a new card, or the card with the same code overwritten),
// announced in one message, and the file is deleted. Taking the same file in twice gives the
// same registry. Where several names differ only in case, each file is taken in, in name order.
// - A file that is no web card file (a record of the wrong shape, a record cut short, more than
//   kMaxFileBytes) stores nothing: it is renamed "CLIENTE.TLV <time stamp>.rechazado" in the data
//   folder, and one message names the record that failed, why, and where the file is.
// - When the store cannot take the cards (busy, read-only, full) or the file cannot be read, the
//   file is left as it is, to be taken in at the next start, and a message says so.
// Without the file nothing happens.
IntakeResult takeInWebCards(store::CardStore& cards, const store::Folders& folders,
                            store::MessageLayer& messages, const store::Clock& clock);

// The text announcing one stored web card.
QString announcement(const store::Card& card, bool updated);
// The text announcing the cards of one file, in file order; `updated` tells which were stored
// cards overwritten. Up to ten are named.
QString announcement(const std::vector<store::Card>& cards, const std::vector<bool>& updated);

} // namespace intake

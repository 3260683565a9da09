#pragma once

#include "CardStore.h"
#include "Clock.h"
#include "Folders.h"
#include "Messages.h"

#include <QString>

namespace intake {

inline const QString kIntakeTitle = QStringLiteral("Recibido desde la Web");
inline const QString kRejectedSuffix = QStringLiteral(".rechazado");

struct IntakeResult {
    bool fileFound = false;
    int added = 0;   // cards new to the store
    int updated = 0; // stored cards overwritten from the web
    bool fileRemoved = false;
    QString keptAs; // where a file that was not taken in whole now is; empty otherwise

    bool tookIn() const { return added + updated > 0; }
    // After taking a card in, the cursor that stored it walks in code order, and so does the
    // listing that follows; otherwise the cards are listed in stored order.
    store::Order listingOrder() const {
        return tookIn() ? store::Order::ByCode : store::Order::Stored;
    }
};

// The start-up step for a card that arrived from the web: when the data folder holds
// "CLIENTE.TLV", every whole record in it is stored (a new card, or the card with the same code
// overwritten), each announced with its own message, and the file is deleted. A file that was not
// taken in whole (too short, trailing bytes, a record without a code, a store failure, a file that
// cannot be read) is renamed "CLIENTE.TLV<time stamp>.rechazado" in the data folder, and a message
// says why and where it is. Without the file nothing happens.
IntakeResult takeInWebCards(store::CardStore& cards, const store::Folders& folders,
                            store::MessageLayer& messages, const store::Clock& clock);

// The text announcing a stored web card.
QString announcement(const store::Card& card, bool updated);

} // namespace intake

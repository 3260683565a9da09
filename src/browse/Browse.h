#pragma once

#include "CardStore.h"
#include "Clock.h"
#include "EntryForm.h"
#include "Messages.h"

#include <QString>
#include <QStringList>

class QLabel;

namespace browse {

class CardGrid;

// The ten type-ahead lists of the window, by objectName, in the order OcultaListas hides them.
const QStringList& typeAheadListNames();

// "4 de 120 Mascotas registradas": the position label under the grid.
QString positionText(int currentRow, int cardRows);

// What CargaTarjeta works with: the grid, its position label, the entry fields and the shared
// cursor on the card table (null when the store could not be opened).
struct BrowseContext {
    CardGrid* grid = nullptr;
    QLabel* positionLabel = nullptr;
    store::EntryForm* form = nullptr;
    store::TableCursor* table = nullptr;
    const store::Clock* clock = nullptr;
    store::MessageLayer* messages = nullptr;
    store::LoadedCard* loaded = nullptr; // when given, set to the card put into the fields
};

// Loads the card of the grid's current row into the entry fields: position label, code column
// current, both dates today, every field emptied, then the card found by its code through the
// index PrimaryKey, the sex option, and the type-ahead lists hidden. Returns the id of the card
// loaded, kNoRow when the fields were left empty; `loaded`, when given, is left holding the card
// as read, or none. Without a store the label says that no registry is open.
store::RowId cargaTarjeta(const BrowseContext& context);

// The current cell of the grid changed: the label is blanked, and the card loaded while the grid
// has card rows. Returns the id of the card then shown, or `shown` when no load ran.
store::RowId currentCellChanged(const BrowseContext& context, store::RowId shown);

// What the position label shows while no card store is open.
QString noRegistryText();

// Appends one row per stored card in the given order and makes row 1 current when any was added.
store::Status fillGrid(CardGrid& grid, const store::CardStore& cards, store::Order order);

} // namespace browse

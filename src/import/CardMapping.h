#pragma once

#include "CardFields.h"
#include "RowSource.h"
#include "Status.h"

#include <QStringList>

#include <vector>

namespace import {

inline const QString kCardTable = QStringLiteral("Clientes");
// How the program writes a date as text.
inline const QString kCardDateFormat = QStringLiteral("dd/MM/yyyy");

// A row of the source that did not become a card, and why.
struct RefusedRow {
    int row = 0;  // 1-based position in the table's stored order
    QString code; // the row's Codigo as stored (null when Null)
    QString reason;
};

struct CardTable {
    std::vector<store::Card> cards; // in the table's stored order
    std::vector<RefusedRow> refused;
    QStringList missingColumns; // card fields the table lacks, left Null
    int rowsRead = 0;
};

// Reads the whole table Clientes of the source as cards: columns matched to card fields by name
// without regard to case, a missing column left Null, dates written as dd/MM/yyyy, text kept
// exactly, direccion_completa kept when the table has it and otherwise composed from the three
// address fields. A row whose code is empty or repeats an earlier row's code is refused and
// listed, never dropped or merged. Fails as a whole when the table cannot be read to the end or
// has no Codigo column.
store::Status readCardTable(RowSource& source, CardTable* table);

} // namespace import

#include "CardMapping.h"

#include <QHash>

#include <array>
#include <optional>

namespace import {

using store::Card;
using store::Field;
using store::Status;

store::Status readCardTable(RowSource& source, CardTable* table) {
    *table = CardTable();
    source.setDateFormat(kCardDateFormat);
    if (Status s = source.openTable(kCardTable); !s)
        return s;

    // For each card field, the source column that holds it (the first one when names repeat).
    std::array<std::optional<size_t>, store::kFieldCount> columnOf{};
    const std::vector<Column>& columns = source.columns();
    for (size_t c = 0; c < columns.size(); ++c) {
        const std::optional<Field> f = store::fieldByName(columns[c].name);
        if (f && !columnOf[*f])
            columnOf[*f] = c;
    }
    if (!columnOf[store::Codigo])
        return Status::failure(
            store::ErrorKind::NotADatabase,
            QStringLiteral("La tabla Clientes del archivo «%1» no tiene la columna Codigo.")
                .arg(source.origin()));
    for (const store::CardField& f : store::cardFields()) {
        if (!columnOf[f.field])
            table->missingColumns.append(f.name.toString());
    }
    const bool composeAddress = !columnOf[store::DireccionCompleta];

    QHash<QString, int> firstRowOfCode;
    Row row;
    Status status;
    while (source.next(&row, &status)) {
        const int rowNumber = ++table->rowsRead;
        Card card;
        for (int i = 0; i < store::kFieldCount; ++i) {
            const std::optional<size_t> c = columnOf[i];
            if (c && *c < row.size())
                card[static_cast<Field>(i)] = row[*c];
        }
        if (composeAddress)
            card[store::DireccionCompleta] = store::composeAddress(
                card[store::Direccion], card[store::NumeroDepto], card[store::BlockDepto]);

        const QString& code = card[store::Codigo];
        if (code.isEmpty()) {
            table->refused.push_back({rowNumber, code, QStringLiteral("el código está vacío")});
            continue;
        }
        const auto seen = firstRowOfCode.constFind(code);
        if (seen != firstRowOfCode.constEnd()) {
            table->refused.push_back(
                {rowNumber, code,
                 QStringLiteral("el código se repite (ya está en la fila %1)").arg(*seen)});
            continue;
        }
        firstRowOfCode.insert(code, rowNumber);
        table->cards.push_back(std::move(card));
    }
    return status;
}

} // namespace import

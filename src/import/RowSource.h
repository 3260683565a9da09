#pragma once

#include "Status.h"

#include <QString>

#include <vector>

namespace import {

enum class ColumnType { Text, Date, Number, Other };

struct Column {
    QString name;
    ColumnType type = ColumnType::Text;
};

// One row's values in column order; a null QString is a Null value, an empty one an empty text.
using Row = std::vector<QString>;

// A table read row by row as named text values. The Jet reader implements it; tests feed prepared
// rows through the same interface.
class RowSource {
public:
    virtual ~RowSource() = default;

    // The file or other origin the rows come from, for messages.
    virtual QString origin() const = 0;

    // How date columns are written as text: a QDateTime format such as "dd/MM/yyyy". Set before
    // reading.
    virtual void setDateFormat(const QString& format) = 0;

    // Opens the table with this name, matched without regard to case. Its columns are known
    // afterwards and reading starts at its first row.
    virtual store::Status openTable(const QString& name) = 0;
    virtual const std::vector<Column>& columns() const = 0;

    // The next row in the table's stored order. Returns false at the end of the table or on a
    // failure, which `status` then describes.
    virtual bool next(Row* row, store::Status* status) = 0;
};

} // namespace import

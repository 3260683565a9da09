#pragma once

#include "RowSource.h"

#include <QDateTime>
#include <QVariant>

#include <vector>

// A row source for tests: one table of prepared values. A cell is an invalid QVariant for Null,
// a QString for text, or a QDate/QDateTime for a date column, written with the date format the
// reader of the rows asked for. It can fail after a given number of rows, as a damaged file
// would.
class PreparedRows : public import::RowSource {
public:
    PreparedRows(QString table, std::vector<import::Column> columns,
                 std::vector<std::vector<QVariant>> rows)
        : table_(std::move(table)), columns_(std::move(columns)), rows_(std::move(rows)) {}

    void failAfter(int rows) { failAfter_ = rows; }
    QString origin() const override { return QStringLiteral("/datos/DAT.MDB"); }
    void setDateFormat(const QString& format) override { dateFormat_ = format; }
    const QString& dateFormat() const { return dateFormat_; }

    store::Status openTable(const QString& name) override {
        if (name.compare(table_, Qt::CaseInsensitive) != 0)
            return store::Status::failure(store::ErrorKind::NotFound,
                                          QStringLiteral("no tiene la tabla %1").arg(name));
        opened_ = true;
        next_ = 0;
        return store::Status();
    }
    const std::vector<import::Column>& columns() const override { return columns_; }

    bool next(import::Row* row, store::Status* status) override {
        *status = store::Status();
        row->clear();
        if (!opened_ || next_ >= rows_.size())
            return false;
        if (failAfter_ >= 0 && next_ >= static_cast<size_t>(failAfter_)) {
            *status = store::Status::failure(store::ErrorKind::Io,
                                             QStringLiteral("una fila de la tabla está dañada"));
            return false;
        }
        for (const QVariant& cell : rows_[next_]) {
            if (!cell.isValid())
                row->push_back(QString());
            else if (cell.metaType() == QMetaType::fromType<QDate>())
                row->push_back(cell.toDate().startOfDay().toString(dateFormat_));
            else if (cell.metaType() == QMetaType::fromType<QDateTime>())
                row->push_back(cell.toDateTime().toString(dateFormat_));
            else
                row->push_back(cell.toString());
        }
        ++next_;
        return true;
    }

private:
    QString table_;
    std::vector<import::Column> columns_;
    std::vector<std::vector<QVariant>> rows_;
    QString dateFormat_ = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    int failAfter_ = -1;
    size_t next_ = 0;
    bool opened_ = false;
};

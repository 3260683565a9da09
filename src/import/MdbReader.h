#pragma once

#include "RowSource.h"

#include <QDateTime>
#include <QStringList>

#include <memory>

namespace import {

// Reads tables of a Microsoft Jet 3 or Jet 4 database file (.mdb) through mdbtools' library.
// The file is opened read-only and never written. Text comes back exactly as stored, Null as a
// null QString, dates in the format set by setDateFormat, numbers in mdbtools' text form.
class MdbReader : public RowSource {
public:
    explicit MdbReader(QString path);
    ~MdbReader() override;
    MdbReader(const MdbReader&) = delete;
    MdbReader& operator=(const MdbReader&) = delete;

    QString origin() const override { return path_; }
    void setDateFormat(const QString& format) override { dateFormat_ = format; }
    store::Status openTable(const QString& name) override;
    const std::vector<Column>& columns() const override { return columns_; }
    bool next(Row* row, store::Status* status) override;

private:
    store::Status openFile();
    void closeTable();
    store::Status failure(store::ErrorKind kind, const QString& reason) const;

    struct Mdb;
    QString path_;
    QString dateFormat_ = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    std::vector<Column> columns_;
    std::unique_ptr<Mdb> mdb_;
};

// The moment a Jet date/time value stands for: whole days since 30 December 1899 (negative
// before it) and, in the absolute value of the fraction, the time of day.
QDateTime jetDateTime(double value);

} // namespace import

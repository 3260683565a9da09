#include "MdbReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

// mdbtools.h brings glib, or on Windows the library's own small replacement for it.
#include <mdbtools.h>

#include <cmath>
#include <cstring>

namespace import {

using store::ErrorKind;
using store::Status;

namespace {

// Row offsets on a data page carry two flag bits above the offset itself.
constexpr int kOffsetMask = 0x1fff;
constexpr int kDeletedRow = 0x4000;
// mdbtools converts a text or memo value into a buffer of this many bytes; a longer value would
// come back cut short, so such a value is refused rather than imported truncated.
constexpr size_t kValueBufferSize = 64 * 1024;

QString quoted(const QString& path) {
    return u'«' + QDir::toNativeSeparators(path) + u'»';
}

ColumnType columnType(int jetType) {
    switch (jetType) {
    case MDB_TEXT:
    case MDB_MEMO:
        return ColumnType::Text;
    case MDB_DATETIME:
        return ColumnType::Date;
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_MONEY:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_NUMERIC:
    case MDB_COMPLEX:
        return ColumnType::Number;
    default:
        return ColumnType::Other;
    }
}

// A Jet file starts with a fixed signature naming its engine.
bool hasJetSignature(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(20);
    return head.size() == 20 && head.startsWith(QByteArrayView("\x00\x01\x00\x00", 4)) &&
           (head.mid(4) == QByteArrayView("Standard Jet DB\0", 16) ||
            head.mid(4) == QByteArrayView("Standard ACE DB\0", 16));
}

} // namespace

QDateTime jetDateTime(double value) {
    const double days = std::trunc(value);
    qint64 seconds = std::llround(std::fabs(value - days) * 86400.0);
    QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(days));
    if (seconds >= 86400) { // rounding reached midnight of the following day
        date = date.addDays(1);
        seconds = 0;
    }
    return QDateTime(date, QTime(0, 0).addSecs(static_cast<int>(seconds)));
}

struct MdbReader::Mdb {
    MdbHandle* handle = nullptr;
    MdbTableDef* table = nullptr;
    std::vector<MdbField> fields;
    QStringDecoder decoder;

    ~Mdb() {
        if (table)
            mdb_free_tabledef(table);
        if (handle)
            mdb_close(handle);
    }
};

MdbReader::MdbReader(QString path) : path_(std::move(path)) {}

MdbReader::~MdbReader() = default;

Status MdbReader::failure(ErrorKind kind, const QString& reason) const {
    return Status::failure(
        kind, QStringLiteral("No se pudo leer el archivo %1: %2.").arg(quoted(path_), reason));
}

Status MdbReader::openFile() {
    if (mdb_)
        return Status();
    const QFileInfo info(path_);
    if (!info.exists())
        return failure(ErrorKind::CannotOpen, QStringLiteral("el archivo no existe"));
    if (!info.isFile() || !info.isReadable())
        return failure(ErrorKind::CannotOpen, QStringLiteral("no se puede abrir para leer"));
    // mdbtools takes any file whose first byte is zero for a Jet 3 database; the signature check
    // keeps other files away from it.
    if (!hasJetSignature(path_))
        return failure(ErrorKind::NotADatabase,
                       QStringLiteral("no es una base de datos de Access (Jet)"));

    auto mdb = std::make_unique<Mdb>();
    mdb->handle = mdb_open(QFile::encodeName(path_).constData(), MDB_NOFLAGS);
    if (!mdb->handle)
        return failure(ErrorKind::NotADatabase,
                       QStringLiteral("no es una base de datos de Access (Jet) que se pueda leer"));
    mdb_set_bind_size(mdb->handle, kValueBufferSize);
    // Text arrives in the character set mdbtools converts to (UTF-8 unless its environment says
    // otherwise).
    const char* charset = mdb_target_charset(mdb->handle);
    mdb->decoder = QStringDecoder(charset ? charset : "UTF-8");
    if (!mdb->decoder.isValid())
        mdb->decoder = QStringDecoder(QStringDecoder::Utf8);
    if (!mdb_read_catalog(mdb->handle, MDB_TABLE))
        return failure(ErrorKind::NotADatabase,
                       QStringLiteral("no se pudo leer su lista de tablas; puede estar dañado"));
    mdb_ = std::move(mdb);
    return Status();
}

void MdbReader::closeTable() {
    columns_.clear();
    if (mdb_ && mdb_->table) {
        mdb_free_tabledef(mdb_->table);
        mdb_->table = nullptr;
    }
}

Status MdbReader::openTable(const QString& name) {
    closeTable();
    if (Status s = openFile(); !s)
        return s;
    GPtrArray* catalog = mdb_->handle->catalog;
    MdbCatalogEntry* found = nullptr;
    for (guint i = 0; catalog && i < catalog->len && !found; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(catalog, i));
        if (entry->object_type == MDB_TABLE &&
            QString::fromUtf8(entry->object_name).compare(name, Qt::CaseInsensitive) == 0)
            found = entry;
    }
    if (!found)
        return failure(ErrorKind::NotFound, QStringLiteral("no tiene la tabla %1").arg(name));

    MdbTableDef* table = mdb_read_table(found);
    if (!table || !mdb_read_columns(table)) {
        if (table)
            mdb_free_tabledef(table);
        return failure(ErrorKind::Io,
                       QStringLiteral("no se pudo leer la definición de la tabla %1").arg(name));
    }
    mdb_->table = table;
    for (guint i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        columns_.push_back({QString::fromUtf8(col->name), columnType(col->col_type)});
    }
    mdb_->fields.assign(table->num_cols, MdbField{});
    mdb_rewind_table(table);
    return Status();
}

bool MdbReader::next(Row* row, Status* status) {
    *status = Status();
    row->clear();
    if (!mdb_ || !mdb_->table) {
        *status = failure(ErrorKind::Other, QStringLiteral("no hay una tabla abierta"));
        return false;
    }
    MdbTableDef* table = mdb_->table;
    MdbHandle* mdb = mdb_->handle;
    if (!mdb_fetch_row(table))
        return false;

    // mdb_fetch_row leaves the data page in pg_buf and the row just read at cur_row - 1. Its
    // bound values cannot tell Null from an empty text (both come back as ""), so the row is
    // taken apart again here to read each column's Null flag and raw value.
    int start = 0;
    size_t size = 0;
    if (table->cur_row == 0 ||
        mdb_find_row(mdb, static_cast<int>(table->cur_row) - 1, &start, &size) != 0 ||
        (start & kDeletedRow)) {
        *status = failure(ErrorKind::Io, QStringLiteral("una fila de la tabla está dañada"));
        return false;
    }
    MdbField* fields = mdb_->fields.data();
    const int count = mdb_crack_row(table, start & kOffsetMask, size, fields);
    if (count < 0 || static_cast<guint>(count) < table->num_cols) {
        *status = failure(ErrorKind::Io, QStringLiteral("una fila de la tabla está dañada"));
        return false;
    }

    row->assign(table->num_cols, QString());
    for (guint i = 0; i < table->num_cols; ++i) {
        const MdbField& field = fields[i];
        if (field.colnum < 0 || static_cast<guint>(field.colnum) >= table->num_cols)
            continue;
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, field.colnum));
        QString& value = (*row)[field.colnum];
        if (col->col_type == MDB_BOOL) {
            // A yes/no column keeps its value in the Null flag and is never Null itself.
            value = field.is_null ? QStringLiteral("0") : QStringLiteral("1");
            continue;
        }
        if (field.is_null)
            continue;
        if (col->col_type == MDB_DATETIME) {
            // mdbtools' own conversion turns dates before 1900 and after about 2700 into
            // "00/01/1900"; the raw value converts exactly.
            if (field.siz != 8) {
                *status =
                    failure(ErrorKind::Io, QStringLiteral("una fecha de la columna %1 está dañada")
                                               .arg(QString::fromUtf8(col->name)));
                return false;
            }
            value = jetDateTime(mdb_get_double(mdb->pg_buf, field.start)).toString(dateFormat_);
            continue;
        }
        char* text = nullptr;
        if (col->col_type == MDB_NUMERIC)
            text = mdb_numeric_to_string(mdb, field.start, col->col_scale, col->col_prec);
        else if (col->col_type == MDB_TEXT && field.siz == 0)
            text = g_strdup("");
        else
            text = mdb_col_to_string(mdb, mdb->pg_buf, field.start, col->col_type, field.siz);
        const size_t length = text ? std::strlen(text) : 0;
        if (length + 8 >= kValueBufferSize) {
            g_free(text);
            *status = failure(ErrorKind::Other,
                              QStringLiteral("un valor de la columna %1 es demasiado largo")
                                  .arg(QString::fromUtf8(col->name)));
            return false;
        }
        value = mdb_->decoder.decode(QByteArrayView(text, static_cast<qsizetype>(length)));
        if (value.isNull())
            value = QStringLiteral("");
        g_free(text);
    }
    return true;
}

} // namespace import

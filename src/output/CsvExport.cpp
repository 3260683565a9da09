#include "CsvExport.h"

#include "CardStore.h"
#include "Clock.h"
#include "Folders.h"
#include "Messages.h"
#include "TextCodec.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringBuilder>

#include <array>
#include <vector>

namespace output {

namespace {

// Bytes gathered before one write to the device: few large writes instead of one per line.
constexpr qsizetype kChunkBytes = 1 << 20;

QString quoted(const QString& path) {
    return u'"' % QDir::toNativeSeparators(path) % u'"';
}

// The Windows-1252 byte of every character of the Basic Multilingual Plane, taken once from the
// program's own codec so that the export agrees with it byte for byte, without a converter call
// for every value.
using ByteTable = std::array<char, 0x10000>;

const ByteTable& byteTable() {
    static const ByteTable table = [] {
        ByteTable t;
        t.fill('?');
        QString all;
        all.reserve(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (!QChar::isSurrogate(c))
                all.append(QChar(static_cast<char16_t>(c)));
        }
        const QByteArray bytes = store::toWindows1252(all);
        if (bytes.size() == all.size()) {
            for (qsizetype i = 0; i < all.size(); ++i)
                t[all.at(i).unicode()] = bytes.at(i);
        } else {
            // A codec that does not give one byte per character: ask it character by character.
            for (qsizetype i = 0; i < all.size(); ++i) {
                const QByteArray one = store::toWindows1252(QStringView(all).mid(i, 1));
                t[all.at(i).unicode()] = one.size() == 1 ? one.at(0) : '?';
            }
        }
        return t;
    }();
    return table;
}

bool isSpecial(char16_t u) {
    return u == u';' || u == u'"' || u == u'\r' || u == u'\n';
}

// Appends one value as Windows-1252 bytes, in double quotes when it holds a separator, a quote
// or a line break. A character outside Windows-1252 (or a surrogate pair) becomes one '?'.
void appendValue(QByteArray& out, QStringView value, const ByteTable& table) {
    const qsizetype n = value.size();
    const qsizetype start = out.size();
    out.resize(start + 2 * n + 2);
    char* p = out.data() + start;
    const char16_t* s = value.utf16();
    bool quote = false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i];
        if (u < 0x80) {
            if (isSpecial(u)) {
                quote = true;
                break;
            }
            *p++ = static_cast<char>(u);
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
            *p++ = '?';
            ++i;
        } else {
            *p++ = table[u];
        }
    }
    if (quote) {
        p = out.data() + start;
        *p++ = '"';
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = s[i];
            if (u < 0x80) {
                if (u == u'"')
                    *p++ = '"';
                *p++ = static_cast<char>(u);
            } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
                *p++ = '?';
                ++i;
            } else {
                *p++ = table[u];
            }
        }
        *p++ = '"';
    }
    out.resize(p - out.data());
}

// The exported fields of the kind, in column order.
std::vector<store::Field> exportedFields(ExportKind kind) {
    std::vector<store::Field> fields;
    for (const store::CardField& f : store::cardFields()) {
        if (f.exports & exportFlag(kind))
            fields.push_back(f.field);
    }
    return fields;
}

QString kindText(ExportKind kind) {
    return kind == ExportKind::Complete ? QStringLiteral("COMPLETA")
                                        : QStringLiteral("SIN PROPIETARIO");
}

} // namespace

store::ExportFlag exportFlag(ExportKind kind) {
    return kind == ExportKind::Complete ? store::CompleteExport : store::ShortExport;
}

QString exportTimeStamp(const QDateTime& at) {
    const QDate d = at.date();
    const QTime t = at.time();
    return QStringLiteral("%1.%2.%3 %4.%5.%6")
        .arg(d.day())
        .arg(d.month())
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(t.hour())
        .arg(t.minute())
        .arg(t.second());
}

QString exportFileName(ExportKind kind, const QDateTime& at) {
    const QString prefix = kind == ExportKind::Complete
                               ? QStringLiteral("Exporta Datos Completos_")
                               : QStringLiteral("Exporta Datos Sin Propietario_");
    return prefix % exportTimeStamp(at) % QStringLiteral(".CSV");
}

QByteArray csvHeader(ExportKind kind) {
    const ByteTable& table = byteTable();
    QByteArray out;
    bool first = true;
    for (store::Field f : exportedFields(kind)) {
        if (!first)
            out += ';';
        first = false;
        appendValue(out, store::cardField(f).csvHeader, table);
    }
    out += "\r\n";
    return out;
}

QByteArray csvLine(const store::Card& card, ExportKind kind) {
    const ByteTable& table = byteTable();
    QByteArray out;
    bool first = true;
    for (store::Field f : exportedFields(kind)) {
        if (!first)
            out += ';';
        first = false;
        if (f == store::Sexo)
            appendValue(out, store::sexWord(card[f]), table);
        else
            appendValue(out, card[f], table);
    }
    out += "\r\n";
    return out;
}

bool writeCsv(const store::CardStore& store, ExportKind kind, QIODevice* device, QString* error) {
    const ByteTable& table = byteTable();
    const std::vector<store::Field> fields = exportedFields(kind);

    QStringList columns;
    for (store::Field f : fields)
        columns.append(store::cardField(f).name.toString());
    QSqlQuery q(store.database());
    // Forward-only: otherwise the driver keeps every row read so far.
    q.setForwardOnly(true);
    const auto readFailure = [&] {
        const QSqlError e = q.lastError();
        *error = QStringLiteral("No se pudieron leer las tarjetas del registro %1: %2")
                     .arg(quoted(store.path()),
                          e.databaseText().isEmpty() ? e.text() : e.databaseText());
        return false;
    };
    if (!q.exec(QStringLiteral("SELECT ") % columns.join(QStringLiteral(", ")) %
                QStringLiteral(" FROM Clientes ORDER BY id")))
        return readFailure();

    QByteArray chunk = csvHeader(kind);
    chunk.reserve(kChunkBytes + 64 * 1024);
    const auto flush = [&] {
        const qint64 written = device->write(chunk);
        if (written < 0) {
            *error =
                QStringLiteral("No se pudo escribir el archivo: %1").arg(device->errorString());
            return false;
        }
        if (written != chunk.size()) {
            // A short write sets no error text: the device simply took no more.
            *error = QStringLiteral("No se pudo escribir el archivo: solo se escribieron %1 de %2 "
                                    "bytes; el disco puede estar lleno.")
                         .arg(written)
                         .arg(chunk.size());
            return false;
        }
        chunk.resize(0);
        return true;
    };

    const int count = static_cast<int>(fields.size());
    while (q.next()) {
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                chunk += ';';
            // A Null sexo still gives its sex word.
            if (fields[static_cast<size_t>(i)] == store::Sexo)
                appendValue(chunk, store::sexWord(q.value(i).toString()), table);
            else if (!q.isNull(i))
                appendValue(chunk, q.value(i).toString(), table);
        }
        chunk += "\r\n";
        if (chunk.size() >= kChunkBytes && !flush())
            return false;
    }
    if (q.lastError().isValid())
        return readFailure();
    return flush();
}

QString exportCommand(store::CardStore& store, const store::Folders& folders,
                      const store::Clock& clock, store::MessageLayer& messages) {
    // The stamp is the moment of the click, before any question is answered.
    const QDateTime at = clock.now();

    store::Status status;
    const qint64 count = store.recordCount(&status);
    if (!status) {
        messages.notice(status.message());
        return {};
    }
    if (count == 0) {
        messages.notice(QStringLiteral("Sin datos para exportar"));
        return {};
    }

    ExportKind kind;
    switch (messages.askYesNoCancel(QStringLiteral("Exporta datos completos ?"),
                                    QStringLiteral("Exporta a Excel"),
                                    store::MessageLayer::Answer::Yes)) {
    case store::MessageLayer::Answer::Yes:
        kind = ExportKind::Complete;
        break;
    case store::MessageLayer::Answer::No:
        kind = ExportKind::WithoutOwner;
        break;
    default:
        return {};
    }

    const QString path = folders.exportFile(exportFileName(kind, at));
    const auto failed = [&](const QString& reason) {
        messages.notice(QStringLiteral("No se pudieron exportar los datos al archivo %1.\n%2")
                            .arg(quoted(path), reason));
        return QString();
    };

    const QString dir = QFileInfo(path).absolutePath();
    if (!QFileInfo(dir).isDir())
        return failed(QStringLiteral("La carpeta %1 no existe.").arg(quoted(dir)));

    // Written beside its final name and renamed into place only when complete: a failed export
    // leaves neither a half-written file nor a damaged earlier one of the same name.
    QSaveFile file(path);
    // Unbuffered: the writer already writes in large chunks, and QSaveFile::commit() does not
    // notice a failure that only shows when its own buffer is flushed, so it would rename a
    // truncated file into place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(QStringLiteral("No se puede crear un archivo en la carpeta %1: %2")
                          .arg(quoted(dir), file.errorString()));
    QString error;
    if (!writeCsv(store, kind, &file, &error)) {
        file.cancelWriting();
        return failed(error);
    }
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failed(QStringLiteral("No se pudo escribir el archivo: %1").arg(reason));
    }
    if (!file.commit())
        return failed(QStringLiteral("No se pudo terminar de escribir el archivo: %1")
                          .arg(file.errorString()));

    messages.notice(QStringLiteral("EXPORTACION DE DATOS ") % kindText(kind) %
                    QStringLiteral("\r\n\r\nArchivo generado en:\r\n") %
                    QDir::toNativeSeparators(path));
    return path;
}

} // namespace output

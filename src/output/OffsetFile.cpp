#include "OffsetFile.h"

#include "TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace output {

namespace {

QString quoted(const QString& path) {
    return u'"' + QDir::toNativeSeparators(path) + u'"';
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

store::Status failure(const QString& text) {
    return store::Status::failure(store::ErrorKind::Io,
                                  text + QStringLiteral(" La tarjeta no se imprimió."));
}

} // namespace

QStringList offsetFileItems(const QString& line) {
    QStringList items;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i <= n) {
        while (i < n && isBlank(line.at(i)))
            ++i;
        QString item;
        if (i < n && line.at(i) == u'"') {
            const qsizetype close = line.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? n : close;
            item = line.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            const qsizetype comma = line.indexOf(u',', i);
            i = comma < 0 ? n : comma;
        } else {
            const qsizetype comma = line.indexOf(u',', i);
            const qsizetype end = comma < 0 ? n : comma;
            item = line.mid(i, end - i).trimmed();
            i = end;
        }
        items.append(item);
        if (i >= n)
            break;
        ++i; // past the comma
    }
    return items;
}

double leadingNumber(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text.at(i)))
        ++i;
    const qsizetype start = i;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && text.at(i).isDigit() && text.at(i).unicode() < 128) {
        ++i;
        ++digits;
    }
    if (i < n && text.at(i) == u'.') {
        ++i;
        while (i < n && text.at(i).isDigit() && text.at(i).unicode() < 128) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    // An exponent counts only when digits follow it.
    if (i < n && (text.at(i) == u'e' || text.at(i) == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text.at(j) == u'+' || text.at(j) == u'-'))
            ++j;
        if (j < n && text.at(j).isDigit() && text.at(j).unicode() < 128) {
            while (j < n && text.at(j).isDigit() && text.at(j).unicode() < 128)
                ++j;
            i = j;
        }
    }
    bool ok = false;
    const double value = text.mid(start, i - start).toString().toDouble(&ok);
    return ok ? value : 0;
}

store::Status readOffsetFile(const QString& path, PrintOffsets* offsets) {
    const QFileInfo info(path);
    if (!info.exists()) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(kDefaultOffsetFileContent) != kDefaultOffsetFileContent.size() ||
            !file.commit()) {
            return failure(QStringLiteral("No se pudo crear el archivo de posición de impresión "
                                          "%1: %2.")
                               .arg(quoted(path), file.errorString()));
        }
        *offsets = PrintOffsets{};
        return {};
    }
    if (info.isDir())
        return failure(QStringLiteral("No se pudo leer el archivo de posición de impresión %1: "
                                      "es una carpeta.")
                           .arg(quoted(path)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("No se pudo leer el archivo de posición de impresión %1: "
                                      "%2.")
                           .arg(quoted(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure(QStringLiteral("No se pudo leer el archivo de posición de impresión %1: "
                                      "%2.")
                           .arg(quoted(path), file.errorString()));
    if (bytes.trimmed().isEmpty())
        return failure(QStringLiteral("El archivo de posición de impresión %1 está vacío; escriba "
                                      "en él la posición vertical en twips, por ejemplo \"2800\".")
                           .arg(quoted(path)));
    const QString text = store::fromWindows1252(bytes);
    qsizetype lineEnd = 0;
    while (lineEnd < text.size() && text.at(lineEnd) != u'\r' && text.at(lineEnd) != u'\n')
        ++lineEnd;
    const QStringList items = offsetFileItems(text.left(lineEnd));
    offsets->top = leadingNumber(items.value(0));
    offsets->left = items.size() > 1 ? leadingNumber(items.at(1)) : 0;
    return {};
}

} // namespace output

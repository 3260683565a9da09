#include "Intake.h"

#include "WebCard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringBuilder>
#include <QStringList>

namespace intake {

namespace {

using store::Field;

enum class Outcome { Added, Updated, Failed };

// Seeks the code on the index, then edits the card found or adds a new one, writing every field
// the way a web card is stored.
Outcome storeRecord(store::TableCursor& cursor, const store::Card& web, QString* failure) {
    const QString& code = web[store::Codigo];
    cursor.setIndex(store::kPrimaryKey);
    store::Status status = cursor.seek(code);
    if (!status) {
        *failure = status.message();
        return Outcome::Failed;
    }
    const bool existing = !cursor.noMatch();
    cursor.setLockEdits(false);
    if (existing) {
        status = cursor.edit();
        if (!status) {
            *failure = status.message();
            return Outcome::Failed;
        }
    } else {
        cursor.addNew();
    }
    for (const store::CardField& f : store::cardFields()) {
        if (carriedByRecord(f.field)) {
            cursor.setField(f.field, web[f.field]);
        } else if (f.field == store::DireccionCompleta) {
            cursor.setField(f.field,
                            store::composeAddress(web[store::Direccion], web[store::NumeroDepto],
                                                  web[store::BlockDepto]));
        } else if (!existing) {
            // What only the practice knows starts empty on a new card and is kept on an update.
            cursor.setField(f.field, QStringLiteral(""));
        }
    }
    status = cursor.update();
    if (!status) {
        cursor.cancelUpdate();
        *failure = status.message();
        return Outcome::Failed;
    }
    status = cursor.setBookmark(cursor.lastModified());
    Q_UNUSED(status); // the card is stored; the listing that follows positions itself anyway
    return existing ? Outcome::Updated : Outcome::Added;
}

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// A name beside the web card file that no file has yet.
QString rejectedName(const store::Folders& folders, const store::Clock& clock) {
    const QString stem = store::kWebCardFileName % u' ' %
                         clock.now().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    QString path = folders.dataFile(stem + kRejectedSuffix);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folders.dataFile(stem % QStringLiteral(" (") % QString::number(n) % u')' %
                                kRejectedSuffix);
    return path;
}

QString recordName(int index, int count) {
    return count == 1 ? QStringLiteral("La ficha") : QStringLiteral("La ficha %1").arg(index + 1);
}

} // namespace

QString announcement(const store::Card& card, bool updated) {
    return (updated ? QStringLiteral("Cliente Existente Actualizado")
                    : QStringLiteral("Cliente Nuevo Agregado")) %
           QStringLiteral("\r\n    MicroChip:\t") % store::trimSpaces(card[store::Codigo]) %
           QStringLiteral("\r\n    Lugar: \t\t") % store::trimSpaces(card[store::Lugar]) %
           QStringLiteral("\r\n    Nombre: \t") % store::trimSpaces(card[store::NombreAnimal]);
}

IntakeResult takeInWebCards(store::CardStore& cards, const store::Folders& folders,
                            store::MessageLayer& messages, const store::Clock& clock) {
    IntakeResult result;
    const QString path = folders.dataFile(store::kWebCardFileName);
    if (!QFileInfo(path).isFile())
        return result;
    result.fileFound = true;

    QStringList problems;
    WebFile web;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            problems.append(
                QStringLiteral("No se pudo abrir el archivo: %1.").arg(file.errorString()));
        } else {
            web = readWebFile(file);
        }
    } // closed here, before the file is deleted or renamed

    const int count = static_cast<int>(web.records.size());
    if (problems.isEmpty() && count == 0 && web.readError.isEmpty()) {
        problems.append(web.trailingBytes == 0
                            ? QStringLiteral("El archivo está vacío.")
                            : QStringLiteral("El archivo tiene %1 bytes y una ficha completa tiene "
                                             "%2: está incompleto.")
                                  .arg(web.trailingBytes)
                                  .arg(kRecordSize));
    }

    auto cursor = cards.openTable();
    for (int i = 0; i < count; ++i) {
        const WebRecord& record = web.records[static_cast<size_t>(i)];
        if (record.error == RecordError::EmptyCode) {
            problems.append(recordName(i, count) + QStringLiteral(" no trae código de microchip."));
            continue;
        }
        QString failure;
        const Outcome outcome = storeRecord(*cursor, record.card, &failure);
        if (outcome == Outcome::Failed) {
            problems.append(QStringLiteral("%1 (microchip %2) no se pudo guardar: %3")
                                .arg(recordName(i, count), record.card[store::Codigo], failure));
            continue;
        }
        const bool updated = outcome == Outcome::Updated;
        (updated ? result.updated : result.added) += 1;
        messages.inform(announcement(record.card, updated), kIntakeTitle,
                        store::MessageLayer::Icon::Information);
    }

    if (!web.readError.isEmpty()) {
        problems.append(
            QStringLiteral("No se pudo leer el archivo hasta el final: %1.").arg(web.readError));
    } else if (count > 0 && web.trailingBytes > 0) {
        problems.append(QStringLiteral("Después de la ficha %1 quedan %2 bytes que no forman una "
                                       "ficha completa de %3 bytes.")
                            .arg(count)
                            .arg(web.trailingBytes)
                            .arg(kRecordSize));
    }

    if (problems.isEmpty()) {
        QFile file(path);
        if (file.remove()) {
            result.fileRemoved = true;
        } else {
            messages.inform(
                QStringLiteral("Las fichas recibidas desde la Web ya se guardaron, pero no se pudo "
                               "eliminar el archivo %1: %2.\nSi sigue en la carpeta, se volverá a "
                               "recibir en el próximo inicio.")
                    .arg(nativePath(path), file.errorString()),
                kIntakeTitle, store::MessageLayer::Icon::Warning);
        }
        return result;
    }

    // Nothing received is thrown away: the file is set aside under a name that is not read again.
    const QString target = rejectedName(folders, clock);
    QFile file(path);
    QString where;
    if (file.rename(target)) {
        result.keptAs = target;
        where = QStringLiteral("El archivo no se eliminó: quedó guardado como\n%1")
                    .arg(nativePath(target));
    } else {
        result.keptAs = path;
        where = QStringLiteral("El archivo no se pudo renombrar (%1) y sigue como\n%2\nSe volverá "
                               "a leer en el próximo inicio.")
                    .arg(file.errorString(), nativePath(path));
    }
    messages.inform(QStringLiteral("No se pudo recibir completo el archivo %1 desde la Web:\n")
                            .arg(store::kWebCardFileName) %
                        problems.join(u'\n') % QStringLiteral("\n\n") % where,
                    kIntakeTitle, store::MessageLayer::Icon::Warning);
    return result;
}

} // namespace intake

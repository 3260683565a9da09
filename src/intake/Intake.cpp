#include "Intake.h"

#include "History.h"

#include "WebCard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringBuilder>
#include <QStringList>

#include <algorithm>

namespace intake {

namespace {

// What only the practice knows: empty on a new card, kept when a stored card is overwritten.
constexpr store::Field kPracticeFields[] = {store::FichaClinica, store::Color, store::Tamano,
                                            store::GrupoFam, store::Cel};
constexpr int kNamedInAnnouncement = 10;

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

// Why the file is no web card file, naming the record that failed and where it starts.
QString fileProblem(const WebFile& web, qint64 fileSize) {
    if (web.tooLarge)
        return QStringLiteral("El archivo tiene %1 bytes; un archivo de fichas web tiene a lo más "
                              "%2 MB y este no se leyó.")
            .arg(fileSize)
            .arg(kMaxFileBytes / (1024 * 1024));
    const auto where = [](qint64 index) {
        return QStringLiteral("La ficha %1 (desde el byte %2)")
            .arg(index + 1)
            .arg(index * kRecordSize);
    };
    if (const int failed = web.failed(); failed >= 0)
        return where(failed) % u' ' %
               refusalReason(web.failedRecord, web.records[static_cast<size_t>(failed)],
                             failed * kRecordSize) %
               u'.';
    if (web.incompleteBytes > 0)
        return where(static_cast<qint64>(web.records.size())) %
               QStringLiteral(" está incompleta: tiene %1 bytes y una ficha completa tiene %2.")
                   .arg(web.incompleteBytes)
                   .arg(kRecordSize);
    return fileSize == 0 ? QStringLiteral("El archivo está vacío.")
                         : QStringLiteral("El archivo no trae ninguna ficha: solo tiene espacios, "
                                          "saltos de línea o bytes NUL.");
}

// The card as a web card is stored: the record's fields, the practice's fields empty (they keep
// their values on a stored card) and the address composed from the record's parts.
store::Card cardToStore(const store::Card& web) {
    store::Card card = web;
    for (store::Field f : kPracticeFields)
        card[f] = QStringLiteral("");
    card[store::DireccionCompleta] = store::composeAddress(
        web[store::Direccion], web[store::NumeroDepto], web[store::BlockDepto]);
    return card;
}

} // namespace

QString announcement(const store::Card& card, bool updated) {
    return (updated ? QStringLiteral("Cliente Existente Actualizado")
                    : QStringLiteral("Cliente Nuevo Agregado")) %
           QStringLiteral("\r\n    MicroChip:\t") % store::trimSpaces(card[store::Codigo]) %
           QStringLiteral("\r\n    Lugar: \t\t") % store::trimSpaces(card[store::Lugar]) %
           QStringLiteral("\r\n    Nombre: \t") % store::trimSpaces(card[store::NombreAnimal]);
}

QString announcement(const std::vector<store::Card>& cards, const std::vector<bool>& updated) {
    if (cards.size() == 1)
        return announcement(cards.front(), updated.front());
    const auto count = static_cast<int>(cards.size());
    const auto replaced = static_cast<int>(std::count(updated.begin(), updated.end(), true));
    QString text =
        QStringLiteral("Se recibieron %1 fichas desde la Web").arg(count) %
        QStringLiteral("\r\n    Clientes nuevos agregados:\t") % QString::number(count - replaced) %
        QStringLiteral("\r\n    Clientes existentes actualizados:\t") % QString::number(replaced);
    for (int i = 0; i < std::min(count, kNamedInAnnouncement); ++i) {
        const store::Card& card = cards[static_cast<size_t>(i)];
        text += QStringLiteral("\r\n    ") % store::trimSpaces(card[store::Codigo]) % u'\t' %
                store::trimSpaces(card[store::NombreAnimal]);
    }
    if (count > kNamedInAnnouncement)
        text += QStringLiteral("\r\n    … y %1 más").arg(count - kNamedInAnnouncement);
    return text;
}

namespace {

// Every web card file of the data folder: "CLIENTE.TLV" in any case, in name order (the exact
// spelling first). A folder copied from Windows may hold two that differ only in case.
QStringList webCardFiles(const store::Folders& folders) {
    const QDir dir(folders.dataDir);
    QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeIf([](const QString& name) {
        return name.compare(store::kWebCardFileName, Qt::CaseInsensitive) != 0;
    });
    std::sort(names.begin(), names.end());
    QStringList paths;
    for (const QString& name : names)
        paths.append(dir.filePath(name));
    return paths;
}

IntakeResult takeInWebFile(store::CardStore& cards, const QString& path,
                           const store::Folders& folders, store::MessageLayer& messages,
                           const store::Clock& clock) {
    IntakeResult result;
    const QFileInfo info(path);
    if (!info.isFile())
        return result;
    result.fileFound = true;

    // The file is left for the next start when it cannot be read now, or the store cannot take
    // its cards now: neither says anything about what the file holds.
    const auto keep = [&](const QString& why) {
        result.keptForNextStart = true;
        messages.inform(why % QStringLiteral("\n\nEl archivo %1 quedó en la carpeta sin cambios y "
                                             "se recibirá en el próximo inicio del programa.")
                                  .arg(nativePath(path)),
                        kIntakeTitle, store::MessageLayer::Icon::Warning);
    };

    WebFile web;
    if (info.size() > kMaxFileBytes) {
        web.tooLarge = true; // refused by its size alone: a large file is not read into memory
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            keep(QStringLiteral("No se pudo abrir el archivo recibido desde la Web: %1.")
                     .arg(file.errorString()));
            return result;
        }
        web = readWebFile(file);
        if (!web.readError.isEmpty()) {
            keep(QStringLiteral("No se pudo leer el archivo recibido desde la Web: %1.")
                     .arg(web.readError));
            return result;
        }
    } // closed here, before the file is deleted or renamed

    if (web.accepted()) {
        std::vector<store::Card> received;
        received.reserve(web.records.size());
        for (const WebRecord& record : web.records)
            received.push_back(cardToStore(record.card));
        std::vector<bool> updated;
        const store::Status status =
            cards.storeCardsByCode(received, kPracticeFields, &updated, store::WriteReason::Web);
        if (!status) {
            keep(QStringLiteral("No se pudieron guardar las fichas recibidas desde la Web; no se "
                                "guardó ninguna.\n") %
                 status.message());
            return result;
        }
        result.updated = static_cast<int>(std::count(updated.begin(), updated.end(), true));
        result.added = static_cast<int>(updated.size()) - result.updated;
        messages.inform(announcement(received, updated), kIntakeTitle,
                        store::MessageLayer::Icon::Information);

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
#ifndef Q_OS_WIN
        // It holds an owner's personal data, whatever mode the web side gave the file.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
#endif
        result.keptAs = target;
        where = QStringLiteral("El archivo no se eliminó: quedó guardado como\n%1")
                    .arg(nativePath(target));
    } else {
        result.keptAs = path;
        where = QStringLiteral("El archivo no se pudo renombrar (%1) y sigue como\n%2\nSe volverá "
                               "a leer en el próximo inicio.")
                    .arg(file.errorString(), nativePath(path));
    }
    messages.inform(QStringLiteral("No se recibió ninguna ficha del archivo %1 desde la Web:\n")
                            .arg(info.fileName()) %
                        fileProblem(web, info.size()) % QStringLiteral("\n\n") % where,
                    kIntakeTitle, store::MessageLayer::Icon::Warning);
    return result;
}

} // namespace

IntakeResult takeInWebCards(store::CardStore& cards, const store::Folders& folders,
                            store::MessageLayer& messages, const store::Clock& clock) {
    IntakeResult total;
    for (const QString& path : webCardFiles(folders)) {
        const IntakeResult one = takeInWebFile(cards, path, folders, messages, clock);
        total.fileFound = total.fileFound || one.fileFound;
        total.added += one.added;
        total.updated += one.updated;
        total.fileRemoved = total.fileRemoved || one.fileRemoved;
        total.keptForNextStart = total.keptForNextStart || one.keptForNextStart;
        if (!one.keptAs.isEmpty())
            total.keptAs = one.keptAs;
    }
    return total;
}

} // namespace intake

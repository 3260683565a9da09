#pragma once

// The program's save paths without a window, for the reliability harness and the fault tests:
// the editor's commands over the fake form, the web intake, the MDB import and the CSV export,
// each run the way the window runs it, with generated cards.

#include "CardEditor.h"
#include "CsvExport.h"
#include "FakeEntryForm.h"
#include "Folders.h"
#include "Import.h"
#include "Intake.h"
#include "PreparedRows.h"
#include "ScriptedMessages.h"
#include "WebCard.h"
#include "WebCardBytes.h"

#include <QDir>
#include <QJsonArray>
#include <QSaveFile>
#include <QSqlQuery>
#include <QStringEncoder>
#include <QTextStream>

#include <map>
#include <random>

namespace reliability {

using store::Card;
using store::Field;
using Cards = std::map<QString, Card>; // by code

// Stored Null and stored empty text are different values: both must come back as saved.
inline bool sameCard(const Card& a, const Card& b) {
    for (int i = 0; i < store::kFieldCount; ++i) {
        const Field f = static_cast<Field>(i);
        if (a.isNull(f) != b.isNull(f) || a[f] != b[f])
            return false;
    }
    return true;
}

inline QJsonValue toJson(const Card* card) {
    if (!card)
        return QJsonValue::Null;
    QJsonArray values;
    for (const QString& v : *card)
        values.append(v.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(v));
    return values;
}

inline Card cardFromJson(const QJsonArray& values) {
    Card card;
    for (int i = 0; i < store::kFieldCount; ++i)
        if (!values.at(i).isNull())
            card[static_cast<Field>(i)] = values.at(i).toString(QStringLiteral(""));
    return card;
}

inline store::Folders foldersIn(const QString& dir, const QString& serverUri = {}) {
    store::Folders folders{dir + QStringLiteral("/app"), dir + QStringLiteral("/data"),
                           dir + QStringLiteral("/export")};
    folders.serverUri = serverUri;
    return folders;
}

// Every card of the store by code; false with `error` set when the store cannot be read.
inline bool readAll(const store::CardStore& cards, Cards* out, QString* error) {
    out->clear();
    const store::Status s = cards.forEachCard(store::Order::Stored, [&](auto, const Card& c) {
        out->emplace(c[store::Codigo], c);
        return true;
    });
    if (!s)
        *error = s.message();
    return s.ok();
}

// "ok" when the store is sound: SQLite's integrity_check on a file; on a server, the unique index
// on the code valid and every stored code in it once.
inline QString integrity(const store::CardStore& cards) {
    QSqlQuery q(cards.database());
    if (!cards.registry().isServer()) {
        if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next())
            return QStringLiteral("integrity_check could not run");
        return q.value(0).toString();
    }
    if (!q.exec(QStringLiteral(
            "SELECT (SELECT bool_and(indisvalid) FROM pg_index WHERE indexrelid = "
            "to_regclass('\"PrimaryKey\"')), (SELECT count(*) - count(DISTINCT \"Codigo\") FROM "
            "\"Clientes\")")) ||
        !q.next())
        return QStringLiteral("the server check could not run");
    if (!q.value(0).toBool())
        return QStringLiteral("the index PrimaryKey is missing or not valid");
    if (q.value(1).toLongLong() != 0)
        return QStringLiteral("%1 codes are stored more than once").arg(q.value(1).toLongLong());
    return QStringLiteral("ok");
}

// Random card values: Spanish letters, quotes and semicolons (the export quotes them), and every
// value distinct from the last one written, so that a lost write shows.
class Generator {
public:
    explicit Generator(quint64 seed) : rng(seed) {}
    int below(int n) { return int(rng() % quint64(n)); }
    QString text(int maxLength) {
        static const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzñáéíóúÑ;\"' 0123");
        QString s;
        for (int i = 1 + below(std::max(1, maxLength)); i > 0; --i)
            s += letters[below(int(letters.size()))];
        return s.trimmed().isEmpty() ? QStringLiteral("x") : s.trimmed();
    }
    // A card as typed into the window, and as the save stores it.
    Card typed(const QString& code) {
        Card c;
        for (const store::CardField& f : store::cardFields()) {
            switch (f.kind) {
            case store::ControlKind::Date:
                c[f.field] = QDate(1990 + below(36), 1 + below(12), 1 + below(28))
                                 .toString(QStringLiteral("dd/MM/yyyy"));
                break;
            case store::ControlKind::Sex:
                c[f.field] = below(2) ? QStringLiteral("M") : QStringLiteral("H");
                break;
            default:
                c[f.field] = text(f.entryLimit > 0 ? std::min(f.entryLimit, 24) : 24);
            }
        }
        c[store::Codigo] = code;
        c[store::DireccionCompleta] =
            store::composeAddress(c[store::Direccion], c[store::NumeroDepto], c[store::BlockDepto]);
        return c;
    }
    std::mt19937_64 rng;
};

// The window's commands over one store, reduced to what they save.
class Program {
public:
    // `serverUri`: the registry is that server database instead of DAT.db in `dir`, for the
    // commands that open it themselves (intake, import) too.
    Program(const QString& dir, const QDateTime& clockStart, int busyTimeoutMs = 3000,
            const QString& serverUri = {})
        : folders(foldersIn(dir, serverUri)), clock(clockStart) {
        QDir().mkpath(folders.appDir);
        QDir().mkpath(folders.dataDir);
        QDir().mkpath(folders.exportDir);
        cards = store::CardStore::open(
            serverUri.isEmpty() ? store::Registry::file(folders.appFile(store::kDatabaseFileName))
                                : store::Registry::server(serverUri),
            &openStatus, store::OpenOptions{busyTimeoutMs});
        if (cards) {
            form = std::make_unique<FakeEntryForm>(*cards, clock);
            editor = std::make_unique<editing::CardEditor>(*form, *cards, messages, clock);
        }
    }

    // The outcome of one command: empty when it saved, else the first message it showed.
    using Outcome = QString;

    Outcome add(const Card& card) {
        begin();
        editor->clickAgregar();
        type(card, true);
        editor->clickAgregar();
        return saved(QStringLiteral("cmdAgregar"), QStringLiteral("&Agregar"));
    }
    Outcome copy(const Card& from, const Card& card) {
        show(from);
        editor->clickCopiar();
        type(card, true);
        editor->clickCopiar();
        return saved(QStringLiteral("cmdCopiar"), QStringLiteral("&Copiar"));
    }
    Outcome edit(const Card& shown, const Card& card) {
        show(shown);
        editor->clickEditar();
        type(card, false);
        editor->clickEditar();
        return saved(QStringLiteral("cmdEditar"), QStringLiteral("&Editar"));
    }
    Outcome remove(const Card& shown) {
        show(shown);
        messages.queue(store::MessageLayer::Answer::Yes);
        editor->clickEliminar();
        // The window removes the card's row once the card is deleted; over a registry that
        // another program emptied meanwhile it only asks, and says nothing more.
        return form->grid.empty() || messages.boxes.size() == 1 ? Outcome()
                                                                : messages.boxes.back().text;
    }
    // The web file arrives complete, then the start-up step takes it in.
    static QByteArray webFile(const std::vector<Card>& web) {
        QByteArray bytes;
        QStringEncoder cp1252("windows-1252");
        for (const Card& c : web) {
            WebCardBytes record;
            for (const store::CardField& f : store::cardFields())
                if (intake::carriedByRecord(f.field))
                    record.set(f.field,
                               QByteArray(cp1252(f.field == store::Sexo ? store::sexWord(c[f.field])
                                                                        : c[f.field]))
                                   .left(f.webWidth));
            bytes += record.bytes();
        }
        return bytes;
    }
    // What the intake stores for these records over the cards already stored.
    static std::vector<Card> webEffects(const QByteArray& file, const Cards& before) {
        std::vector<Card> out;
        for (const intake::WebRecord& r : intake::readWebFile(file).records) {
            const auto old = before.find(r.card[store::Codigo]);
            Card c;
            for (const store::CardField& f : store::cardFields())
                c[f.field] = intake::carriedByRecord(f.field) ? r.card[f.field]
                             : old != before.end()            ? old->second[f.field]
                                                              : QStringLiteral("");
            c[store::DireccionCompleta] = store::composeAddress(
                r.card[store::Direccion], r.card[store::NumeroDepto], r.card[store::BlockDepto]);
            out.push_back(c);
        }
        return out;
    }
    bool dropWebFile(const QByteArray& bytes) {
        QSaveFile f(folders.dataFile(store::kWebCardFileName));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
    }
    Outcome intake(int records) {
        begin();
        const intake::IntakeResult r = intake::takeInWebCards(*cards, folders, messages, clock);
        if (r.fileRemoved && r.added + r.updated == records)
            return {};
        return messages.boxes.empty() ? QStringLiteral("intake did not take the file in")
                                      : messages.boxes.back().text;
    }
    Outcome import(const std::vector<Card>& rows, QString* printed = nullptr) {
        std::vector<import::Column> columns;
        for (const store::CardField& f : store::cardFields())
            columns.push_back({f.name.toString(), import::ColumnType::Text});
        std::vector<std::vector<QVariant>> values;
        for (const Card& c : rows)
            values.emplace_back(c.begin(), c.end());
        PreparedRows source(QStringLiteral("Clientes"), columns, values);
        QString text;
        QTextStream out(&text);
        const int rc = import::runImportCommand(folders, source, out, clock.now());
        out.flush();
        if (printed)
            *printed = text;
        return rc == 0 ? Outcome() : text;
    }
    Outcome exportCsv(output::ExportKind kind, QString* path) {
        begin();
        messages.queue(kind == output::ExportKind::Complete ? store::MessageLayer::Answer::Yes
                                                            : store::MessageLayer::Answer::No);
        *path = output::exportCommand(*cards, folders, clock, messages);
        return path->isEmpty() ? messages.boxes.back().text : Outcome();
    }

    store::Folders folders;
    store::FixedClock clock;
    store::Status openStatus;
    std::unique_ptr<store::CardStore> cards;
    ScriptedMessages messages;
    std::unique_ptr<FakeEntryForm> form;
    std::unique_ptr<editing::CardEditor> editor;

private:
    // Each command starts from browse mode a second after the last, as a user would, with a
    // failed save of the last command cancelled.
    void begin() {
        clock.set(clock.now().addSecs(1));
        messages.clear();
        form->setEnEdicion(false);
        form->modoConsulta();
    }
    // The card on screen as the window last loaded it, even if another program changed it since.
    void show(const Card& card) {
        begin();
        form->grid = {card};
        form->current = 1;
        // The window acts on the stored card its fields show, which it found by the code when it
        // loaded them; the values shown may be older than the store's.
        store::RowId id = store::kNoRow;
        form->shown = cards->findCode(card[store::Codigo], &id) ? id : store::kNoRow;
        form->loaded_ = {form->shown, card};
        for (const store::CardField& f : store::cardFields())
            if (f.kind != store::ControlKind::None)
                form->setFieldText(f.field, card[f.field]);
    }
    void type(const Card& card, bool withCode) {
        for (const store::CardField& f : store::cardFields())
            if (f.kind != store::ControlKind::None && (withCode || f.field != store::Codigo))
                form->type(f.field, card[f.field]);
    }
    // A save is done when the window is back in browse mode; a message after that (the card
    // could not be shown again, because another program deleted it meanwhile) comes after it.
    Outcome saved(const QString& button, const QString& browseCaption) {
        if (form->buttonCaption(button) == browseCaption)
            return {};
        return messages.boxes.empty() ? QStringLiteral("the command stayed in entry mode")
                                      : messages.boxes.back().text;
    }
};

} // namespace reliability

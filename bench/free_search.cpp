// free_search REGISTRY [SEARCHES]: times the "Buscar por" bar of the real window over a DAT.db or
// a PostgreSQL registry (a libpq URI), as bench_tarjetas does for its generated files: the text
// put in the box, then Enter, until the grid lists the cards found, the first is loaded and the
// window has painted. Start-up is timed too: it includes building the index of a registry that
// lacks it. Prints one JSON object.
#include "CardGrid.h"
#include "Commands.h"
#include "FreeSearch.h"
#include "MainWindow.h"
#include "ScriptedMessages.h"
#include "SearchIndex.h"
#include "Startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Median and 95th percentile (nearest rank), in milliseconds.
QJsonObject stats(std::vector<double> v) {
    QJsonObject o;
    if (v.empty())
        return o;
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        const size_t rank = size_t(std::ceil(q * double(v.size())));
        return std::round(v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)] * 10) / 10;
    };
    o[QStringLiteral("median")] = at(0.5);
    o[QStringLiteral("p95")] = at(0.95);
    return o;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "uso: free_search DAT.db|postgresql://… [BUSQUEDAS]\n");
        return 2;
    }
    const QString registry = args[1];
    const int searches = args.size() > 2 ? args[2].toInt() : 10;
    const bool server = registry.startsWith(u"postgres");

    QTemporaryDir root;
    store::Folders folders;
    folders.appDir = root.filePath(QStringLiteral("app"));
    folders.dataDir = root.filePath(QStringLiteral("datos"));
    folders.exportDir = root.path();
    QDir().mkpath(folders.appDir);
    QFile::copy(QStringLiteral(TARJETAS_MASTER_INI), folders.appFile(store::kIniFileName));
    if (server)
        folders.serverUri = registry;
    else if (!QFile::copy(registry, folders.appFile(store::kDatabaseFileName)))
        return 1;

    store::FixedClock clock(QDateTime(QDate(2024, 6, 15), QTime(10, 30)));
    ScriptedMessages messages;
    app::StartupHooks hooks;
    hooks.dailyBackup = false;
    QElapsedTimer t;
    t.start();
    auto w = app::startUp(folders, messages, clock, std::move(hooks));
    if (!w)
        return 1;
    w->show();
    QCoreApplication::processEvents();
    QJsonObject out;
    out[QStringLiteral("startup_ms")] = std::round(ms(t));
    if (!messages.texts().isEmpty())
        out[QStringLiteral("messages")] = messages.texts().join(u'|');

    const store::CardStore& store = *w->cardStore();
    std::vector<store::RowId> ids;
    (void)store.rowIds(store::Order::Stored, &ids);
    out[QStringLiteral("cards")] = qint64(ids.size());
    QHash<QString, qint64> counts;
    (void)store.forEachRawCard(store::Order::Stored, [&](store::RowId, const store::RawCard& c) {
        for (const QString& word : store::searchWords(c.text(store::Propietario)))
            ++counts[store::foldedName(word)];
        return true;
    });
    QString common;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (common.isEmpty() || it.value() > counts.value(common))
            common = it.key();
    }
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> pick(0, ids.empty() ? 0 : ids.size() - 1);
    QStringList surnames, ruts, phones, codes;
    while (!ids.empty() && surnames.size() < searches) {
        store::Card c;
        if (!store.readCard(ids[pick(rng)], &c))
            continue;
        if (!c[store::Propietario].trimmed().isEmpty())
            surnames.append(c[store::Propietario].trimmed().section(u' ', -1));
        if (!c[store::Rut].trimmed().isEmpty())
            ruts.append(c[store::Rut].trimmed());
        if (!c[store::Cel].trimmed().isEmpty())
            phones.append(c[store::Cel].trimmed());
        codes.append(c[store::Codigo]);
    }
    browse::FreeSearch* free = w->findChild<app::Commands*>()->freeSearch();
    QLineEdit* bar = free->bar();
    const struct {
        const char* name;
        QStringList texts;
    } kinds[] = {
        {"surname", surnames},
        {"rut", ruts.mid(0, searches)},
        {"phone", phones.mid(0, searches)},
        {"most_common_word", QStringList(searches, common)},
    };
    QJsonObject found;
    for (const auto& kind : kinds) {
        std::vector<double> times;
        qint64 most = 0;
        QString slowest;
        double slowestMs = -1;
        for (const QString& text : kind.texts) {
            free->open();
            bar->setText(text);
            QCoreApplication::processEvents();
            t.restart();
            QTest::keyClick(bar, Qt::Key_Return);
            QCoreApplication::processEvents();
            times.push_back(ms(t));
            if (times.back() > slowestMs)
                slowestMs = times.back(), slowest = text;
            most = std::max<qint64>(most, w->gridRows() - 1);
            if (w->gridRows() < 2)
                out[QStringLiteral("error")] = QString(QStringLiteral("no se encontró ") + text);
            QTest::keyClick(w->grid(), Qt::Key_Escape);
            QCoreApplication::processEvents();
        }
        QJsonObject timed = stats(times);
        timed[QStringLiteral("slowest")] = slowest; // the text, to look into
        out[QLatin1StringView(kind.name)] = timed;
        found[QLatin1StringView(kind.name)] = most;
    }
    out[QStringLiteral("the_most_common_word")] = common;
    // The search by code, for comparison: the code typed in its box, then OK, until the grid
    // lists the card, it is loaded and the window has painted.
    auto* codeBox = w->findChild<QLineEdit*>(QStringLiteral("Text3"));
    const auto button = [&](const char* name) {
        return w->findChild<QAbstractButton*>(QLatin1StringView(name));
    };
    std::vector<double> codeTimes;
    for (const QString& code : codes) {
        button("cmdBuscar")->click();
        codeBox->setText(code);
        QCoreApplication::processEvents();
        t.restart();
        button("btnBuscarOK")->click();
        QCoreApplication::processEvents();
        codeTimes.push_back(ms(t));
        if (w->gridRows() != 2 || w->fieldText(store::Codigo) != code)
            out[QStringLiteral("error")] = QStringLiteral("búsqueda sin la tarjeta buscada");
    }
    out[QStringLiteral("code")] = stats(codeTimes);
    out[QStringLiteral("most_cards_found")] = found;
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Indented).constData());
    return 0;
}

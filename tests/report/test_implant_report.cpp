#include "CardStore.h"
#include "History.h"
#include "ImplantReport.h"
#include "ReportChart.h"
#include "TestRegistry.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using report::Grouping;
using store::Card;

namespace {

// The day the reports are counted on: two-digit years read as 2026 or earlier.
const QDate kToday(2026, 6, 15);

// One generated card: the texts stored, and the date it stands for (null: none or unreadable).
struct Messy {
    Card card;
    QDate meant;
};

// The same date written as receptionists and older files wrote it.
QString spelled(const QDate& d, quint32 form) {
    switch (form % 7) {
    case 0:
        return d.toString(QStringLiteral("dd/MM/yyyy"));
    case 1:
        return u' ' + d.toString(QStringLiteral("d/M/yyyy")) + QStringLiteral("  ");
    case 2:
        return d.toString(QStringLiteral("yyyy-MM-dd"));
    case 3:
        return d.toString(QStringLiteral("dd-MM-yyyy"));
    case 4:
        return d.toString(QStringLiteral("dd.MM.yyyy"));
    case 5:
        return d.toString(QStringLiteral("ddMMyyyy"));
    default:
        return d.toString(QStringLiteral("ddMMyy"));
    }
}

// Texts that are no date: empty, blank, impossible days and months, words, a year before the
// first one taken, a quote that must not break a statement.
const QString kNoDates[] = {QString(),
                            QStringLiteral(""),
                            QStringLiteral("   "),
                            QStringLiteral("31/02/2026"),
                            QStringLiteral("2026-13-01"),
                            QStringLiteral("00/00/0000"),
                            QStringLiteral("ayer"),
                            QStringLiteral("30/12/1899"),
                            QStringLiteral("01/03/2026'"),
                            QStringLiteral("1/3/20266")};

// Several spellings of few values: case, blanks around and inside, accents kept apart.
const QString kImplanters[] = {QStringLiteral("Dra. Pérez"),
                               QStringLiteral("Dra. Pérez"),
                               QStringLiteral(" dra. pérez"),
                               QStringLiteral("DRA. PÉREZ "),
                               QStringLiteral("Dra.  Pérez"),
                               QStringLiteral("Dra. Perez"),
                               QStringLiteral("Dr. Soto"),
                               QStringLiteral("dr. soto"),
                               QStringLiteral(""),
                               QStringLiteral("  "),
                               QString()};
const QString kPlaces[] = {QStringLiteral("Ávila"),     QStringLiteral("ÁVILA"),
                           QStringLiteral("ávila "),    QStringLiteral("Ávila"),
                           QStringLiteral("Ñuñoa"),     QStringLiteral("ñuñoa"),
                           QStringLiteral("=SUMA(A1)"), QString()};
const QString kSpecies[] = {QStringLiteral("Canino"),  QStringLiteral("CANINO"),
                            QStringLiteral("canino "), QStringLiteral("Canino"),
                            QStringLiteral("Felino"),  QStringLiteral("felino"),
                            QStringLiteral("")};
const QString kSexes[] = {QStringLiteral("M"), QStringLiteral("H"), QStringLiteral("m"),
                          QStringLiteral(""), QString()};
const QString kStates[] = {QStringLiteral("Castrado"), QStringLiteral("castrado"),
                           QStringLiteral("Entero"), QString()};

std::vector<Messy> messyCards() {
    QRandomGenerator random(20260615);
    std::vector<Messy> cards;
    const QDate first(2025, 10, 1);
    for (int i = 0; i < 600; ++i) {
        Messy m;
        m.card[store::Codigo] = QStringLiteral("9000000%1").arg(i, 8, 10, QLatin1Char('0'));
        if (random.bounded(8) == 0) {
            m.card[store::FechaAtencion] = kNoDates[random.bounded(int(std::size(kNoDates)))];
        } else {
            // Nothing in February 2026, so that an empty month must show.
            QDate d = first.addDays(random.bounded(240));
            if (d.month() == 2 && d.year() == 2026)
                d = d.addMonths(1);
            m.meant = d;
            m.card[store::FechaAtencion] = spelled(d, random.generate());
        }
        const auto pick = [&](const auto& pool) {
            return pool[random.bounded(int(std::size(pool)))];
        };
        m.card[store::Implantador] = pick(kImplanters);
        m.card[store::Lugar] = pick(kPlaces);
        m.card[store::Especie] = pick(kSpecies);
        m.card[store::Sexo] = pick(kSexes);
        m.card[store::EReproductivo] = pick(kStates);
        cards.push_back(std::move(m));
    }
    return cards;
}

// The group of a value as the test reads it: blanks collapsed and lower case.
QString groupOf(const QString& value) {
    return value.simplified().toLower();
}

// Counts by hand, by the test's own walk over the cards it wrote: for each group, its count and
// its spellings.
struct HandCount {
    std::map<QString, std::map<QString, qint64>> spellings;
    std::map<QString, qint64> counts;
    qint64 total = 0;
    qint64 undated = 0;
};

HandCount countByHand(const std::vector<Messy>& cards, const report::DateRange& range,
                      store::Field field) {
    HandCount hand;
    for (const Messy& m : cards) {
        if (!m.meant.isValid()) {
            ++hand.undated;
            continue;
        }
        if ((range.from.isValid() && m.meant < range.from) ||
            (range.to.isValid() && m.meant > range.to))
            continue;
        ++hand.total;
        const QString value = m.card[field];
        ++hand.counts[groupOf(value)];
        ++hand.spellings[groupOf(value)][value.simplified()];
    }
    return hand;
}

} // namespace

class TestImplantReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        SKIP_WITHOUT_TEST_SERVER();
        registry_ = test_registry::registryAt(dir_.filePath(QStringLiteral("DAT.db")));
        store::Status status;
        auto cards = store::CardStore::open(registry_, &status);
        QVERIFY2(cards, qPrintable(status.message()));
        cards_ = messyCards();
        std::vector<Card> plain;
        for (const Messy& m : cards_)
            plain.push_back(m.card);
        const store::Status stored = cards->insertCards(plain, store::WriteReason::Importacion);
        QVERIFY2(stored, qPrintable(stored.message()));
    }

    // Grouping by a field: every group's count and most frequent spelling, the total and the
    // cards without a date, against the test's own count.
    void byField_data() {
        QTest::addColumn<int>("by");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        const QDate none;
        QTest::newRow("implantador, todo") << int(Grouping::Implanter) << none << none;
        QTest::newRow("implantador, noviembre")
            << int(Grouping::Implanter) << QDate(2025, 11, 1) << QDate(2025, 11, 30);
        QTest::newRow("lugar, 2026")
            << int(Grouping::Place) << QDate(2026, 1, 1) << QDate(2026, 12, 31);
        QTest::newRow("especie, desde marzo")
            << int(Grouping::Species) << QDate(2026, 3, 1) << none;
        QTest::newRow("especie, hasta el 15/12/2025")
            << int(Grouping::Species) << none << QDate(2025, 12, 15);
        QTest::newRow("especie, rango sin tarjetas")
            << int(Grouping::Species) << QDate(2026, 2, 1) << QDate(2026, 2, 28);
    }
    void byField() {
        QFETCH(int, by);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        const report::DateRange range{from, to};
        const store::Field field = by == int(Grouping::Implanter) ? store::Implantador
                                   : by == int(Grouping::Place)   ? store::Lugar
                                                                  : store::Especie;
        report::ReportResult result;
        const store::Status status =
            report::computeReport(registry_, range, Grouping(by), kToday, &result);
        QVERIFY2(status, qPrintable(status.message()));

        const HandCount hand = countByHand(cards_, range, field);
        QCOMPARE(result.total, hand.total);
        QCOMPARE(result.undated, hand.undated);
        QCOMPARE(result.rows.size(), hand.counts.size());
        qint64 sum = 0;
        for (const report::ReportRow& row : result.rows) {
            sum += row.count;
            const QString group = row.label == u"(sin dato)" ? QString() : groupOf(row.label);
            QVERIFY2(hand.counts.count(group), qPrintable(row.label));
            QCOMPARE(row.count, hand.counts.at(group));
            // Shown in the spelling stored most often.
            const auto& spellings = hand.spellings.at(group);
            qint64 most = 0;
            for (const auto& [spelling, n] : spellings)
                most = std::max(most, n);
            const QString shown = group.isEmpty() ? QString() : row.label;
            QCOMPARE(spellings.at(shown), most);
        }
        QCOMPARE(sum, result.total);
        for (size_t i = 1; i < result.rows.size(); ++i)
            QVERIFY(result.rows[i - 1].count >= result.rows[i].count);
    }

    // Grouping by month: every month of the range in order, the empty ones too.
    void byMonth() {
        const report::DateRange range{QDate(2025, 12, 1), QDate(2026, 3, 31)};
        report::ReportResult result;
        const store::Status status =
            report::computeReport(registry_, range, Grouping::Month, kToday, &result);
        QVERIFY2(status, qPrintable(status.message()));
        std::map<int, qint64> hand;
        qint64 undated = 0;
        for (const Messy& m : cards_) {
            if (!m.meant.isValid())
                ++undated;
            else if (range.contains(m.meant))
                ++hand[m.meant.year() * 100 + m.meant.month()];
        }
        const QStringList labels{QStringLiteral("Diciembre 2025"), QStringLiteral("Enero 2026"),
                                 QStringLiteral("Febrero 2026"), QStringLiteral("Marzo 2026")};
        const int keys[] = {202512, 202601, 202602, 202603};
        QCOMPARE(result.rows.size(), size_t(4));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(result.rows[i].label, labels[i]);
            QCOMPARE(result.rows[i].count, hand[keys[i]]);
        }
        QCOMPARE(result.rows[2].count, 0);
        QVERIFY(result.rows[0].count > 0);
        QCOMPARE(result.undated, undated);
    }

    // By week: the weeks of a month's range, Monday to Sunday, each card in the week of its day.
    void byWeek() {
        const report::DateRange range{QDate(2026, 3, 1), QDate(2026, 3, 31)};
        report::ReportResult result;
        const store::Status status =
            report::computeReport(registry_, range, Grouping::Week, kToday, &result);
        QVERIFY2(status, qPrintable(status.message()));
        // 1 March 2026 is a Sunday: its week starts on 23 February; six weeks reach 31 March.
        QCOMPARE(result.rows.size(), size_t(6));
        QVERIFY(result.rows[0].label.contains(QStringLiteral("(23/02 al 01/03)")));
        for (size_t w = 0; w < 6; ++w) {
            const QDate monday = QDate(2026, 2, 23).addDays(qint64(w) * 7);
            qint64 hand = 0;
            for (const Messy& m : cards_)
                hand += m.meant.isValid() && range.contains(m.meant) && m.meant >= monday &&
                        m.meant < monday.addDays(7);
            QCOMPARE(result.rows[w].count, hand);
        }
    }

    // Sex and reproductive state together, sexes in words, states grouped like any text.
    void bySexAndState() {
        report::ReportResult result;
        const store::Status status =
            report::computeReport(registry_, {}, Grouping::SexAndState, kToday, &result);
        QVERIFY2(status, qPrintable(status.message()));
        std::map<QString, qint64> hand;
        for (const Messy& m : cards_) {
            if (!m.meant.isValid())
                continue;
            const QString sex = m.card[store::Sexo].toUpper();
            const QString word = sex == u"M"   ? QStringLiteral("Macho")
                                 : sex == u"H" ? QStringLiteral("Hembra")
                                               : QStringLiteral("Sin sexo");
            const QString state = m.card[store::EReproductivo].toLower();
            ++hand[word + u'/' + (state.isEmpty() ? QStringLiteral("sin estado") : state)];
        }
        QCOMPARE(result.rows.size(), hand.size());
        for (const report::ReportRow& row : result.rows) {
            const QStringList parts = row.label.split(QStringLiteral(" · "));
            QCOMPARE(parts.size(), 2);
            QCOMPARE(row.count, hand[parts[0] + u'/' + parts[1].toLower()]);
        }
    }

    // The CSV: Windows-1252, ';', a place that would run as a formula written as text, the
    // total and the cards without a date.
    void csv() {
        report::ReportResult result;
        QVERIFY(report::computeReport(registry_, {}, Grouping::Place, kToday, &result));
        const QByteArray csv = report::reportCsv(result);
        QVERIFY(csv.startsWith("Lugar;Tarjetas;Porcentaje\r\n"));
        QVERIFY(csv.contains("\n\xC1vila;") || csv.contains("\n\xE1vila;"));
        QVERIFY(csv.contains("\n'=SUMA(A1);"));
        QVERIFY(!csv.contains("\n=") && !csv.contains(";="));
        QVERIFY(csv.contains(
            QByteArray("Total todas las fechas;" + QByteArray::number(result.total) + ';')));
        QVERIFY(
            csv.contains(QByteArray("(no incluidas);" + QByteArray::number(result.undated) + ';')));
    }

    // The chart's bars: one per group under labels that all differ (an axis takes a category
    // once, so two equal labels would lose a bar), the same cards as the table.
    void chartBarsKeepEveryGroup() {
        report::ReportResult weeks;
        weeks.by = Grouping::Week;
        weeks.rows = {{QStringLiteral("Semana 52 de 2022 (26/12 al 01/01)"), 3},
                      {QStringLiteral("Semana 1 de 2023 (02/01 al 08/01)"), 1},
                      {QStringLiteral("Semana 52 de 2023 (25/12 al 31/12)"), 2}};
        report::ReportResult places;
        places.by = Grouping::Place;
        places.rows = {{QStringLiteral("Operativo Municipal Puente Alto"), 5},
                       {QStringLiteral("Operativo Municipal Ñuñoa"), 4},
                       {QStringLiteral("Centro Veterinario Peñalolén"), 2},
                       {QStringLiteral("Centro Veterinario Maipú"), 1}};
        for (const report::ReportResult& result : {weeks, places}) {
            const std::vector<report::Bar> bars = report::chartBars(result);
            QCOMPARE(bars.size(), result.rows.size());
            QSet<QString> labels;
            for (size_t i = 0; i < bars.size(); ++i) {
                labels.insert(bars[i].label);
                QCOMPARE(bars[i].count, result.rows[i].count);
            }
            QCOMPARE(labels.size(), qsizetype(bars.size()));
        }
    }

    // A registry that is not there is told, not counted as empty.
    void missingFile() {
        SKIP_ON_SERVER("about a file");
        report::ReportResult result;
        const store::Status status = report::computeReport(
            store::Registry::file(dir_.filePath(QStringLiteral("no-existe.db"))), {},
            Grouping::Month, kToday, &result);
        QVERIFY(!status);
        QVERIFY(status.message().contains(QStringLiteral("no existe")));
    }

    // Another program's session idle in a transaction on the server (a snapshot held open) would
    // make the date index's concurrent build wait for it: the report is counted all the same,
    // and no half-made index is left for every write to keep up.
    void countedBesideAnOpenTransaction() {
        if (!test_registry::onServer())
            QSKIP("about a server");
        const store::Registry registry =
            test_registry::registryAt(dir_.filePath(QStringLiteral("otro.db")));
        {
            store::Status status;
            auto cards = store::CardStore::open(registry, &status);
            QVERIFY2(cards, qPrintable(status.message()));
            std::vector<Card> plain;
            for (const Messy& m : cards_)
                plain.push_back(m.card);
            QVERIFY(cards->insertCards(plain, store::WriteReason::Importacion));
        }
        const QString holder = QStringLiteral("otro-programa");
        {
            QSqlDatabase db = store::addRegistryConnection(registry, holder);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ")));
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM \"Clientes\"")));

            report::ReportResult result;
            const store::Status status =
                report::computeReport(registry, {}, Grouping::Implanter, kToday, &result);
            QVERIFY2(status, qPrintable(status.message()));
            QCOMPARE(result.total, countByHand(cards_, {}, store::Implantador).total);
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM pg_index i JOIN pg_class c ON "
                                          "c.oid = i.indexrelid WHERE c.relname = "
                                          "'FechaAtencion' AND c.relnamespace = "
                                          "current_schema()::regnamespace AND NOT i.indisvalid")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 0);
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(holder);
    }

private:
    QTemporaryDir dir_;
    store::Registry registry_;
    std::vector<Messy> cards_;
};

QTEST_GUILESS_MAIN(TestImplantReport)
#include "test_implant_report.moc"

// Reading dates as they are typed and as older files store them.
#include "Dates.h"

#include <QTest>

class TestDates : public QObject {
    Q_OBJECT
private slots:
    void parseDate_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("expected"); // invalid: no date

        const QDate none;
        struct Row {
            const char* name;
            const char* text;
            QDate expected;
        };
        const Row rows[] = {
            // The forms receptionists type, with one or two digits for day and month.
            {"dd/mm/yyyy", "15/03/2020", QDate(2020, 3, 15)},
            {"d/m/yyyy", "5/3/2020", QDate(2020, 3, 5)},
            {"dd/m/yyyy", "15/3/2020", QDate(2020, 3, 15)},
            {"d/mm/yyyy", "5/03/2020", QDate(2020, 3, 5)},
            {"dd-mm-yyyy", "15-03-2020", QDate(2020, 3, 15)},
            {"d-m-yyyy", "5-3-2020", QDate(2020, 3, 5)},
            {"dd.mm.yyyy", "15.03.2020", QDate(2020, 3, 15)},
            {"d.m.yyyy", "5.3.2020", QDate(2020, 3, 5)},
            {"ddmmyyyy", "15032020", QDate(2020, 3, 15)},
            {"ddmmyy", "150320", QDate(2020, 3, 15)},
            {"first of February", "01/02/2003", QDate(2003, 2, 1)},
            {"leap day", "29/02/2024", QDate(2024, 2, 29)},
            {"blanks around", "  7/8/2019 ", QDate(2019, 8, 7)},
            // Forms older files store.
            {"yyyy-mm-dd", "2005-12-25", QDate(2005, 12, 25)},
            {"yyyy-m-d", "2005-1-2", QDate(2005, 1, 2)},
            // Two-digit years: the date may not lie after today, 15/06/2024.
            {"today", "15/06/24", QDate(2024, 6, 15)},
            {"tomorrow a century ago", "16/06/24", QDate(1924, 6, 16)},
            {"next year's digits", "1/1/25", QDate(1925, 1, 1)},
            {"this year's start", "1.1.24", QDate(2024, 1, 1)},
            {"year 00", "29-02-00", QDate(2000, 2, 29)},
            {"year 99", "31/12/99", QDate(1999, 12, 31)},
            {"ddmmyy tomorrow", "160624", QDate(1924, 6, 16)},
            // No date: never some other date.
            {"31 February", "31/02/2020", none},
            {"29 February of a common year", "29/02/2023", none},
            {"month 13", "1/13/2020", none},
            {"day 0", "0/3/2020", none},
            {"day 32", "32.01.2020", none},
            {"letters", "abc", none},
            {"letter in the day", "1a/03/2020", none},
            {"empty", "", none},
            {"blanks", "   ", none},
            {"two parts", "15/03", none},
            {"four parts", "15/03/20/20", none},
            {"mixed separators", "15/03-2020", none},
            {"other separator", "15 03 2020", none},
            {"three-digit year", "5/3/202", none},
            {"five-digit year", "5/3/20200", none},
            {"three-digit day", "015/03/2020", none},
            {"seven digits", "1532020", none},
            {"before 1900", "30/12/1899", none},
            {"empty part", "15//2020", none},
            {"sign", "+5/3/2020", none},
            {"non-ASCII digits", "١٥/٠٣/٢٠٢٠", none},
        };
        for (const Row& r : rows)
            QTest::newRow(r.name) << QString::fromUtf8(r.text) << r.expected;
    }

    void parseDate() {
        QFETCH(QString, text);
        QFETCH(QDate, expected);
        const QDate today(2024, 6, 15);
        const QDate read = store::parseDate(text, today);
        QCOMPARE(read, expected);
        if (read.isValid()) // what is stored reads back as the same date
            QCOMPARE(store::parseDate(store::dateText(read), today), read);
    }
};

QTEST_APPLESS_MAIN(TestDates)
#include "test_dates.moc"

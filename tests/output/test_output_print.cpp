// The card printing commands over a recording surface: every item of both layouts, the
// question, the offset file, the silent ends and the failures.

#include "CardPrintCommand.h"
#include "CardPrintLayout.h"
#include "OffsetFile.h"
#include "RecordingPrintSurface.h"
#include "ScriptedMessages.h"
#include "output_print_fixture.h"

#include <QFile>
#include <QTest>

using output::PrintKind;
using output::PrintOutcome;
using Answer = store::MessageLayer::Answer;
using Item = RecordingPrintTarget::Item;

namespace {

void compareItems(const std::vector<Item>& actual, const std::vector<Expected>& expected,
                  double top) {
    QCOMPARE(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Item& a = actual[i];
        const Expected& e = expected[i];
        const QString where = QStringLiteral("item %1 (%2)").arg(i).arg(e.text);
        QVERIFY2(a.text == e.text, qPrintable(where + QStringLiteral(": ") + a.text));
        QVERIFY2(a.x == e.x, qPrintable(where));
        QVERIFY2(a.y == top + e.row, qPrintable(where));
        QVERIFY2(a.font == (e.footer ? output::kFooterFont : output::kValueFont),
                 qPrintable(where));
    }
}

} // namespace

class TestOutputPrint : public QObject {
    Q_OBJECT

private:
    PrintOutcome run(PrintFixture& fx, PrintKind kind, ScriptedMessages& messages,
                     RecordingPrintTarget& target,
                     const QString& code = QStringLiteral("982000123456789")) {
        return output::printCardCommand(*fx.cards, code, fx.folders, kFooter, messages, target,
                                        kind);
    }

private slots:
    void threeBlocksFullAndPartial_data() {
        QTest::addColumn<Answer>("answer");
        QTest::newRow("Yes prints the owner part on block 3") << Answer::Yes;
        QTest::newRow("No stops block 3 at tamano") << Answer::No;
    }
    void threeBlocksFullAndPartial() {
        QFETCH(Answer, answer);
        PrintFixture fx;
        fx.add(filledCard());
        ScriptedMessages messages;
        messages.queue(answer);
        RecordingPrintTarget target;

        QCOMPARE(run(fx, PrintKind::ThreeBlocks, messages, target), PrintOutcome::Printed);

        compareItems(target.items, sheet(answer == Answer::Yes), 2800);
        QCOMPARE(target.opened, 1);
        QCOMPARE(target.ended, 1);
        QCOMPARE(messages.boxes.size(), size_t(2));
        QCOMPARE(messages.boxes[0].kind, ScriptedMessages::Kind::YesNoCancel);
        QCOMPARE(messages.boxes[0].text, QStringLiteral("Impresion Completa ?"));
        QCOMPARE(messages.boxes[0].title, QStringLiteral("Tipo de Impresion"));
        QCOMPARE(messages.boxes[1].kind, ScriptedMessages::Kind::Inform);
        QCOMPARE(messages.boxes[1].text, QStringLiteral("Tarjeta Enviada a la Impresora"));
        QCOMPARE(messages.boxes[1].title, QStringLiteral("Impresion de Tarjeta"));
        QCOMPARE(messages.boxes[1].icon, store::MessageLayer::Icon::Information);

        QFile file(fx.offsetFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\"2800\"\r\n"));
    }

    void quickBlock() {
        PrintFixture fx;
        fx.add(filledCard());
        ScriptedMessages messages;
        RecordingPrintTarget target;

        QCOMPARE(run(fx, PrintKind::Quick, messages, target), PrintOutcome::Printed);

        compareItems(target.items, kQuickBlock, 2800);
        QCOMPARE(target.items[12].x, 8633.0); // GrupoFam, printed by this layout only
        QCOMPARE(target.items[21].y, 5866.0); // implantador
        QCOMPARE(target.items[22].y, 6366.0); // footer
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Tarjeta Enviada a la Impresora")});
        QVERIFY(QFile::exists(fx.offsetFile()));
    }

    void cancelPrintsNothing() {
        PrintFixture fx;
        fx.add(filledCard());
        ScriptedMessages messages;
        messages.queue(Answer::Cancel);
        RecordingPrintTarget target;

        QCOMPARE(run(fx, PrintKind::ThreeBlocks, messages, target), PrintOutcome::Cancelled);
        QCOMPARE(target.opened, 0);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY(QFile::exists(fx.offsetFile()));
    }

    void silentEnds_data() {
        QTest::addColumn<bool>("withCard");
        QTest::addColumn<QString>("code");
        QTest::newRow("empty table") << false << QStringLiteral("982000123456789");
        QTest::newRow("code without a card") << true << QStringLiteral("982000000000000");
        QTest::newRow("empty code") << true << QString();
    }
    void silentEnds() {
        QFETCH(bool, withCard);
        QFETCH(QString, code);
        for (PrintKind kind : {PrintKind::ThreeBlocks, PrintKind::Quick}) {
            PrintFixture fx;
            if (withCard)
                fx.add(filledCard());
            ScriptedMessages messages;
            messages.queue(Answer::Yes);
            RecordingPrintTarget target;

            QCOMPARE(run(fx, kind, messages, target, code), PrintOutcome::NothingToPrint);
            QCOMPARE(target.opened, 0);
            // Only the question of the three-block print, asked before the table is looked at.
            QCOMPARE(messages.boxes.size(), size_t(kind == PrintKind::ThreeBlocks ? 1 : 0));
            QVERIFY(QFile::exists(fx.offsetFile()));
        }
    }

    void sexWord_data() {
        QTest::addColumn<QString>("sexo");
        QTest::addColumn<QString>("word");
        QTest::newRow("M") << QStringLiteral("M") << QStringLiteral("Macho");
        QTest::newRow("H") << QStringLiteral("H") << QStringLiteral("Hembra");
        QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("Hembra");
        QTest::newRow("lower-case m") << QStringLiteral("m") << QStringLiteral("Hembra");
    }
    void sexWord() {
        QFETCH(QString, sexo);
        QFETCH(QString, word);
        PrintFixture fx;
        store::Card card = filledCard();
        card[store::Sexo] = sexo;
        fx.add(card);
        ScriptedMessages messages;
        RecordingPrintTarget target;
        QCOMPARE(run(fx, PrintKind::Quick, messages, target), PrintOutcome::Printed);
        QCOMPARE(target.items[9].x, 1313.0);
        QCOMPARE(target.items[9].text, word);
    }

    void emptyAndNullValues() {
        PrintFixture fx;
        store::Card card = filledCard();
        card[store::NumeroDepto] = QStringLiteral("");
        card[store::Email] = QString();          // Null
        card[store::Lugar] = QStringLiteral(""); // stored empty text
        fx.add(card);
        ScriptedMessages messages;
        RecordingPrintTarget target;
        QCOMPARE(run(fx, PrintKind::Quick, messages, target), PrintOutcome::Printed);

        QCOMPARE(target.items.size(), kQuickBlock.size() - 2);
        for (const Item& item : target.items) {
            QVERIFY2(item.x != 8113 || item.y != 2800 + 2225, "a Null e-mail printed something");
            QVERIFY2(item.x != 5013, "an empty lugar printed something");
            QVERIFY(!item.text.isEmpty());
        }
        const auto address = std::find_if(target.items.begin(), target.items.end(),
                                          [](const Item& i) { return i.y == 2800 + 2225; });
        QVERIFY(address != target.items.end());
        QCOMPARE(address->text, QStringLiteral("Aromos  B"));
    }

    void addressOfNullPartsPrintsNothing() {
        PrintFixture fx;
        store::Card card = filledCard();
        card[store::Direccion] = QString();
        card[store::NumeroDepto] = QString();
        card[store::BlockDepto] = QStringLiteral("   ");
        fx.add(card);
        ScriptedMessages messages;
        RecordingPrintTarget target;
        QCOMPARE(run(fx, PrintKind::Quick, messages, target), PrintOutcome::Printed);
        for (const Item& item : target.items)
            QVERIFY(item.y != 2800 + 2225 || item.x != 1813);
    }

    void offsetFileMovesTheLayout_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<double>("top");
        QTest::addColumn<double>("left");
        QTest::newRow("edited") << QByteArray("\"3100\"\r\n") << 3100.0 << 0.0;
        QTest::newRow("unquoted, leading blanks") << QByteArray("  1500\n") << 1500.0 << 0.0;
        QTest::newRow("decimal and trailing text")
            << QByteArray("\"2750.5 twips\"\r\n") << 2750.5 << 0.0;
        QTest::newRow("not a number") << QByteArray("\"arriba\"\r\n") << 0.0 << 0.0;
        QTest::newRow("horizontal shift") << QByteArray("\"2800\",\"-60\"\r\n") << 2800.0 << -60.0;
        QTest::newRow("shift unquoted") << QByteArray("2900, 45\r\n") << 2900.0 << 45.0;
        QTest::newRow("only the first line counts")
            << QByteArray("\"2000\"\r\n\"9999\",\"77\"\r\n") << 2000.0 << 0.0;
        QTest::newRow("negative") << QByteArray("\"-200\"") << -200.0 << 0.0;
    }
    void offsetFileMovesTheLayout() {
        QFETCH(QByteArray, content);
        QFETCH(double, top);
        QFETCH(double, left);
        PrintFixture fx;
        fx.add(filledCard());
        fx.writeOffsetFile(content);
        ScriptedMessages messages;
        messages.queue(Answer::Yes);
        RecordingPrintTarget target;

        QCOMPARE(run(fx, PrintKind::ThreeBlocks, messages, target), PrintOutcome::Printed);
        const std::vector<Expected> expected = sheet(true);
        QCOMPARE(target.items.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(target.items[i].y, top + expected[i].row);
            QCOMPARE(target.items[i].x, left + expected[i].x);
        }
        // The program never rewrites a file the user edited.
        QFile file(fx.offsetFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void failuresAreReportedAndNothingPrinted_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("data folder missing") << QStringLiteral("nofolder");
        QTest::newRow("offset file is a folder") << QStringLiteral("dir");
        QTest::newRow("offset file empty") << QStringLiteral("empty");
        QTest::newRow("printer cannot start") << QStringLiteral("open");
        QTest::newRow("printer refuses the job") << QStringLiteral("end");
    }
    void failuresAreReportedAndNothingPrinted() {
        QFETCH(QString, what);
        PrintFixture fx;
        fx.add(filledCard());
        RecordingPrintTarget target;
        const auto printerDown = store::Status::failure(
            store::ErrorKind::Io, QStringLiteral("La impresora no responde."));
        if (what == u"nofolder")
            fx.folders.dataDir = fx.dir.filePath(QStringLiteral("no/existe"));
        else if (what == u"dir")
            QVERIFY(QDir().mkpath(fx.offsetFile()));
        else if (what == u"empty")
            fx.writeOffsetFile(QByteArray(" \r\n"));
        else if (what == u"open")
            target.openFailure = printerDown;
        else
            target.endFailure = printerDown;
        ScriptedMessages messages;
        messages.queue(Answer::Yes);

        QCOMPARE(run(fx, PrintKind::ThreeBlocks, messages, target), PrintOutcome::Failed);
        const ScriptedMessages::Box& last = messages.boxes.back();
        QCOMPARE(last.icon, store::MessageLayer::Icon::Warning);
        QVERIFY(!messages.texts().contains(QStringLiteral("Tarjeta Enviada a la Impresora")));
        if (what == u"open" || what == u"end") {
            QCOMPARE(last.text, printerDown.message());
        } else {
            QVERIFY2(last.text.contains(QStringLiteral("Tolvane.txt")), qPrintable(last.text));
            QVERIFY(last.text.contains(QStringLiteral("no se imprimió")));
            QCOMPARE(target.opened, 0);
            QCOMPARE(messages.boxes.size(), size_t(1)); // no question after a failed offset file
        }
    }
};

QTEST_GUILESS_MAIN(TestOutputPrint)
#include "test_output_print.moc"

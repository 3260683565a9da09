#include "EntryKeys.h"
#include "ScriptedMessages.h"
#include "TabOrder.h"
#include "TypeAheadIndex.h"
#include "TypeAheadList.h"
#include "TypeAheadLists.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace store;

// A window with the main window's controls by objectName, in entry mode over a small store.
class TestFindKeys : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<CardStore> store_;
    std::unique_ptr<browse::TypeAheadIndex> index_;
    std::unique_ptr<QWidget> window_;
    browse::TypeAheadLists* lists_ = nullptr;
    ScriptedMessages messages_;
    bool entry_ = true;
    int okClicks_ = 0;

    template <class W> W* add(const QString& name, int left = 0, int top = 0, int width = 1000) {
        auto* w = new W(window_.get());
        w->setObjectName(name);
        const auto px = [&](int tw) {
            return browse::TypeAheadLists::twipsToPixels(tw, w);
        };
        w->setGeometry(px(left), px(top), px(width), px(285));
        return w;
    }
    template <class W> W* get(const QString& name) { return window_->findChild<W*>(name); }
    QString focused() const {
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
    }
    // The focus widget may be the inner line edit of a combo or picker: name the control.
    QString focusedControl() const {
        for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
            if (browse::tabOrder().contains(w->objectName()))
                return w->objectName();
        return QString();
    }
    void insert(const std::vector<std::pair<Field, QString>>& values) {
        static int n = 0;
        Card c;
        c[Codigo] = QStringLiteral("C%1").arg(++n);
        for (const auto& [f, v] : values)
            c[f] = v;
        RowId id;
        QVERIFY(store_->insertCard(c, &id).ok());
    }
    void type(const QString& box, const QString& text) {
        auto* edit = get<QLineEdit>(box);
        edit->setFocus();
        for (QChar ch : text) // key by key, accented letters included
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    QStringList entries(const QString& list) {
        QStringList out;
        for (int i = 0; i < get<browse::TypeAheadList>(list)->count(); ++i)
            out.append(get<browse::TypeAheadList>(list)->text(i));
        return out;
    }
    int heightOf(int twips) { return browse::TypeAheadLists::twipsToPixels(twips, window_.get()); }

private slots:
    void initTestCase() {
        Status s;
        store_ = CardStore::open(dir_.filePath(QStringLiteral("DAT.db")), &s);
        QVERIFY(s.ok());
        QSqlQuery(store_->database()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
        insert({{Propietario, QStringLiteral("Muñoz Ana")}, {Lugar, QStringLiteral("Santiago")}});
        insert(
            {{Propietario, QStringLiteral("MUÑOZ ANA")}, {Lugar, QStringLiteral("San Bernardo")}});
        insert({{Propietario, QStringLiteral("mora luis")}, {Lugar, QStringLiteral("San Miguel")}});
        insert({{Propietario, QStringLiteral("Soto")}, {Lugar, QStringLiteral("San Joaquín")}});
        insert({{Propietario, QStringLiteral(" Peña")},
                {Direccion, QStringLiteral("Los Leones")},
                {Telefono2, QStringLiteral("+56 2")}});
        for (int i = 0; i < 170; ++i)
            insert({{Implantador, QStringLiteral("Imp %1").arg(i, 3, 10, QLatin1Char('0'))}});
    }

    void init() {
        index_ = std::make_unique<browse::TypeAheadIndex>(store_.get());
        window_ = std::make_unique<QWidget>();
        window_->resize(heightOf(11100), heightOf(7605));
        // The layout of the window, in twips, for the controls whose place matters.
        for (const char16_t* name :
             {u"Text3", u"Text2", u"Text4", u"Text1", u"Text5", u"Text9", u"Text10", u"Text12",
              u"Text13", u"Text14", u"Text15", u"Text16", u"Text6", u"Text7", u"Text17", u"Text18",
              u"Text19"})
            add<QLineEdit>(QString::fromUtf16(name));
        add<QPushButton>(QStringLiteral("btnBuscarOK"))->hide();
        add<QPushButton>(QStringLiteral("btnBuscarFin"))->hide();
        add<QLineEdit>(QStringLiteral("DTPicker1"));
        add<QLineEdit>(QStringLiteral("DTPicker2"));
        for (const char16_t* name :
             {u"cmbEspecie", u"cmbRaza", u"cmbEstadoReproductivo", u"cmbTamano"})
            add<QComboBox>(QString::fromUtf16(name))->setEditable(true);
        add<QRadioButton>(QStringLiteral("Option1"));
        add<QRadioButton>(QStringLiteral("Option2"));
        const struct {
            const char16_t* name;
            int left, top, width;
        } lists[] = {{u"lstLugar", 3960, 1680, 3585},    {u"lstImplantador", 3960, 2040, 3585},
                     {u"lstColor", 8430, 2800, 2400},    {u"lstPropietario", 1125, 3520, 3015},
                     {u"lstRut", 4845, 3520, 1800},      {u"lstTelefono1", 7605, 3520, 1335},
                     {u"lstCel", 9645, 3520, 1215},      {u"lstDomicilio", 1125, 3880, 3540},
                     {u"lstContacto", 1725, 4240, 4920}, {u"lstTelefono2", 7605, 4240, 1920}};
        for (const auto& l : lists)
            add<browse::TypeAheadList>(QString::fromUtf16(l.name), l.left, l.top, l.width);
        add<QTableWidget>(QStringLiteral("VSFlexGrid1"))->setEnabled(false); // entry mode
        for (const QString& name : browse::tabOrder().mid(38))
            add<QPushButton>(name)->setEnabled(name == u"cmdAgregar" || name == u"cmdSalir");
        okClicks_ = 0;
        connect(get<QPushButton>(QStringLiteral("btnBuscarOK")), &QPushButton::clicked, this,
                [this] { ++okClicks_; });

        entry_ = true;
        messages_.clear();
        lists_ = new browse::TypeAheadLists(
            window_.get(), index_.get(), [this] { return entry_; }, &messages_, window_.get());
        new browse::EntryKeys(window_.get(), lists_, window_.get());
        browse::applyTabOrder(window_.get());
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void typingListsDistinctValuesInTheCaseFirstMet() {
        auto* list = get<browse::TypeAheadList>(QStringLiteral("lstPropietario"));
        type(QStringLiteral("Text12"), QStringLiteral("m"));
        QCOMPARE(entries(QStringLiteral("lstPropietario")),
                 (QStringList{QStringLiteral("Muñoz Ana"), QStringLiteral("mora luis")}));
        QVERIFY(list->isVisible());
        QCOMPARE(list->height(), heightOf(2 * 300));
        QCOMPARE(list->currentRow(), -1);
        type(QStringLiteral("Text12"), QStringLiteral("uñ")); // an accented prefix
        QCOMPARE(entries(QStringLiteral("lstPropietario")),
                 QStringList{QStringLiteral("Muñoz Ana")});

        get<QLineEdit>(QStringLiteral("Text12"))->setText(QStringLiteral("SOTO")); // equal value
        QCOMPARE(entries(QStringLiteral("lstPropietario")), QStringList{QStringLiteral("Soto")});
        get<QLineEdit>(QStringLiteral("Text12"))->setText(QStringLiteral("   "));
        QVERIFY(!list->isVisible());
        get<QLineEdit>(QStringLiteral("Text12"))->setText(QStringLiteral(" p")); // leading space
        QCOMPARE(entries(QStringLiteral("lstPropietario")), QStringList{QStringLiteral(" Peña")});
        get<QLineEdit>(QStringLiteral("Text12"))->setText(QStringLiteral("x"));
        QVERIFY(!list->isVisible());
    }

    void heightsPerEntryAndLongListsScrollInsideTheWindow() {
        auto* lugar = get<browse::TypeAheadList>(QStringLiteral("lstLugar"));
        get<QLineEdit>(QStringLiteral("Text2"))->setText(QStringLiteral("san "));
        QCOMPARE(lugar->count(), 3);
        QCOMPARE(lugar->height(), heightOf(900));
        get<QLineEdit>(QStringLiteral("Text2"))->setText(QStringLiteral("SA"));
        QCOMPARE(lugar->count(), 4);
        QCOMPARE(lugar->height(), heightOf(800));

        auto* imp = get<browse::TypeAheadList>(QStringLiteral("lstImplantador"));
        get<QLineEdit>(QStringLiteral("Text1"))->setText(QStringLiteral("imp"));
        QCOMPARE(imp->count(), 170);
        QCOMPARE(imp->text(169), QStringLiteral("Imp 169"));
        QCOMPARE(imp->geometry().bottom() + 1, window_->height());
        QVERIFY(imp->verticalScrollBar()->maximum() > 0);
    }

    void noListOutsideEntryMode() {
        entry_ = false;
        get<QLineEdit>(QStringLiteral("Text12"))->setText(QStringLiteral("m"));
        QVERIFY(!get<browse::TypeAheadList>(QStringLiteral("lstPropietario"))->isVisible());
        QVERIFY(!index_->isBuilt(Propietario));
    }

    void takingAnEntryFillsTheBoxAndMovesOn() {
        auto* list = get<browse::TypeAheadList>(QStringLiteral("lstPropietario"));
        type(QStringLiteral("Text12"), QStringLiteral("m"));
        QTest::keyClick(get<QLineEdit>(QStringLiteral("Text12")), Qt::Key_Down);
        QCOMPARE(focused(), QStringLiteral("lstPropietario"));
        QCOMPARE(list->currentRow(), 0);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(get<QLineEdit>(QStringLiteral("Text12"))->text(), QStringLiteral("Muñoz Ana"));
        QVERIFY(!list->isVisible());
        QCOMPARE(focused(), QStringLiteral("Text13"));

        // Enter with nothing selected empties the box.
        type(QStringLiteral("Text12"), QStringLiteral("m"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Enter);
        QCOMPARE(get<QLineEdit>(QStringLiteral("Text12"))->text(), QString());
        QCOMPARE(focused(), QStringLiteral("Text13"));

        // The last list's target, the grid, is disabled while entering: the next control that
        // can take the focus gets it.
        type(QStringLiteral("Text19"), QStringLiteral("+"));
        QTest::keyClick(get<QLineEdit>(QStringLiteral("Text19")), Qt::Key_Down);
        QTest::keyClick(get<browse::TypeAheadList>(QStringLiteral("lstTelefono2")), Qt::Key_Return);
        QCOMPARE(get<QLineEdit>(QStringLiteral("Text19"))->text(), QStringLiteral("+56 2"));
        QCOMPARE(focused(), QStringLiteral("cmdAgregar"));
    }

    void enterMovesOnLikeTab() {
        // In the search, Enter in the code goes to "Ok", and Enter there runs it.
        get<QPushButton>(QStringLiteral("btnBuscarOK"))->show();
        get<QPushButton>(QStringLiteral("btnBuscarFin"))->show();
        get<QLineEdit>(QStringLiteral("Text3"))->setFocus();
        QTest::keyClick(get<QLineEdit>(QStringLiteral("Text3")), Qt::Key_Return);
        QCOMPARE(focused(), QStringLiteral("btnBuscarOK"));
        QTest::keyClick(get<QPushButton>(QStringLiteral("btnBuscarOK")), Qt::Key_Return);
        QCOMPARE(okClicks_, 1);
        get<QPushButton>(QStringLiteral("btnBuscarOK"))->hide();
        get<QPushButton>(QStringLiteral("btnBuscarFin"))->hide();

        const std::pair<const char*, const char*> moves[] = {
            {"Text3", "DTPicker1"}, {"Text5", "DTPicker2"}, {"Text10", "Text12"}};
        for (const auto& [from, to] : moves) {
            get<QLineEdit>(QString::fromLatin1(from))->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(focusedControl(), QString::fromLatin1(to));
        }

        type(QStringLiteral("Text16"), QStringLiteral("los"));
        QVERIFY(get<browse::TypeAheadList>(QStringLiteral("lstDomicilio"))->isVisible());
        QTest::keyClick(get<QLineEdit>(QStringLiteral("Text16")), Qt::Key_Return);
        QVERIFY(!get<browse::TypeAheadList>(QStringLiteral("lstDomicilio"))->isVisible());
        QCOMPARE(focused(), QStringLiteral("Text6"));
        QTest::keyClick(get<QLineEdit>(QStringLiteral("Text6")), Qt::Key_Return);
        QCOMPARE(focused(), QStringLiteral("Text6"));
    }

    void focusOnAFieldHidesOpenLists() {
        for (const char16_t* name : {u"DTPicker1", u"Option1", u"Text4"}) {
            type(QStringLiteral("Text12"), QStringLiteral("m"));
            QVERIFY(get<browse::TypeAheadList>(QStringLiteral("lstPropietario"))->isVisible());
            get<QWidget>(QString::fromUtf16(name))->setFocus();
            QVERIFY2(!get<browse::TypeAheadList>(QStringLiteral("lstPropietario"))->isVisible(),
                     qPrintable(QString::fromUtf16(name)));
            get<QLineEdit>(QStringLiteral("Text12"))->clear();
        }
    }

    // The two sex options are one stop, as for Tab: Qt keeps only one of two exclusive radio
    // buttons in the tab chain, and arrow keys move between them.
    void keyboardAloneGoesFromTheCodeToTheSecondTelephone() {
        const QStringList expected = {
            QStringLiteral("Text3"),     QStringLiteral("DTPicker1"),
            QStringLiteral("Text2"),     QStringLiteral("Text4"),
            QStringLiteral("Text1"),     QStringLiteral("Text5"),
            QStringLiteral("DTPicker2"), QStringLiteral("cmbEspecie"),
            QStringLiteral("cmbRaza"),   QStringLiteral("Text9"),
            QStringLiteral("Option1"),   QStringLiteral("cmbEstadoReproductivo"),
            QStringLiteral("cmbTamano"), QStringLiteral("Text10"),
            QStringLiteral("Text12"),    QStringLiteral("Text13"),
            QStringLiteral("Text14"),    QStringLiteral("Text15"),
            QStringLiteral("Text16"),    QStringLiteral("Text6"),
            QStringLiteral("Text7"),     QStringLiteral("Text17"),
            QStringLiteral("Text18"),    QStringLiteral("Text19")};
        get<QLineEdit>(QStringLiteral("Text3"))->setFocus();
        QStringList visited = {focusedControl()};
        while (visited.size() < expected.size()) {
            const QString at = visited.last();
            // Date pickers, number and flat keep their own Enter: Tab moves on from them.
            const bool tab = at.startsWith(u"DTPicker") || at == u"Text6" || at == u"Text7";
            QTest::keyClick(QApplication::focusWidget(), tab ? Qt::Key_Tab : Qt::Key_Return);
            visited.append(focusedControl());
        }
        QCOMPARE(visited, expected);
    }
};

QTEST_MAIN(TestFindKeys)
#include "test_find_keys.moc"

#include <QTest>
class TestIni : public QObject {
    Q_OBJECT
};
QTEST_GUILESS_MAIN(TestIni)
#include "test_ini.moc"

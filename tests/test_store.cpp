#include <QTest>
class TestStore : public QObject {
    Q_OBJECT
};
QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"

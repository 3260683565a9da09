#include "Startup.h"

#include "CardStore.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QMessageBox>

namespace app {

int runProgram(const store::CommandLine& command) {
    const store::Folders& folders = command.folders;
    QDir().mkpath(folders.dataDir);
    store::Status status;
    auto cards = store::CardStore::open(folders.appFile(store::kDatabaseFileName), &status);
    if (!status)
        QMessageBox::warning(nullptr, QStringLiteral("Tarjeta de Identificacion"),
                             status.message());
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Tarjeta de Identificacion"));
    window.show();
    return QApplication::exec();
}

} // namespace app

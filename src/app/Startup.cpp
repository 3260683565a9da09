#include "Startup.h"

#include "History.h"

#include "Backup.h"
#include "Browse.h"
#include "CardGrid.h"
#include "CardStore.h"
#include "Certificate.h"
#include "Commands.h"
#include "CopyToServer.h"
#include "Import.h"
#include "Ini.h"
#include "Intake.h"
#include "MainWindow.h"
#include "Merge.h"
#include "MessageBoxes.h"
#include "ReportCommand.h"
#include "ReportLink.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace app {

namespace {
// How long after start-up the day's backup copy begins: after the first paint, and after the
// store's start-up reads, even on a slow machine.
constexpr int kDailyBackupDelayMs = 2000;
} // namespace

QString missingIniMessage() {
    return QStringLiteral("No existe archivo de configuracion .INI\r\n"
                          "Ponganse en contacto con personal de soporte");
}

std::unique_ptr<MainWindow> startUp(const store::Folders& folders, store::MessageLayer& messages,
                                    const store::Clock& clock, StartupHooks hooks) {
    // 1. The data folder; one that exists already is fine.
    QDir().mkpath(folders.dataDir);

    // 2. The working configuration file, copied from the master on first run.
    const QString iniPath = folders.dataFile(store::kIniFileName);
    if (!QFileInfo(iniPath).isFile()) {
        const QString master = folders.masterIniFile();
        if (!QFileInfo(master).isFile()) {
            messages.notice(missingIniMessage());
            return nullptr;
        }
        QFile::copy(master, iniPath); // a failed copy reads as an empty configuration
    }

    // The configuration, whose footer text and lists the window shows. A configuration that is
    // there but cannot be read is said once, naming the file; the window opens with what could be
    // read (nothing).
    QString iniProblem;
    const store::IniFile ini = store::IniFile::load(iniPath, &iniProblem);
    if (!iniProblem.isEmpty())
        messages.notice(QStringLiteral("No se pudo leer la configuración %1: %2.\r\nEl programa "
                                       "se abre sin el pie de la tarjeta ni las listas de la "
                                       "configuración. Revise ese archivo, o bórrelo para que se "
                                       "copie de nuevo la configuración maestra.")
                            .arg(QDir::toNativeSeparators(iniPath), iniProblem));

    // The card store and its shared cursor: DAT.db, or the server database the command line
    // or the configuration names. Without it the window opens empty, and the user is told why
    // once.
    store::Status status;
    const store::Registry registry = store::chooseRegistry(folders, ini, &status);
    // A practice moving over from the old program: its DAT.MDB becomes DAT.db on the first start.
    if (!registry.isEmpty() && !registry.isServer())
        import::importOnFirstStart(folders, messages);
    std::unique_ptr<store::CardStore> cards =
        registry.isEmpty() ? nullptr : store::CardStore::open(registry, &status);
    // The grid needs the number of cards, which a file of a million takes milliseconds to count:
    // counted on the store's thread while the window is built. A server keeps its count.
    if (cards && !registry.isServer()) {
        cards->workOnOwnThread();
        cards->countAhead();
    }

    auto window = std::make_unique<MainWindow>(folders, messages, clock);

    // Version label.
    window->setVersionText(QStringLiteral("Version 4.5"));

    // Footer text of the printed card.
    window->setTextoPie(store::LeeIni(ini, store::kIniSectionVersion, QStringLiteral("PIE")));

    // Not entering a card.
    window->setEnEdicion(false);

    if (!cards) {
        // The engine's own words, in English, go last: they are for support, not for the user.
        messages.notice(QStringLiteral("No se pudo abrir el registro de tarjetas %1.\r\n%2\r\n"
                                       "El programa se abre sin tarjetas.%3")
                            .arg(registry.isEmpty() ? QStringLiteral("de la configuración")
                                                    : registry.describe(),
                                 status.summary(), status.detailLine()));
        // The title says so for as long as the window is open.
        window->setWindowTitle(store::kDefaultTitle +
                               QStringLiteral(" - sin registro de tarjetas abierto"));
    } else if (registry.isServer()) {
        // Several workstations may work on different servers or bases: each says which it has.
        window->setWindowTitle(store::kDefaultTitle + QStringLiteral(" - ") + registry.describe());
    }
    window->setRegistryText(cards ? registry.describe() : QString());
    window->setCardStore(std::move(cards));

    // The day's backup copy of the registry, made while the window works; a store that could not
    // be opened is not copied (the user was just told why), and a server's database is copied by
    // the server's own tools (pg_dump), not by each workstation. Its steps run on the window's
    // event loop, also while the window waits for the store: begun at once, they would hold up
    // the first card and the first paint by tens of milliseconds at a million cards, so the copy
    // begins a moment after them.
    if (hooks.dailyBackup && window->cardStore() && !registry.isServer())
        store::DailyBackup::startIfDue(folders, clock, messages, window.get(), kDailyBackupDelayMs);

    // 8. Grid set-up.
    window->llenaGrilla();

    // 9. Web card intake, which decides the order of the rows.
    bool codeOrder = false;
    if (hooks.webIntake) {
        codeOrder = hooks.webIntake(*window);
    } else if (store::CardStore* store = window->cardStore()) {
        // Without a store the file waits in the data folder for the next start.
        codeOrder = intake::takeInWebCards(*store, folders, messages, clock).listingOrder() ==
                    store::Order::ByCode;
    }

    // 10. One grid row per card.
    if (store::CardStore* store = window->cardStore()) {
        const qint64 count = store->recordCount(&status);
        if (!status) {
            messages.notice(status.message());
        } else if (count >= 1) {
            // Stored order through the window, which pages through it by id from the first card.
            status = codeOrder ? browse::fillGrid(*window->grid(), *store, store::Order::ByCode)
                               : window->gridShowStored(*store, store::kNoRow, nullptr);
            if (status && !codeOrder && window->gridRows() > 1)
                window->grid()->setCurrentRow(1);
            if (!status)
                messages.notice(status.message());
        }
    }

    // 11. The four combo lists.
    window->fillCombos(ini);

    // 12. The customer's logo, when it is a loadable picture.
    const QString logo = folders.dataFile(store::kLogoFileName);
    if (QFileInfo(logo).isFile())
        window->loadLogo(logo);

    // 13. Run-time captions.
    window->setRunTimeCaptions();

    // The commands of the buttons, the keys and the lists.
    new Commands(*window, std::move(hooks.printer));

    // 14. Browse mode, which loads the first card.
    window->modoConsulta();
    return window;
}

namespace {

QString fontSubstituteNotice(const QString& arialResolvesTo) {
    if (arialResolvesTo == u"Arial" || arialResolvesTo == u"Liberation Sans")
        return {};
    return QStringLiteral("No está instalada la fuente Arial ni Liberation Sans: el programa usa "
                          "%1 en su lugar.\r\nLas tarjetas impresas pueden no calzar con el papel "
                          "preimpreso. Instale el paquete fonts-liberation.")
        .arg(arialResolvesTo);
}

// For timing start-up from outside the process: once the window with its first card has been
// painted, says so on standard output and ends the program.
void reportFirstPaint(QWidget* window) {
    struct Watch : QObject {
        using QObject::QObject;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && !seen) {
                seen = true;
                // After the paint that is under way now.
                QTimer::singleShot(0, [] {
                    std::fputs("pintada\n", stdout);
                    std::fflush(stdout);
                    QCoreApplication::quit();
                });
            }
            return false;
        }
        bool seen = false;
    };
    window->installEventFilter(new Watch(window));
}

} // namespace

int runProgram(const store::CommandLine& command) {
    // An installed program keeps DAT.db in a data folder of its own, made on the first start.
    if (command.folders.installed())
        QDir().mkpath(command.folders.appDir);
    const store::Clock clock;
    if (command.report) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        // The page names the registry the command chooses.
        return report::runReportCommand(
            command.folders, {command.reportFrom, command.reportTo},
            report::groupingFromWord(command.reportBy).value_or(report::Grouping::Month),
            command.reportPath, reportPageContext(command.folders, store::Registry()), clock, out,
            err);
    }
    if (!command.importMdb.isEmpty() || !command.restoreFrom.isEmpty()) {
        // Both work on the file DAT.db; with a server registry they would change a file nobody
        // uses.
        store::Status chosen;
        if (store::chooseRegistry(command.folders, &chosen).isServer() || !chosen) {
            QTextStream err(stderr);
            err << (chosen ? QStringLiteral("El registro de tarjetas está en un servidor "
                                            "PostgreSQL: --import-mdb y --restaurar trabajan sólo "
                                            "con el archivo DAT.db. Para respaldar o restaurar la "
                                            "base del servidor use pg_dump y pg_restore.\n")
                           : chosen.message() + u'\n');
            return 1;
        }
    }
    if (!command.copyToServer.isEmpty()) {
        QTextStream out(stdout);
        return store::runCopyToServerCommand(command.folders, command.copyToServer, out);
    }
    if (!command.restoreFrom.isEmpty()) {
        QTextStream out(stdout);
        return store::runRestoreCommand(command.folders, command.restoreFrom, out, clock.now());
    }
    if (command.purgeHistoryDays >= 0) {
        QTextStream out(stdout);
        return store::runPurgeCommand(command.folders, command.purgeHistoryDays, out,
                                      QDateTime::currentDateTimeUtc());
    }
    if (!command.mergeFrom.isEmpty()) {
        QTextStream out(stdout);
        return merge::runMergeCommand(command.folders, command.mergeFrom, command.mergeTakeOther,
                                      clock, out);
    }
    if (!command.importMdb.isEmpty()) {
        QTextStream out(stdout);
        // A copy of the registry as it was before the import, to go back to.
        if (const store::Status status = store::backupNow(command.folders, clock.today()); !status)
            out << QStringLiteral("No se pudo hacer la copia de respaldo del registro antes de "
                                  "importar: %1.\nLa importación sigue.\n")
                       .arg(status.message());
        return import::runImportCommand(command.folders, command.importMdb, out);
    }
    if (!command.certificateCode.isEmpty()) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        return output::runCertificateCommand(command.folders, command.certificateCode,
                                             command.certificatePdf, clock, out, err);
    }
    MessageBoxes messages;
    std::unique_ptr<MainWindow> window = startUp(command.folders, messages, clock);
    if (!window)
        return 0;
    messages.setParent(window.get());
    window->show();
    if (qEnvironmentVariableIsSet("TARJETAS_START_PROBE"))
        reportFirstPaint(window.get());
    // The card and listing layouts are measured in Arial's metrics: with another font, text runs
    // into the stationery's labels.
    const QString fontNotice =
        fontSubstituteNotice(QFontInfo(QFont(QStringLiteral("Arial"))).family());
    if (!fontNotice.isEmpty())
        messages.notice(fontNotice);
    return QApplication::exec();
}

} // namespace app

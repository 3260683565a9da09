// Times the day's backup copy of a card store as the window makes it: backup_registry STORE OUT.
// Runs store::DailyBackup on an event loop with a 1 ms pulse beside it and prints the total time,
// the longest step and the longest the event loop went without running the pulse.
#include "Backup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// Answers nothing: a failure is printed from its text.
class PrintedMessages : public store::MessageLayer {
public:
    void notice(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void inform(const QString& text, const QString&, Icon) override { notice(text); }
    Answer askYesNo(const QString&, const QString&, Answer a) override { return a; }
    Answer askYesNoCancel(const QString&, const QString&, Answer a) override { return a; }
    QString chooseFileToOpen(const QString&, const QString&, const QString&) override { return {}; }
};

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: backup_registry STORE OUT\n");
        return 2;
    }
    PrintedMessages messages;
    store::DailyBackup backup(args[1], args[2], messages);
    QElapsedTimer total, tick;
    double longestStall = 0;
    QTimer pulse;
    pulse.setInterval(1);
    QObject::connect(&pulse, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, ms(tick));
        tick.start();
    });
    bool ok = false;
    QObject::connect(&backup, &store::DailyBackup::finished, [&](bool done) {
        ok = done;
        app.quit();
    });
    total.start();
    tick.start();
    pulse.start();
    backup.start();
    app.exec();
    std::printf("{\"backup_ms\": %.0f, \"longest_step_ms\": %.1f, \"longest_stall_ms\": %.1f, "
                "\"ok\": %s}\n",
                ms(total), backup.longestStepMs(), longestStall, ok ? "true" : "false");
    return ok ? 0 : 1;
}

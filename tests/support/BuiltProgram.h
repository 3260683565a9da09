#pragma once

// The built program, copied into a test's own application folder and run there as a process
// (tests that define TARJETAS_EXECUTABLE).

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testsupport {

// The copy's file name: the built program's own ("tarjetas", or "tarjetas.exe" on Windows).
inline QString builtProgramName() {
    return QFileInfo(QStringLiteral(TARJETAS_EXECUTABLE)).fileName();
}

// The environment of a run without a display. On Windows the copy finds its libraries beside
// the built program, through PATH, and Qt's plugins there (the offscreen platform that the
// certificate and the report paint with, the SQLite driver) through QT_PLUGIN_PATH.
inline QProcessEnvironment noDisplayEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1StringView(name));
#ifdef Q_OS_WIN
    const QString built = QFileInfo(QStringLiteral(TARJETAS_EXECUTABLE)).absolutePath();
    env.insert(QStringLiteral("PATH"),
               QDir::toNativeSeparators(built) + u';' + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("QT_PLUGIN_PATH"), QDir::toNativeSeparators(built));
#endif
    return env;
}

// Copies the built program into appDir, with what lies beside it on Windows (qt.conf, which
// points Qt at its Spanish texts in translations/); returns the files copied, sorted, or an
// empty list when a copy failed.
inline QStringList copyBuiltProgram(const QString& appDir) {
    const QDir built = QFileInfo(QStringLiteral(TARJETAS_EXECUTABLE)).absoluteDir();
    QStringList files{builtProgramName()};
#ifdef Q_OS_WIN
    files.append(QStringLiteral("qt.conf"));
    const QString qm = QStringLiteral("translations/qtbase_es.qm");
    if (!QDir(appDir).mkpath(QStringLiteral("translations")) ||
        !QFile::copy(built.filePath(qm), QDir(appDir).filePath(qm)))
        return {};
#endif
    for (const QString& name : files) {
        if (!QFile::copy(built.filePath(name), QDir(appDir).filePath(name)))
            return {};
    }
    const QString program = QDir(appDir).filePath(builtProgramName());
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    files.sort();
    return files;
}

// What the program wrote, as text with Unix line ends (Windows writes CR LF).
inline QString programText(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace testsupport

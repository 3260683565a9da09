#include "QtTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>

#include <cstring>
#include <utility>

namespace app {

namespace {

// Texts Qt's Spanish translation does not have, by their English source.
constexpr std::pair<const char*, const char*> kMissing[] = {
    {"Folder", "Carpeta"}, {"File Folder", "Carpeta"}, {"Drive", "Unidad"},
    {"File", "Archivo"},   {"%1 File", "Archivo %1"},  {"Shortcut", "Acceso directo"},
    {"Alias", "Alias"},
};

} // namespace

bool QtTexts::load() {
    return qtbase_.load(QLocale(QLocale::Spanish, QLocale::Chile), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

QString QtTexts::inProgramWords(QString text) {
    // Longest first, so that an article changes with its noun ("el directorio" is "la carpeta").
    static const std::pair<QRegularExpression, QString> kWords[] = {
        {QRegularExpression(QStringLiteral("\\bdel directorio\\b")),
         QStringLiteral("de la carpeta")},
        {QRegularExpression(QStringLiteral("\\bel directorio\\b")), QStringLiteral("la carpeta")},
        {QRegularExpression(QStringLiteral("\\bEl directorio\\b")), QStringLiteral("La carpeta")},
        {QRegularExpression(QStringLiteral("\\bun directorio\\b")), QStringLiteral("una carpeta")},
        {QRegularExpression(QStringLiteral("\\bdirectorios\\b")), QStringLiteral("carpetas")},
        {QRegularExpression(QStringLiteral("\\bDirectorios\\b")), QStringLiteral("Carpetas")},
        {QRegularExpression(QStringLiteral("\\bdirectorio\\b")), QStringLiteral("carpeta")},
        {QRegularExpression(QStringLiteral("\\bDirectorio\\b")), QStringLiteral("Carpeta")},
        {QRegularExpression(QStringLiteral("\\bficheros\\b")), QStringLiteral("archivos")},
        {QRegularExpression(QStringLiteral("\\bFicheros\\b")), QStringLiteral("Archivos")},
        {QRegularExpression(QStringLiteral("\\bfichero\\b")), QStringLiteral("archivo")},
        {QRegularExpression(QStringLiteral("\\bFichero\\b")), QStringLiteral("Archivo")},
    };
    for (const auto& [word, replacement] : kWords)
        text.replace(word, replacement);
    return text;
}

QString QtTexts::translate(const char* context, const char* sourceText, const char* disambiguation,
                           int n) const {
    const QString text = qtbase_.translate(context, sourceText, disambiguation, n);
    if (!text.isEmpty())
        return inProgramWords(text);
    if (context && std::strncmp(context, "Q", 1) == 0) {
        for (const auto& [english, spanish] : kMissing) {
            if (sourceText && std::strcmp(sourceText, english) == 0)
                return QString::fromUtf8(spanish);
        }
    }
    return {};
}

void installQtTexts() {
    static QtTexts texts;
    texts.load();
    QCoreApplication::installTranslator(&texts);
}

} // namespace app

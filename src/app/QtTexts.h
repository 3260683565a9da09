#pragma once

#include <QTranslator>

// Qt's own dialog texts (file dialogs, the print dialog) in the Spanish of the rest of the
// program: Qt's Spanish translation, with "archivo" and "carpeta" where it says "fichero" and
// "directorio", and the few texts it leaves in English put into Spanish.
namespace app {

class QtTexts : public QTranslator {
public:
    // Loads Qt's Spanish translation; false when it is not installed (the fixes still apply).
    bool load();
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;

    // One Qt Spanish text in the program's words.
    static QString inProgramWords(QString text);

private:
    QTranslator qtbase_;
};

// Installs one QtTexts for the application's lifetime.
void installQtTexts();

} // namespace app

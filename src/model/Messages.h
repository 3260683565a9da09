#pragma once

#include <QString>

namespace store {

// The program's message boxes. Every message goes through this interface: the window hands the
// QMessageBox implementation to the subsystems, tests hand a scripted one that records what was
// asked and answers.
class MessageLayer {
public:
    enum class Answer { Ok, Yes, No, Cancel };
    enum class Icon { None, Information, Warning, Critical, Question };

    virtual ~MessageLayer() = default;

    // OK only, no icon, the program's default title.
    virtual void notice(const QString& text) = 0;
    // OK only, with an icon and a title of its own.
    virtual void inform(const QString& text, const QString& title,
                        Icon icon = Icon::Information) = 0;
    // Yes/No; `defaultAnswer` is Yes or No.
    virtual Answer askYesNo(const QString& text, const QString& title, Answer defaultAnswer) = 0;
    // Yes/No/Cancel; `defaultAnswer` is Yes, No or Cancel.
    virtual Answer askYesNoCancel(const QString& text, const QString& title,
                                  Answer defaultAnswer) = 0;
    // An existing file chosen by the user to open, under `title`, starting in `folder`, offering
    // `filter` (QFileDialog's syntax); empty when the user cancels.
    virtual QString chooseFileToOpen(const QString& title, const QString& folder,
                                     const QString& filter) = 0;
};

inline const QString kDefaultTitle = QStringLiteral("Tarjeta de Identificacion");

} // namespace store

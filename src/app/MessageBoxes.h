#pragma once

#include "Messages.h"

#include <QPointer>
#include <QWidget>

namespace app {

// What a box shows for a message text: the text with plain line breaks, or, when it holds tabs,
// rich text that keeps the values after the tabs in one column.
QString boxText(const QString& text);

// The program's message boxes as modal QMessageBoxes over the main window.
class MessageBoxes : public store::MessageLayer {
public:
    explicit MessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    void notice(const QString& text) override;
    void inform(const QString& text, const QString& title, Icon icon) override;
    Answer askYesNo(const QString& text, const QString& title, Answer defaultAnswer) override;
    Answer askYesNoCancel(const QString& text, const QString& title, Answer defaultAnswer) override;
    QString chooseFileToOpen(const QString& title, const QString& folder,
                             const QString& filter) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace app

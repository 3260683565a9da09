#pragma once

#include "Messages.h"

#include <QPointer>
#include <QWidget>

namespace app {

// The program's message boxes as modal QMessageBoxes over the main window.
class MessageBoxes : public store::MessageLayer {
public:
    explicit MessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    void notice(const QString& text) override;
    void inform(const QString& text, const QString& title, Icon icon) override;
    Answer askYesNo(const QString& text, const QString& title, Answer defaultAnswer) override;
    Answer askYesNoCancel(const QString& text, const QString& title, Answer defaultAnswer) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace app

#include "MessageBoxes.h"

#include <QMessageBox>

namespace app {

namespace {

// Texts carry Windows line breaks ("\r\n"); a box shows a plain line break.
QString displayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    return shown;
}

QMessageBox::Icon boxIcon(store::MessageLayer::Icon icon) {
    using I = store::MessageLayer::Icon;
    switch (icon) {
    case I::Information:
        return QMessageBox::Information;
    case I::Warning:
        return QMessageBox::Warning;
    case I::Critical:
        return QMessageBox::Critical;
    case I::Question:
        return QMessageBox::Question;
    case I::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton button(store::MessageLayer::Answer answer) {
    using A = store::MessageLayer::Answer;
    switch (answer) {
    case A::Yes:
        return QMessageBox::Yes;
    case A::No:
        return QMessageBox::No;
    case A::Cancel:
        return QMessageBox::Cancel;
    case A::Ok:
        break;
    }
    return QMessageBox::Ok;
}

store::MessageLayer::Answer answerOf(int clicked, store::MessageLayer::Answer whenClosed) {
    using A = store::MessageLayer::Answer;
    switch (clicked) {
    case QMessageBox::Yes:
        return A::Yes;
    case QMessageBox::No:
        return A::No;
    case QMessageBox::Cancel:
        return A::Cancel;
    case QMessageBox::Ok:
        return A::Ok;
    default:
        return whenClosed;
    }
}

} // namespace

void MessageBoxes::notice(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, store::kDefaultTitle, displayText(text), QMessageBox::Ok,
                    parent_);
    box.exec();
}

void MessageBoxes::inform(const QString& text, const QString& title, Icon icon) {
    QMessageBox box(boxIcon(icon), title.isEmpty() ? store::kDefaultTitle : title,
                    displayText(text), QMessageBox::Ok, parent_);
    box.exec();
}

MessageBoxes::Answer MessageBoxes::askYesNo(const QString& text, const QString& title,
                                            Answer defaultAnswer) {
    // The program's questions carry no icon, only their title and buttons.
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? store::kDefaultTitle : title,
                    displayText(text), QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(button(defaultAnswer == Answer::Yes ? Answer::Yes : Answer::No));
    box.setEscapeButton(QMessageBox::No);
    return answerOf(box.exec(), Answer::No);
}

MessageBoxes::Answer MessageBoxes::askYesNoCancel(const QString& text, const QString& title,
                                                  Answer defaultAnswer) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? store::kDefaultTitle : title,
                    displayText(text), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    parent_);
    box.setDefaultButton(button(defaultAnswer));
    box.setEscapeButton(QMessageBox::Cancel);
    return answerOf(box.exec(), Answer::Cancel);
}

} // namespace app

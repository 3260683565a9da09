#include "MessageBoxes.h"

#include <QFileDialog>
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

QString htmlCell(const QString& text) {
    QString cell = text.toHtmlEscaped();
    cell.replace(u'\t', u' ');
    cell.replace(u' ', QStringLiteral("&nbsp;"));
    return cell;
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

// Plain text unless tabs ask for the table: a file name or a value from a file that looks like
// markup is shown as it is.
void setBoxText(QMessageBox& box, const QString& text) {
    box.setTextFormat(text.contains(u'\t') ? Qt::RichText : Qt::PlainText);
    box.setText(boxText(text));
}

} // namespace

QString boxText(const QString& text) {
    const QString shown = displayText(text);
    if (!shown.contains(u'\t'))
        return shown;
    // The texts are written for Windows boxes, whose tab stops are eight average characters
    // apart: "MicroChip:" and a tab, "Lugar: " and two tabs put their values in one column. Qt's
    // stops are far wider and would scatter them, so the column is made a table's: what
    // follows the first run of tabs of a line goes into its second cell.
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"0\">");
    for (const QString& line : shown.split(u'\n')) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab < 0) {
            html += QStringLiteral("<tr><td colspan=\"2\">") + htmlCell(line) +
                    QStringLiteral("</td></tr>");
            continue;
        }
        qsizetype value = tab;
        while (value < line.size() && line[value] == u'\t')
            ++value;
        html += QStringLiteral("<tr><td>") + htmlCell(line.left(tab)) +
                QStringLiteral("</td><td style=\"padding-left: 4px\">") +
                htmlCell(line.mid(value)) + QStringLiteral("</td></tr>");
    }
    return html + QStringLiteral("</table>");
}

void MessageBoxes::notice(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, store::kDefaultTitle, QString(), QMessageBox::Ok, parent_);
    setBoxText(box, text);
    box.exec();
}

void MessageBoxes::inform(const QString& text, const QString& title, Icon icon) {
    QMessageBox box(boxIcon(icon), title.isEmpty() ? store::kDefaultTitle : title, QString(),
                    QMessageBox::Ok, parent_);
    setBoxText(box, text);
    box.exec();
}

MessageBoxes::Answer MessageBoxes::askYesNo(const QString& text, const QString& title,
                                            Answer defaultAnswer) {
    // The program's questions carry no icon, only their title and buttons.
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? store::kDefaultTitle : title, QString(),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    setBoxText(box, text);
    box.setDefaultButton(button(defaultAnswer == Answer::Yes ? Answer::Yes : Answer::No));
    box.setEscapeButton(QMessageBox::No);
    return answerOf(box.exec(), Answer::No);
}

MessageBoxes::Answer MessageBoxes::askYesNoCancel(const QString& text, const QString& title,
                                                  Answer defaultAnswer) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? store::kDefaultTitle : title, QString(),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent_);
    setBoxText(box, text);
    box.setDefaultButton(button(defaultAnswer));
    box.setEscapeButton(QMessageBox::Cancel);
    return answerOf(box.exec(), Answer::Cancel);
}

QString MessageBoxes::chooseFileToOpen(const QString& title, const QString& folder,
                                       const QString& filter) {
    // Qt's own chooser, the same on every desktop and under Wine.
    return QFileDialog::getOpenFileName(parent_, title, folder, filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

} // namespace app

#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace browse {

// The controls of the main window in tab order, by objectName: the code field and the search
// buttons, the entry fields with their type-ahead lists, the grid and the command buttons.
const QStringList& tabOrder();

// The control that takes the focus when it moves on from `from` as Tab would: the next control of
// the tab order (or `from` itself when `includeFrom`) that exists, is visible, enabled and takes
// the focus by keyboard, going round past the last. Null when none can or `from` is not in it.
QWidget* nextInTabOrder(QWidget* window, const QString& from, bool includeFrom = false);

// Chains the window's controls with QWidget::setTabOrder in the order above, so that a real Tab
// goes where Enter goes. Controls the window lacks are left out.
void applyTabOrder(QWidget* window);

} // namespace browse

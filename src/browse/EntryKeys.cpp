#include "EntryKeys.h"

#include "TabOrder.h"
#include "TypeAheadLists.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace browse {

EntryKeys::EntryKeys(QWidget* window, TypeAheadLists* lists, QObject* parent)
    : QObject(parent), window_(window), lists_(lists) {
    const unsigned plain = EnterAsTab | FocusHidesLists;
    for (const char16_t* name :
         {u"Text3", u"Text4", u"Text5", u"Text10", u"Text17", u"cmbEspecie", u"cmbRaza",
          u"cmbEstadoReproductivo", u"cmbTamano", u"Option1", u"Option2"})
        watch(QString::fromUtf16(name), plain);
    for (const TypeAheadPair& pair : typeAheadPairs())
        watch(pair.box, plain | HidesOwnList);
    watch(QStringLiteral("DTPicker1"), FocusHidesLists);
    watch(QStringLiteral("DTPicker2"), FocusHidesLists);
    for (const char16_t* name :
         {u"btnBuscarOK", u"btnBuscarFin", u"cmdListado", u"cmdImprimir", u"Command1", u"cmdExcel",
          u"cmdBuscar", u"cmdAgregar", u"cmdEditar", u"cmdCopiar", u"cmdEliminar", u"cmdSalir"})
        watch(QString::fromUtf16(name), EnterClicks);
}

void EntryKeys::watch(const QString& name, unsigned roles) {
    QWidget* w = window_->findChild<QWidget*>(name);
    if (!w) {
        qWarning("entry keys: %s missing", qPrintable(name));
        return;
    }
    w->installEventFilter(this);
    watched_.insert(w, {name, roles});
    // Editable combos type into an inner line edit, which may hold the focus and see the keys
    // first.
    for (QLineEdit* inner : w->findChildren<QLineEdit*>()) {
        inner->installEventFilter(this);
        watched_.insert(inner, {name, roles});
    }
}

void EntryKeys::focusNext(const QString& from) {
    if (QWidget* next = nextInTabOrder(window_, from))
        next->setFocus(Qt::TabFocusReason);
}

bool EntryKeys::eventFilter(QObject* watched, QEvent* event) {
    const auto found = watched_.constFind(watched);
    if (found == watched_.constEnd())
        return QObject::eventFilter(watched, event);
    const Watched& w = *found;

    if (event->type() == QEvent::FocusIn) {
        if ((w.roles & FocusHidesLists) && lists_)
            lists_->ocultaListas();
        return QObject::eventFilter(watched, event);
    }
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);

    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && (w.roles & EnterAsTab)) {
        if ((w.roles & HidesOwnList) && lists_)
            lists_->hideListOf(w.name);
        focusNext(w.name);
        return true;
    }
    // Enter on the numeric keypad carries the keypad modifier: it acts as the main Enter.
    if (enter && (w.roles & EnterClicks) &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto* button = qobject_cast<QAbstractButton*>(watched); button && button->isEnabled())
            button->click();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace browse

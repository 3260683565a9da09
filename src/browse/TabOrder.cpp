#include "TabOrder.h"

#include <QWidget>

namespace browse {

namespace {

QWidget* control(QWidget* window, const QString& name) {
    return window->findChild<QWidget*>(name);
}

// The widget that really receives the focus for a control (a wrapper may hand it to a child).
QWidget* focusReceiver(QWidget* w) {
    while (w->focusProxy())
        w = w->focusProxy();
    return w;
}

bool canTakeFocus(QWidget* window, QWidget* w) {
    if (!w || !w->isVisibleTo(window) || !w->isEnabled())
        return false;
    QWidget* r = focusReceiver(w);
    return r->isEnabled() && (r->focusPolicy() & Qt::TabFocus);
}

QWidget* step(QWidget* window, const QString& from, bool includeFrom) {
    const QStringList& order = tabOrder();
    const qsizetype start = order.indexOf(from);
    if (start < 0)
        return nullptr;
    const qsizetype n = order.size();
    for (qsizetype k = includeFrom ? 0 : 1; k <= n; ++k) {
        const qsizetype i = (start + k) % n;
        QWidget* w = control(window, order[i]);
        if (canTakeFocus(window, w))
            return w;
    }
    return nullptr;
}

} // namespace

const QStringList& tabOrder() {
    static const QStringList order = {
        QStringLiteral("Text3"),          QStringLiteral("btnBuscarOK"),
        QStringLiteral("btnBuscarFin"),   QStringLiteral("DTPicker1"),
        QStringLiteral("Text2"),          QStringLiteral("lstLugar"),
        QStringLiteral("Text4"),          QStringLiteral("Text1"),
        QStringLiteral("lstImplantador"), QStringLiteral("Text5"),
        QStringLiteral("DTPicker2"),      QStringLiteral("cmbEspecie"),
        QStringLiteral("cmbRaza"),        QStringLiteral("Text9"),
        QStringLiteral("lstColor"),       QStringLiteral("Option1"),
        QStringLiteral("Option2"),        QStringLiteral("cmbEstadoReproductivo"),
        QStringLiteral("cmbTamano"),      QStringLiteral("Text10"),
        QStringLiteral("Text12"),         QStringLiteral("lstPropietario"),
        QStringLiteral("Text13"),         QStringLiteral("lstRut"),
        QStringLiteral("Text14"),         QStringLiteral("lstTelefono1"),
        QStringLiteral("Text15"),         QStringLiteral("lstCel"),
        QStringLiteral("Text16"),         QStringLiteral("lstDomicilio"),
        QStringLiteral("Text6"),          QStringLiteral("Text7"),
        QStringLiteral("Text17"),         QStringLiteral("Text18"),
        QStringLiteral("lstContacto"),    QStringLiteral("Text19"),
        QStringLiteral("lstTelefono2"),   QStringLiteral("VSFlexGrid1"),
        QStringLiteral("cmdListado"),     QStringLiteral("cmdImprimir"),
        QStringLiteral("Command1"),       QStringLiteral("cmdExcel"),
        QStringLiteral("cmdBuscar"),      QStringLiteral("cmdAgregar"),
        QStringLiteral("cmdEditar"),      QStringLiteral("cmdCopiar"),
        QStringLiteral("cmdEliminar"),    QStringLiteral("cmdSalir"),
    };
    return order;
}

QWidget* nextInTabOrder(QWidget* window, const QString& from, bool includeFrom) {
    return step(window, from, includeFrom);
}

void applyTabOrder(QWidget* window) {
    QWidget* previous = nullptr;
    for (const QString& name : tabOrder()) {
        QWidget* w = control(window, name);
        if (!w)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

} // namespace browse

#include "IdentifierHints.h"

#include "IdentifierChecks.h"

#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QPalette>
#include <QStyle>

namespace editing {

namespace {

const QString& markStyle() {
    static const QString style = QStringLiteral("\nQLineEdit[") +
                                 QLatin1StringView(IdentifierHints::kMarkProperty) +
                                 QStringLiteral("=\"true\"] { border: 2px solid #d00000; }");
    return style;
}

} // namespace

IdentifierHints::IdentifierHints(QLineEdit* code, QLineEdit* rut, std::function<bool()> active,
                                 QObject* parent)
    : QObject(parent), active_(std::move(active)) {
    code_.edit = code;
    rut_.edit = rut;
    attach(code_);
    attach(rut_);
    if (code)
        connect(code, &QLineEdit::textChanged, this, &IdentifierHints::checkCode);
    if (rut)
        connect(rut, &QLineEdit::textChanged, this, &IdentifierHints::checkRut);
    refresh();
}

IdentifierHints::~IdentifierHints() {
    // Leave the boxes as they were found.
    clear(code_);
    clear(rut_);
}

void IdentifierHints::attach(Box& box) {
    if (!box.edit)
        return;
    box.warning = new QAction(this);
    box.warning->setIcon(box.edit->style()->standardIcon(QStyle::SP_MessageBoxWarning));
    box.edit->installEventFilter(this);
}

bool IdentifierHints::eventFilter(QObject* watched, QEvent* event) {
    // Entering or leaving a card enables or disables the entry fields in the same handler that
    // sets or clears the entry flag, in either order: check once that handler has finished.
    if (event->type() == QEvent::EnabledChange && !refreshQueued_ &&
        (watched == code_.edit || watched == rut_.edit)) {
        refreshQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                refreshQueued_ = false;
                refresh();
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void IdentifierHints::refresh() {
    checkCode();
    checkRut();
}

bool IdentifierHints::isMarked(const QLineEdit* box) {
    return box && box->property(kMarkProperty).toBool();
}

void IdentifierHints::checkCode() {
    if (!code_.edit)
        return;
    const QString text = code_.edit->text();
    if (text.isEmpty() || !active_ || !active_()) {
        clear(code_);
        return;
    }
    const store::ChipInfo chip = store::classifyChip(text);
    show(code_, chip.doubtful(), chip.description);
}

void IdentifierHints::checkRut() {
    if (!rut_.edit)
        return;
    const QString text = rut_.edit->text();
    const store::RutCheck check =
        text.isEmpty() || !active_ || !active_() ? store::RutCheck{} : store::checkRut(text);
    switch (check.verdict) {
    case store::Verdict::Empty:
        clear(rut_);
        break;
    case store::Verdict::Valid:
        show(rut_, false, QStringLiteral("R.U.T. válido"));
        break;
    case store::Verdict::Invalid:
        show(rut_, true, QStringLiteral("R.U.T. no válido\n") + check.explanation);
        break;
    }
}

void IdentifierHints::show(Box& box, bool marked, const QString& toolTip) {
    QLineEdit* edit = box.edit;
    if (!box.hinted) {
        box.ownToolTip = edit->toolTip();
        box.ownStyleSheet = edit->styleSheet();
        box.ownPalette.reset();
        if (edit->testAttribute(Qt::WA_SetPalette))
            box.ownPalette = edit->palette();
        box.hinted = true;
    }
    edit->setToolTip(toolTip);
    box.warning->setToolTip(toolTip);
    if (marked == box.marked)
        return;
    box.marked = marked;
    edit->setProperty(kMarkProperty, marked);
    if (marked) {
        edit->setStyleSheet(box.ownStyleSheet + markStyle());
        edit->addAction(box.warning, QLineEdit::TrailingPosition);
    } else {
        restoreStyle(box);
        edit->removeAction(box.warning);
    }
}

void IdentifierHints::restoreStyle(Box& box) {
    QLineEdit* edit = box.edit;
    edit->setStyleSheet(box.ownStyleSheet);
    // Taking a style sheet off leaves the box with a palette of its own, no longer the window's
    // (whose readable disabled text browse mode relies on): give back what it had.
    edit->setPalette(box.ownPalette ? *box.ownPalette : QPalette());
}

void IdentifierHints::clear(Box& box) {
    if (!box.edit || !box.hinted)
        return;
    QLineEdit* edit = box.edit;
    if (box.marked) {
        edit->setProperty(kMarkProperty, false);
        restoreStyle(box);
        edit->removeAction(box.warning);
        box.marked = false;
    }
    edit->setToolTip(box.ownToolTip);
    box.hinted = false;
}

} // namespace editing

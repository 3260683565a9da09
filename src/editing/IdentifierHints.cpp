#include "IdentifierHints.h"

#include "IdentifierChecks.h"

#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>

namespace editing {

namespace {

// The red frame of a marked box, drawn by a child laid over the box's border. A style sheet on
// the box would do the same, but it cuts the box off from the font and palette it inherits from
// the window, for good: the box would come back from a mark in another font, and with the
// style's faint disabled text instead of the window's readable one.
class MarkFrame : public QWidget {
public:
    explicit MarkFrame(QWidget* box) : QWidget(box) {
        setObjectName(QString::fromLatin1(IdentifierHints::kFrameName));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(box->rect());
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QPen pen(QColor(0xd0, 0x00, 0x00), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

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
    delete code_.frame;
    delete rut_.frame;
}

void IdentifierHints::attach(Box& box) {
    if (!box.edit)
        return;
    box.warning = new QAction(this);
    box.warning->setIcon(box.edit->style()->standardIcon(QStyle::SP_MessageBoxWarning));
    box.frame = new MarkFrame(box.edit);
    box.edit->installEventFilter(this);
}

bool IdentifierHints::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        for (Box* box : {&code_, &rut_}) {
            if (watched == box->edit && box->frame)
                box->frame->setGeometry(box->edit->rect());
        }
    }
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
        box.hinted = true;
    }
    edit->setToolTip(toolTip);
    box.warning->setToolTip(toolTip);
    if (marked == box.marked)
        return;
    box.marked = marked;
    edit->setProperty(kMarkProperty, marked);
    box.frame->setVisible(marked);
    if (marked) {
        box.frame->raise();
        edit->addAction(box.warning, QLineEdit::TrailingPosition);
    } else {
        edit->removeAction(box.warning);
    }
}


void IdentifierHints::clear(Box& box) {
    if (!box.edit || !box.hinted)
        return;
    QLineEdit* edit = box.edit;
    if (box.marked) {
        edit->setProperty(kMarkProperty, false);
        if (box.frame)
            box.frame->hide();
        edit->removeAction(box.warning);
        box.marked = false;
    }
    edit->setToolTip(box.ownToolTip);
    box.hinted = false;
}

} // namespace editing

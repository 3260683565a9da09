#include "TypeAheadLists.h"

#include "TabOrder.h"
#include "TypeAheadIndex.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QStyledItemDelegate>
#include <QtMath>

#include <algorithm>

namespace browse {

namespace {

// Draws a list's entries at a set row height, so that the entries the list was sized for are all
// in sight (the list's frame takes a few pixels of the 200 twips an entry is given).
class RowHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setRowHeight(int height) { height_ = height; }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (height_ > 0)
            size.setHeight(height_);
        return size;
    }

private:
    int height_ = 0; // 0: the style's own height
};

} // namespace

const std::vector<TypeAheadPair>& typeAheadPairs() {
    static const std::vector<TypeAheadPair> pairs = {
        {QStringLiteral("Text2"), QStringLiteral("lstLugar"), store::Lugar,
         QStringLiteral("Text4")},
        {QStringLiteral("Text9"), QStringLiteral("lstColor"), store::Color,
         QStringLiteral("Option1")},
        {QStringLiteral("Text1"), QStringLiteral("lstImplantador"), store::Implantador,
         QStringLiteral("Text5")},
        {QStringLiteral("Text12"), QStringLiteral("lstPropietario"), store::Propietario,
         QStringLiteral("Text13")},
        {QStringLiteral("Text13"), QStringLiteral("lstRut"), store::Rut, QStringLiteral("Text14")},
        {QStringLiteral("Text14"), QStringLiteral("lstTelefono1"), store::Telefono1,
         QStringLiteral("Text15")},
        {QStringLiteral("Text15"), QStringLiteral("lstCel"), store::Cel, QStringLiteral("Text16")},
        {QStringLiteral("Text16"), QStringLiteral("lstDomicilio"), store::Direccion,
         QStringLiteral("Text17")},
        {QStringLiteral("Text18"), QStringLiteral("lstContacto"), store::Contacto,
         QStringLiteral("Text19")},
        {QStringLiteral("Text19"), QStringLiteral("lstTelefono2"), store::Telefono2,
         QStringLiteral("VSFlexGrid1")},
    };
    return pairs;
}

TypeAheadLists::TypeAheadLists(QWidget* window, TypeAheadIndex* index,
                               std::function<bool()> enEdicion, store::MessageLayer* messages,
                               QObject* parent)
    : QObject(parent), window_(window), index_(index), enEdicion_(std::move(enEdicion)),
      messages_(messages) {
    wired_.reserve(typeAheadPairs().size());
    for (const TypeAheadPair& pair : typeAheadPairs()) {
        auto* box = window->findChild<QLineEdit*>(pair.box);
        auto* list = window->findChild<QListWidget*>(pair.list);
        if (!box || !list) {
            qWarning("type-ahead: %s or %s missing", qPrintable(pair.box), qPrintable(pair.list));
            continue;
        }
        wired_.push_back({pair, box, list});
    }
    for (size_t i = 0; i < wired_.size(); ++i) {
        Wired& w = wired_[i];
        w.list->setUniformItemSizes(true); // long lists lay out in constant time
        w.list->setItemDelegate(new RowHeightDelegate(w.list));
        w.list->setSelectionMode(QAbstractItemView::SingleSelection);
        w.list->hide();
        w.box->installEventFilter(this);
        w.list->installEventFilter(this);
        // textChanged, not textEdited: the program writing the text rebuilds the list too.
        connect(w.box, &QLineEdit::textChanged, this, [this, i] { rebuild(wired_[i]); });
        connect(w.list, &QListWidget::itemDoubleClicked, this, [this, i] { take(wired_[i]); });
    }
}

int TypeAheadLists::twipsToPixels(int twips, const QWidget* widget) {
    return qRound(twips * widget->logicalDpiY() / 1440.0);
}

QListWidget* TypeAheadLists::list(const QString& box) const {
    for (const Wired& w : wired_) {
        if (w.pair.box == box)
            return w.list;
    }
    return nullptr;
}

void TypeAheadLists::ocultaListas() {
    for (Wired& w : wired_) {
        if (w.list)
            w.list->hide();
    }
}

void TypeAheadLists::hideListOf(const QString& box) {
    if (QListWidget* l = list(box))
        l->hide();
}

TypeAheadLists::Wired* TypeAheadLists::byBox(QObject* o) {
    for (Wired& w : wired_) {
        if (w.box == o)
            return &w;
    }
    return nullptr;
}

TypeAheadLists::Wired* TypeAheadLists::byList(QObject* o) {
    for (Wired& w : wired_) {
        if (w.list == o)
            return &w;
    }
    return nullptr;
}

void TypeAheadLists::rebuild(Wired& w) {
    if (!w.box || !w.list || !enEdicion_ || !enEdicion_())
        return;
    w.list->clear();
    const QString typed = w.box->text();
    if (store::trimSpaces(typed).isEmpty()) {
        w.list->hide();
        return;
    }
    QStringList values;
    store::Status status = index_->matches(w.pair.field, typed, &values);
    if (!status) {
        if (messages_ && !failureShown_)
            messages_->notice(status.message());
        failureShown_ = true;
        w.list->hide();
        return;
    }
    failureShown_ = false;
    if (values.isEmpty()) {
        w.list->hide();
        return;
    }
    auto* rows = static_cast<RowHeightDelegate*>(w.list->itemDelegate());
    rows->setRowHeight(0);
    w.list->addItems(values);
    w.list->setCurrentRow(-1);
    const int n = int(values.size());
    const int wanted = twipsToPixels(n * (n > 3 ? 200 : 300), window_);
    // A long list would run off the window: keep it inside and let it scroll.
    const int room = window_->height() - w.list->mapTo(window_, QPoint(0, 0)).y();
    const int height = room > 0 ? std::min(wanted, room) : wanted;
    // Rows a little lower than the style's when that is what it takes for every entry of a list
    // of its full height to show without a scroll bar.
    const int fit = (height - 2 * w.list->frameWidth()) / n;
    if (height == wanted && fit < w.list->sizeHintForRow(0) && fit > 0) {
        rows->setRowHeight(fit);
        w.list->doItemsLayout();
    }
    w.list->resize(w.list->width(), height);
    w.list->show();
    w.list->raise();
}

void TypeAheadLists::moveIntoList(Wired& w) {
    if (!w.list->isVisible() || w.list->count() == 0)
        return; // a hidden list cannot take the focus
    QListWidgetItem* current = w.list->currentItem();
    // Taking the focus may make the first entry current without selecting it: what counts is
    // the entry selected before.
    const int selected = (current && current->isSelected()) ? w.list->currentRow() : -1;
    w.list->setFocus(Qt::OtherFocusReason);
    w.list->setCurrentRow(std::min(selected + 1, w.list->count() - 1));
}

void TypeAheadLists::take(Wired& w) {
    QListWidgetItem* current = w.list->currentItem();
    const QString value = (current && current->isSelected()) ? current->text() : QString();
    w.box->setText(value);
    w.list->hide();
    // The grid, target of the last list, is disabled while a card is entered: the focus then
    // goes on to the next control that can take it.
    if (QWidget* next = nextInTabOrder(window_, w.pair.target, true))
        next->setFocus(Qt::TabFocusReason);
}

bool TypeAheadLists::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            if (Wired* w = byBox(watched))
                moveIntoList(*w);
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (Wired* w = byList(watched)) {
                take(*w);
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace browse

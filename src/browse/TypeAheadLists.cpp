#include "TypeAheadLists.h"

#include "TabOrder.h"
#include "TypeAheadIndex.h"
#include "TypeAheadList.h"

#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QtMath>

#include <algorithm>

namespace browse {

namespace {

// Lays a list's entries out at a set size: rows a little lower than the style's when the list's
// frame would otherwise push the last entry out of sight, and as wide as the widest entry.
class RowSizeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setRowSize(int width, int height) { size_ = QSize(width, height); }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (size_.width() > 0)
            size.setWidth(size_.width());
        if (size_.height() > 0)
            size.setHeight(size_.height());
        return size;
    }

private:
    QSize size_; // 0: the style's own
};

// The width of the widest entry. A long list is computed only as far as it is read, so it
// measures its first entries and the longest value the field holds: a list a little too wide for
// the entries it matches is better than one that cuts a later entry short.
int widestEntry(const QFontMetrics& metrics, const TypeAheadMatches& entries) {
    constexpr qsizetype kMeasured = 256;
    int widest = 0;
    for (qsizetype i = 0; i < entries.size() && i < kMeasured; ++i)
        widest = std::max(widest, metrics.horizontalAdvance(entries.at(i)));
    if (entries.size() > kMeasured)
        widest = std::max(widest, metrics.horizontalAdvance(entries.longestOfField()));
    return widest;
}

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
        auto* list = window->findChild<TypeAheadList*>(pair.list);
        if (!box || !list) {
            qWarning("type-ahead: %s or %s missing", qPrintable(pair.box), qPrintable(pair.list));
            continue;
        }
        wired_.push_back({pair, box, list, list->geometry()});
    }
    for (size_t i = 0; i < wired_.size(); ++i) {
        Wired& w = wired_[i];
        w.list->setItemDelegate(new RowSizeDelegate(w.list));
        w.list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        w.list->setSelectionMode(QAbstractItemView::SingleSelection);
        w.list->hide();
        w.box->installEventFilter(this);
        w.list->installEventFilter(this);
        // textChanged, not textEdited: the program writing the text rebuilds the list too.
        connect(w.box, &QLineEdit::textChanged, this, [this, i] { rebuild(wired_[i]); });
        connect(w.list, &QAbstractItemView::doubleClicked, this, [this, i] { take(wired_[i]); });
    }
}

int TypeAheadLists::twipsToPixels(int twips, const QWidget* widget) {
    return qRound(twips * widget->logicalDpiY() / 1440.0);
}

TypeAheadList* TypeAheadLists::list(const QString& box) const {
    for (const Wired& w : wired_) {
        if (w.pair.box == box)
            return w.list;
    }
    return nullptr;
}

void TypeAheadLists::indexReady() {
    for (Wired& w : wired_) {
        if (w.box && w.box->hasFocus())
            rebuild(w);
    }
}

void TypeAheadLists::ocultaListas() {
    for (Wired& w : wired_) {
        if (w.list)
            w.list->hide();
    }
}

void TypeAheadLists::dropHiddenEntries() {
    for (Wired& w : wired_) {
        if (w.list && w.list->isHidden())
            w.list->clear();
    }
}

void TypeAheadLists::hideListOf(const QString& box) {
    if (TypeAheadList* l = list(box))
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
    TypeAheadMatches values;
    store::Status status = index_->matches(w.pair.field, typed, &values);
    if (!status) {
        // A server out of reach is told under the grid and the save says it again; a box here
        // would break into the typing at every field.
        if (messages_ && !failureShown_ && status.kind() != store::ErrorKind::Unreachable)
            messages_->notice(status.message());
        failureShown_ = true;
        w.list->hide();
        return;
    }
    failureShown_ = false;
    if (values.isEmpty()) {
        // Before the index is read (a keystroke in the first seconds after start-up) the list
        // shows nothing; indexReady() fills it in.
        w.list->hide();
        return;
    }
    auto* rows = static_cast<RowSizeDelegate*>(w.list->itemDelegate());
    rows->setRowSize(0, 0);
    const int n = int(values.size());
    w.list->setEntries(std::move(values));
    w.list->setCurrentRow(-1);
    const TypeAheadMatches& entries = w.list->entries();
    const int wanted = twipsToPixels(n * (n > 3 ? 200 : 300), window_);
    // A long list would run off the window: keep it inside and let it scroll.
    const int room = window_->height() - w.placed.y();
    const int height = room > 0 ? std::min(wanted, room) : wanted;
    const int frame = 2 * w.list->frameWidth();
    // Rows a little lower than the style's when that is what it takes for every entry of a list
    // of its full height to show without a scroll bar.
    int rowHeight = 0;
    const int fit = (height - frame) / n;
    if (height == wanted && fit < w.list->sizeHintForRow(0) && fit > 0)
        rowHeight = fit;
    // Wide enough for the widest entry: a telephone number cut short, or hidden behind a
    // horizontal scroll bar, cannot be told from the next. Wider than its place in the layout
    // only as needed, and moved left rather than off the window's edge.
    const QFontMetrics metrics(w.list->font());
    const int widest = widestEntry(metrics, entries);
    const int textMargin =
        w.list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w.list) + 1;
    const int rowWidth = widest + 2 * textMargin + 1;
    const int scrollBar =
        height < wanted ? w.list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w.list)
                        : 0;
    const int width = std::min(std::max(w.placed.width(), rowWidth + frame + scrollBar),
                               std::max(w.placed.width(), window_->width()));
    const int left = std::max(0, std::min(w.placed.x(), window_->width() - width));
    rows->setRowSize(std::max(rowWidth, width - frame - scrollBar), rowHeight);
    w.list->doItemsLayout();
    w.list->setGeometry(left, w.placed.y(), width, height);
    w.list->show();
    w.list->raise();
}

void TypeAheadLists::moveIntoList(Wired& w) {
    if (!w.list->isVisible() || w.list->count() == 0)
        return; // a hidden list cannot take the focus
    // Taking the focus may make the first entry current without selecting it: what counts is
    // the entry selected before.
    const int current = w.list->currentRow();
    const int selected = w.list->isRowSelected(current) ? current : -1;
    w.list->setFocus(Qt::OtherFocusReason);
    w.list->setCurrentRow(std::min(selected + 1, w.list->count() - 1));
}

void TypeAheadLists::take(Wired& w) {
    const int current = w.list->currentRow();
    const QString value = w.list->isRowSelected(current) ? w.list->text(current) : QString();
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

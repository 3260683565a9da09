#include "StoreWaitIndicator.h"

#include "StoreThread.h"

#include <QApplication>
#include <QLabel>

namespace app {

StoreWaitIndicator::StoreWaitIndicator(QWidget* window, std::vector<QWidget*> commands,
                                       QWidget* footer)
    : QObject(window), window_(window), commands_(std::move(commands)), footer_(footer),
      label_(new QLabel(QStringLiteral("Esperando al registro…"), window)) {
    label_->setObjectName(QStringLiteral("lblEsperandoRegistro"));
    label_->setAlignment(Qt::AlignCenter);
    label_->setAutoFillBackground(true);
    label_->setStyleSheet(
        QStringLiteral("QLabel { background: #fff3c4; color: #000; border: 1px solid #b89b2e; "
                       "padding: 0 6px; }"));
    label_->hide();
}

void StoreWaitIndicator::follow(store::StoreThread* thread) {
    if (thread_ == thread)
        return;
    disconnect(connection_);
    if (label_->isVisible())
        waiting(false);
    thread_ = thread;
    if (thread)
        connection_ =
            connect(thread, &store::StoreThread::waiting, this, &StoreWaitIndicator::waiting);
}

void StoreWaitIndicator::waiting(bool on) {
    if (on) {
        focus_ = QApplication::focusWidget();
        for (QWidget* w : commands_) {
            if (w->isEnabled()) {
                w->setEnabled(false);
                switchedOff_.push_back(w);
            }
        }
        const QRect line = footer_->geometry();
        const int width = label_->sizeHint().width() + 8;
        label_->setGeometry(line.right() - width, line.top(), width, line.height());
        label_->show();
        label_->raise();
        return;
    }
    label_->hide();
    for (QWidget* w : switchedOff_)
        w->setEnabled(true);
    switchedOff_.clear();
    if (focus_ && focus_->isEnabled() && QApplication::focusWidget() != focus_)
        focus_->setFocus(Qt::OtherFocusReason);
    focus_.clear();
}

} // namespace app

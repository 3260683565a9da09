#include "ReportLink.h"

#include "CardGrid.h"
#include "CardStore.h"
#include "Folders.h"
#include "MainWindow.h"
#include "ReportWindow.h"

#include <QAction>
#include <QFileInfo>
#include <QImage>

namespace app {

report::PageContext reportPageContext(const store::Folders& folders,
                                      const store::Registry& registry) {
    report::PageContext page;
    page.pictures.banner = QImage(QStringLiteral(":/images/banner.png"));
    const QString practice = folders.dataFile(store::kLogoFileName);
    if (QFileInfo(practice).isFile())
        page.pictures.logo = QImage(practice);
    if (page.pictures.logo.isNull())
        page.pictures.logo = QImage(QStringLiteral(":/images/logo.png"));
    page.registryName = registry.describe();
    return page;
}

QAction* wireReport(MainWindow& window, QPointer<report::ReportWindow>* open) {
    auto* action = new QAction(QStringLiteral("Informe de implantaciones…"), &window);
    action->setObjectName(QStringLiteral("actInforme"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
    action->setShortcutContext(Qt::WindowShortcut);
    window.addAction(action);
    window.grid()->addAction(action);
    QObject::connect(action, &QAction::triggered, &window, [&window, open] {
        // Browse mode only: a card being typed keeps the keyboard.
        if (window.enEdicion() || !window.cardStore())
            return;
        if (*open) {
            (*open)->refresh();
            (*open)->show();
            (*open)->raise();
            (*open)->activateWindow();
            return;
        }
        const store::CardStore& cards = *window.cardStore();
        *open = new report::ReportWindow(cards.registry(),
                                         reportPageContext(window.folders(), cards.registry()),
                                         window.clock(), window.messages(), &window);
        (*open)->show();
    });
    return action;
}

} // namespace app

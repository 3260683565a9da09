#pragma once

#include "ReportPage.h"

#include <QPointer>

namespace store {
struct Folders;
} // namespace store
namespace report {
class ReportWindow;
} // namespace report

namespace app {

class MainWindow;

// What the report's page shows besides the counts: the program's banner and the practice's logo
// (LogoCliente.bmp of the data folder, the program's own when there is none), and the registry.
report::PageContext reportPageContext(const store::Folders& folders,
                                      const store::Registry& registry);

// "Informe de implantaciones…" in the grid's context menu and on Ctrl+Shift+I in browse mode:
// opens the report window beside the main window, or brings the open one to the front counted
// afresh. Returns the action.
class QAction* wireReport(MainWindow& window, QPointer<report::ReportWindow>* open);

} // namespace app

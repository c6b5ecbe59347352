#include "obs-compat.h"

#include <obs-frontend-api.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>

#include <vector>

namespace compat {

#if CORVEX_OBS_HAS_DOCK_BY_ID

bool addDock(const char* id, const QString& title, QWidget* widget) {
    return obs_frontend_add_dock_by_id(id, title.toUtf8().constData(), widget);
}

void showDocks() {}

#else

namespace {
std::vector<QPointer<QDockWidget>> g_docks;
}

bool addDock(const char* id, const QString& title, QWidget* widget) {
    auto* main = static_cast<QMainWindow*>(obs_frontend_get_main_window());
    auto* dock = new QDockWidget(title, main);
    dock->setObjectName(QString::fromUtf8(id));
    dock->setWidget(widget);
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                      QDockWidget::DockWidgetFloatable);
    if (!obs_frontend_add_dock(dock)) {
        delete dock;
        return false;
    }
    g_docks.emplace_back(dock);
    return true;
}

// OBS 29 restores the layout of docks it has seen before; a dock it has not
// seen stays outside every dock area, hidden. Such a dock goes to the
// right-hand side, where the user will look for it. A dock the user placed or
// closed in an earlier run is left as it was.
void showDocks() {
    auto* main = static_cast<QMainWindow*>(obs_frontend_get_main_window());
    for (const QPointer<QDockWidget>& dock : g_docks) {
        if (!dock || !main || dock->isVisible() || main->dockWidgetArea(dock) != Qt::NoDockWidgetArea) {
            continue;
        }
        main->addDockWidget(Qt::RightDockWidgetArea, dock);
        dock->setFloating(false);
        dock->show();
    }
    g_docks.clear();
}

#endif

} // namespace compat

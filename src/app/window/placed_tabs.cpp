#include "app/window/placed_tabs.h"

#include <QTabBar>

namespace tavrin {

PlacedTabs::PlacedTabs(QWidget* parent) : QTabWidget(parent) {
  // Headers as low as the system's own, so that the page area begins where
  // the first controls of the pages are placed (y = 22).
  tabBar()->setStyleSheet("QTabBar::tab { height: 19px; padding: 0 6px; }");
}

void PlacedTabs::place(QWidget* control, const QRect& rectInTabs) {
  placements_.emplace_back(control, rectInTabs);
  placeAll();
}

void PlacedTabs::resizeEvent(QResizeEvent* event) {
  QTabWidget::resizeEvent(event);
  placeAll();
}

void PlacedTabs::showEvent(QShowEvent* event) {
  QTabWidget::showEvent(event);
  placeAll();
}

void PlacedTabs::placeAll() {
  for (const auto& [control, rect] : placements_) {
    QWidget* page = control->parentWidget();
    if (!page) continue;
    control->setGeometry(rect.translated(-page->mapTo(this, QPoint(0, 0))));
  }
}

}  // namespace tavrin

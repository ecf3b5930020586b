#pragma once
// A tab control whose page controls are placed in the tab control's own
// coordinates, headers included (a control at y = 32 sits just below the
// headers), whatever the page area's offset under the current style.
#include <QRect>
#include <QTabWidget>
#include <utility>
#include <vector>

namespace tavrin {

class PlacedTabs : public QTabWidget {
  Q_OBJECT

 public:
  explicit PlacedTabs(QWidget* parent = nullptr);

  // Places a control of one of the pages at the rectangle given relative to
  // the tab control's top-left corner.
  void place(QWidget* control, const QRect& rectInTabs);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void placeAll();

  std::vector<std::pair<QWidget*, QRect>> placements_;
};

}  // namespace tavrin

#pragma once
// The second page, "DLNA嗅探": starts and stops the sniffing renderer and
// lists the URLs cast to it (or fetched from the selected renderer) as
// numbered rows; a double-click copies a row's URL.
#include <QWidget>
#include <functional>
#include <string>

#include "app/window/gui_thread_gate.h"

class QPushButton;
class QTreeWidget;

namespace tavrin {

struct AppState;
class PlacedTabs;

class SniffPage : public QWidget {
  Q_OBJECT

 public:
  // selectedDeviceRow: the selected row of the push page's device combo box.
  SniffPage(AppState& state, GuiThreadGate gate, PlacedTabs& tabs, std::function<int()> selectedDeviceRow);

  // The capture routine: adds the URL (GBK) as the next numbered row. Runs
  // on the renderer's worker threads, several at once; each waits while the
  // GUI thread numbers and appends its row, so numbers follow the rows.
  void addCapturedUrl(const std::string& url);

 private:
  void startStopClicked();
  void fetchClicked();
  void clearClicked();
  void listDoubleClicked();
  void addRow(const std::string& url);

  AppState& state_;
  GuiThreadGate gate_;
  std::function<int()> selectedDeviceRow_;
  QPushButton* startStopButton_;
  QPushButton* fetchButton_;
  QPushButton* clearButton_;
  QTreeWidget* capturedList_;
};

}  // namespace tavrin

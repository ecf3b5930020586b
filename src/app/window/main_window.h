#pragma once
// The program's one window, "Tavrin V1.2": the tab control with the push and
// sniff pages and a status bar. It is what the start-up sequence attaches
// to, and it owns the gate through which other threads reach its widgets.
#include <QWidget>
#include <string>

#include "app/startup_sequence.h"
#include "app/window/gui_thread_gate.h"

class QStatusBar;

namespace tavrin {

struct AppState;
class PlacedTabs;
class PushPage;
class SniffPage;

class MainWindow : public QWidget, public StartupWindow {
  Q_OBJECT

 public:
  MainWindow(AppState& state, GuiThreadGate gate);

  PushPage& pushPage() { return *pushPage_; }
  SniffPage& sniffPage() { return *sniffPage_; }

  // Releases every thread that waits for the GUI thread and refuses later
  // calls; run when the message loop has ended, before the state is freed.
  void beginExit();

  void clearDeviceCombo() override;
  void* nativeHandle() override;
  void onFileDropped(const std::string& paths) override;
  void onDeviceFound(int index) override;

 private:
  GuiThreadGate gate_;
  PlacedTabs* tabs_;
  QStatusBar* statusBar_;
  PushPage* pushPage_;
  SniffPage* sniffPage_;
};

}  // namespace tavrin

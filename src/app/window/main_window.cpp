#include "app/window/main_window.h"

#include <QStatusBar>

#include "app/window/placed_tabs.h"
#include "app/window/push_page.h"
#include "app/window/sniff_page.h"

namespace tavrin {
namespace {

// The window's inner size: 565 × 228 with the frame of a dialog window.
constexpr int kClientWidth = 559;
constexpr int kClientHeight = 200;

}  // namespace

MainWindow::MainWindow(AppState& state, GuiThreadGate gate)
    : gate_(gate), tabs_(new PlacedTabs(this)), statusBar_(new QStatusBar(this)) {
  setObjectName("mainWindow");
  setWindowTitle("Tavrin V1.2");
  QFont small = font();
  small.setPixelSize(12);
  setFont(small);
  move(50, 50);
  setFixedSize(kClientWidth, kClientHeight);

  tabs_->setObjectName("tabs");
  tabs_->setGeometry(4, 2, 552, 174);
  pushPage_ = new PushPage(state, gate, *tabs_);
  sniffPage_ = new SniffPage(state, gate, *tabs_, [this] { return pushPage_->selectedRow(); });
  tabs_->setCurrentIndex(0);

  statusBar_->setObjectName("statusBar");
  statusBar_->setGeometry(0, 180, kClientWidth, 20);
  statusBar_->setSizeGripEnabled(false);
  statusBar_->showMessage(QString::fromUtf8("就绪"));
}

void MainWindow::beginExit() { gate_.close(); }

void MainWindow::clearDeviceCombo() { pushPage_->clearDeviceCombo(); }

void* MainWindow::nativeHandle() { return static_cast<QWidget*>(this); }

void MainWindow::onFileDropped(const std::string& paths) { pushPage_->onFileDropped(paths); }

void MainWindow::onDeviceFound(int index) { pushPage_->onDeviceFound(index); }

}  // namespace tavrin

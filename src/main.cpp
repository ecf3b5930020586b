// The window program: the state, the main window and its start-up sequence,
// the message loop, and the state freed in order once the window is closed.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <memory>

#include "app/app_state.h"
#include "app/startup_sequence.h"
#include "app/window/gui_thread_gate.h"
#include "app/window/main_window.h"
#include "app/window/message_box.h"
#include "app/window/qt_file_drop_target.h"
#include "host/pending_events.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  tavrin::AppState state;
  tavrin::initAppState(state, std::make_unique<tavrin::QtFileDropTarget>());

  tavrin::GuiThreadGate gate;
  tavrin::setMessageSink(tavrin::messageBoxSink(gate));
  // Commands of the start-up sequence run for a while: the window keeps
  // painting meanwhile, but takes no clicks before start-up is over.
  tavrin::setPendingEventsHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });

  tavrin::MainWindow window(state, gate);
  window.show();
  QTimer::singleShot(0, &window, [&state, &window] { tavrin::onMainWindowCreated(state, window); });
  app.exec();

  window.beginExit();
  tavrin::setPendingEventsHook(nullptr);
  tavrin::shutdownAppState(state);
  tavrin::setMessageSink(nullptr);
  return 0;
}

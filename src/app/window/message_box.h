#pragma once
// The program's messages: a modal box with the text alone, one OK button and
// the caption "信息：", without an owner window.
#include <string>

#include "app/window/gui_thread_gate.h"
#include "platform/message.h"

namespace tavrin {

// Shows the GBK text in a box on the GUI thread and returns when it is closed.
void showMessageBox(const std::string& gbkText);

// The message sink of the window program: on the GUI thread the box is shown
// at once; another thread waits while the GUI thread shows it. Once the gate
// has closed, messages go to standard error instead.
MessageSink messageBoxSink(GuiThreadGate gate);

}  // namespace tavrin

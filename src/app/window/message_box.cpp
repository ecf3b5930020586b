#include "app/window/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>

#include "platform/text_encoding.h"

namespace tavrin {

void showMessageBox(const std::string& gbkText) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8("信息："), QString::fromStdString(gbkToUtf8(gbkText)),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  // A wait cursor of a running push must not hide that the box wants a click.
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  QApplication::restoreOverrideCursor();
}

MessageSink messageBoxSink(GuiThreadGate gate) {
  return [gate](const std::string& gbkText) {
    if (!gate.run([&gbkText] { showMessageBox(gbkText); })) {
      std::fprintf(stderr, "%s\n", gbkToUtf8(gbkText).c_str());
    }
  };
}

}  // namespace tavrin

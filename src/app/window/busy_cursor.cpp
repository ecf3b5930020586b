#include "app/window/busy_cursor.h"

#include <QApplication>

namespace tavrin {

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace tavrin

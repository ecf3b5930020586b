#include "app/window/qt_file_drop_target.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include "host/os_version.h"

namespace tavrin {
namespace {

// The local files among the dropped URLs, as the file system's bytes.
std::vector<std::string> droppedFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

}  // namespace

QtFileDropTarget::QtFileDropTarget(VersionText versionText) : versionText_(std::move(versionText)) {}

QtFileDropTarget::~QtFileDropTarget() { uninstall(); }

QtFileDropTarget::VersionText QtFileDropTarget::systemVersionText() {
  return [] {
    int major = 0;
    int minor = 0;
    return osVersionText(major, minor);
  };
}

void QtFileDropTarget::install(void* window, DropCallback callback) {
  uninstall();
  window_ = static_cast<QWidget*>(window);
  callback_ = std::move(callback);
  if (window_) {
    window_->setAcceptDrops(true);
    window_->installEventFilter(this);
  }
  liftedMessages_.clear();
  if (versionText_().substr(0, 10) != "Windows XP") liftedMessages_ = {0x0233, 0x004A, 0x0049};
}

void QtFileDropTarget::uninstall() {
  if (window_) {
    window_->removeEventFilter(this);
    window_->setAcceptDrops(false);
  }
  window_ = nullptr;
}

bool QtFileDropTarget::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_) return false;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (droppedFiles(drag->mimeData()).empty()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const std::vector<std::string> paths = droppedFiles(drop->mimeData());
      if (paths.empty()) return false;
      drop->acceptProposedAction();
      std::string joined;
      for (const std::string& path : paths) {
        if (!joined.empty()) joined += "\r\n";
        joined += path;
      }
      // Handled once the drop is over: the push blocks, and the program that
      // the file was dragged from should not wait for it.
      if (callback_) {
        QMetaObject::invokeMethod(this, [callback = callback_, joined] { callback(joined); }, Qt::QueuedConnection);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace tavrin

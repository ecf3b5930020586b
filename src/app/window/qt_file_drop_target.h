#pragma once
// The drop target of the main window: while installed, the window accepts
// files dropped on it and an event filter hands their paths (the file
// system's bytes), joined by CR LF, to the callback once the drop is over.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/file_drop_target.h"

namespace tavrin {

class QtFileDropTarget : public QObject, public FileDropTarget {
  Q_OBJECT

 public:
  // The name of the running system (osVersionText with every option off).
  using VersionText = std::function<std::string()>;

  explicit QtFileDropTarget(VersionText versionText = systemVersionText());
  ~QtFileDropTarget() override;

  // window is the main window's QWidget.
  void install(void* window, DropCallback callback) override;
  void uninstall() override;

  // The window messages let through from processes of a lower integrity
  // level by the last install (WM_DROPFILES, WM_COPYDATA, 0x0049), none on
  // Windows XP. Linux has no such filter: the list is only kept.
  const std::vector<unsigned>& liftedMessages() const { return liftedMessages_; }

  static VersionText systemVersionText();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  VersionText versionText_;
  QPointer<QWidget> window_;
  DropCallback callback_;
  std::vector<unsigned> liftedMessages_;
};

}  // namespace tavrin

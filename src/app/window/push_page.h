#pragma once
// The first page, "DLNA推送": the discovered renderers by name, a URL to push,
// a local file to push (picked or dropped), and a new search.
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "app/window/gui_thread_gate.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tavrin {

struct AppState;
class PlacedTabs;

class PushPage : public QWidget {
  Q_OBJECT

 public:
  // Asks the user for a file to push; an empty text when cancelled.
  using FileChooser = std::function<QString()>;

  PushPage(AppState& state, GuiThreadGate gate, PlacedTabs& tabs);

  void clearDeviceCombo();
  // The selected row of the device combo box, -1 when none.
  int selectedRow() const;

  // A device was added to the device list at the 1-based index: its name is
  // appended as a row of the combo box, the first one selected. Runs on the
  // SSDP receive thread and waits while the GUI thread adds the row.
  void onDeviceFound(int index);
  // The drop target's callback: one path is pushed; several (joined by CR
  // LF) are refused with a message.
  void onFileDropped(const std::string& paths);

  // Replaces the file-open dialog (tests choose their file without one).
  void setFileChooser(FileChooser chooser);

 private:
  void searchClicked();
  void openFileClicked();
  void pushClicked();
  // The item value of the selected row (the device's index), -1 when none.
  int selectedDevice() const;
  void pushFile(const std::string& path);
  void appendDevice(int index, const std::string& uuid, const std::string& name);

  AppState& state_;
  GuiThreadGate gate_;
  FileChooser chooseFile_;
  QComboBox* deviceCombo_;
  QPushButton* searchButton_;
  QLineEdit* urlEdit_;
  QPushButton* pushButton_;
  QPushButton* openFileButton_;
};

}  // namespace tavrin

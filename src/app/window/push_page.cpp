#include "app/window/push_page.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/app_state.h"
#include "app/window/busy_cursor.h"
#include "app/window/placed_tabs.h"
#include "control/av_transport.h"
#include "httpserv/media_server.h"
#include "json/json_object.h"
#include "platform/message.h"
#include "platform/text_encoding.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin {
namespace {

QString fromGbk(const std::string& text) { return QString::fromStdString(gbkToUtf8(text)); }

}  // namespace

PushPage::PushPage(AppState& state, GuiThreadGate gate, PlacedTabs& tabs)
    : state_(state),
      gate_(std::move(gate)),
      chooseFile_([] { return QFileDialog::getOpenFileName(); }),
      deviceCombo_(new QComboBox(this)),
      searchButton_(new QPushButton("N", this)),
      urlEdit_(new QLineEdit(this)),
      pushButton_(new QPushButton(QString::fromUtf8("推入"), this)),
      openFileButton_(new QPushButton(QString::fromUtf8("打开本地文件"), this)) {
  tabs.addTab(this, QString::fromUtf8("DLNA推送"));
  auto* deviceLabel = new QLabel(QString::fromUtf8("设备名："), this);
  auto* urlLabel = new QLabel(QString::fromUtf8("M3U8："), this);
  deviceCombo_->setObjectName("deviceCombo");
  searchButton_->setObjectName("searchButton");
  urlEdit_->setObjectName("urlEdit");
  pushButton_->setObjectName("pushButton");
  openFileButton_->setObjectName("openFileButton");
  tabs.place(deviceLabel, QRect(8, 32, 53, 24));
  tabs.place(deviceCombo_, QRect(71, 35, 120, 20));
  tabs.place(searchButton_, QRect(197, 33, 24, 24));
  tabs.place(urlLabel, QRect(8, 76, 53, 24));
  tabs.place(urlEdit_, QRect(71, 75, 472, 24));
  tabs.place(pushButton_, QRect(151, 115, 80, 32));
  tabs.place(openFileButton_, QRect(311, 115, 80, 32));

  connect(searchButton_, &QPushButton::clicked, this, &PushPage::searchClicked);
  connect(openFileButton_, &QPushButton::clicked, this, &PushPage::openFileClicked);
  connect(pushButton_, &QPushButton::clicked, this, &PushPage::pushClicked);
}

void PushPage::clearDeviceCombo() { deviceCombo_->clear(); }

int PushPage::selectedRow() const { return deviceCombo_->currentIndex(); }

int PushPage::selectedDevice() const {
  const int row = selectedRow();
  return row < 0 ? -1 : deviceCombo_->itemData(row).toInt();
}

void PushPage::setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

void PushPage::searchClicked() {
  clearDeviceCombo();
  repeatSearch(state_);
}

void PushPage::openFileClicked() {
  const QString path = chooseFile_();
  if (path.isEmpty()) return;
  pushFile(QFile::encodeName(path).toStdString());
}

void PushPage::pushClicked() {
  const int device = selectedDevice();
  if (device < 0) return;
  const std::string url = utf8ToGbk(urlEdit_->text().toStdString());
  {
    BusyCursor busy;
    pushUrl(state_, url, selectedRow() + 1);
  }
  showMessage(utf8ToGbk("完成"));
}

void PushPage::pushFile(const std::string& path) {
  BusyCursor busy;
  pushLocalFile(state_, path, selectedRow(), selectedDevice());
}

void PushPage::onFileDropped(const std::string& paths) {
  if (paths.find("\r\n") != std::string::npos) {
    showMessage(utf8ToGbk("请只拖入一个文件"));
    return;
  }
  pushFile(paths);
}

void PushPage::onDeviceFound(int index) {
  JsonObject device;
  device.parse(deviceRecordJson(state_, index));
  const std::string name = device.getText("name");
  const std::string uuid = state_.deviceList->getText(index, "uuid");
  gate_.run([&] { appendDevice(index, uuid, name); });
}

void PushPage::appendDevice(int index, const std::string& uuid, const std::string& name) {
  // Row r must name device r + 1. A device announced just before "N"
  // emptied both the list and the box arrives here afterwards; it no longer
  // stands at its index (or the box has moved on), and is left out.
  if (deviceCombo_->count() + 1 != index || state_.deviceList->getText(index, "uuid") != uuid) return;
  deviceCombo_->addItem(fromGbk(name), index);
  if (index == 1) deviceCombo_->setCurrentIndex(0);
}

}  // namespace tavrin

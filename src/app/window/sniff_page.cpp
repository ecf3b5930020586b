#include "app/window/sniff_page.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>

#include "app/app_state.h"
#include "app/window/busy_cursor.h"
#include "app/window/placed_tabs.h"
#include "control/av_transport.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/message.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

const char kStartCaption[] = "启动";
const char kStopCaption[] = "停止";

}  // namespace

SniffPage::SniffPage(AppState& state, GuiThreadGate gate, PlacedTabs& tabs, std::function<int()> selectedDeviceRow)
    : state_(state),
      gate_(std::move(gate)),
      selectedDeviceRow_(std::move(selectedDeviceRow)),
      startStopButton_(new QPushButton(QString::fromUtf8(kStartCaption), this)),
      fetchButton_(new QPushButton(QString::fromUtf8("主动获取"), this)),
      clearButton_(new QPushButton(QString::fromUtf8("清空"), this)),
      capturedList_(new QTreeWidget(this)) {
  tabs.addTab(this, QString::fromUtf8("DLNA嗅探"));
  startStopButton_->setObjectName("startStopButton");
  fetchButton_->setObjectName("fetchButton");
  clearButton_->setObjectName("clearButton");
  capturedList_->setObjectName("capturedList");
  capturedList_->setColumnCount(2);
  capturedList_->setHeaderLabels({"#", "URL"});
  capturedList_->setColumnWidth(0, 50);
  capturedList_->setColumnWidth(1, 350);
  capturedList_->setRootIsDecorated(false);
  capturedList_->setUniformRowHeights(true);
  capturedList_->setSelectionMode(QAbstractItemView::SingleSelection);
  capturedList_->header()->setStretchLastSection(false);
  tabs.place(startStopButton_, QRect(12, 23, 80, 32));
  tabs.place(fetchButton_, QRect(12, 75, 80, 32));
  tabs.place(clearButton_, QRect(12, 129, 80, 32));
  tabs.place(capturedList_, QRect(108, 22, 440, 144));

  connect(startStopButton_, &QPushButton::clicked, this, &SniffPage::startStopClicked);
  connect(fetchButton_, &QPushButton::clicked, this, &SniffPage::fetchClicked);
  connect(clearButton_, &QPushButton::clicked, this, &SniffPage::clearClicked);
  connect(capturedList_, &QTreeWidget::itemDoubleClicked, this, &SniffPage::listDoubleClicked);
}

void SniffPage::addCapturedUrl(const std::string& url) {
  gate_.run([&] { addRow(url); });
}

void SniffPage::addRow(const std::string& url) {
  const int number = ++state_.capturedRowCount;
  auto* row = new QTreeWidgetItem(capturedList_);
  row->setText(0, QString::number(number));
  row->setText(1, QString::fromStdString(gbkToUtf8(url)));
}

void SniffPage::startStopClicked() {
  if (startStopButton_->text() == QString::fromUtf8(kStartCaption)) {
    if (!startRenderer(state_, utf8ToGbk("Morla小站"), [this](const std::string& uri) { addCapturedUrl(uri); })) {
      showMessage(utf8ToGbk("本地服务器创建失败"));
      return;
    }
    startStopButton_->setText(QString::fromUtf8(kStopCaption));
  } else {
    stopRenderer(state_);
    startStopButton_->setText(QString::fromUtf8(kStartCaption));
  }
}

void SniffPage::fetchClicked() {
  std::string uri;
  {
    BusyCursor busy;
    uri = fetchCurrentUri(state_, selectedDeviceRow_() + 1);
  }
  if (!uri.empty()) addRow(uri);
}

void SniffPage::clearClicked() {
  state_.capturedRowCount = 0;
  capturedList_->clear();
}

void SniffPage::listDoubleClicked() {
  const QList<QTreeWidgetItem*> selected = capturedList_->selectedItems();
  if (selected.isEmpty()) return;
  QGuiApplication::clipboard()->setText(selected.first()->text(1));
  showMessage(utf8ToGbk("已复制"));
}

}  // namespace tavrin

// The window's layout: caption, size, and every control at its place in the
// tab control's coordinates, wholly inside its page (nothing clipped). With
// TAVRIN_SCREENSHOT_DIR set, each page is also saved there as a PNG.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>
#include <cstdlib>
#include <string>

#include "gui/gui_session.h"

namespace tavrin::testing {
namespace {

TEST(WindowLayout, ControlsSitWhereTheWindowPlacesThemAndNothingIsClipped) {
  GuiSession session;
  QWidget& window = *session.window;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle().toStdString(), "Tavrin V1.2");
  EXPECT_EQ(window.size(), QSize(559, 200));
  auto* tabs = session.find<QTabWidget>("tabs");
  EXPECT_EQ(tabs->geometry(), QRect(4, 2, 552, 174));
  EXPECT_EQ(tabs->tabText(0).toStdString(), "DLNA推送");
  EXPECT_EQ(tabs->tabText(1).toStdString(), "DLNA嗅探");
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(session.find<QWidget>("statusBar")->geometry(), QRect(0, 180, 559, 20));

  const struct {
    int page;
    const char* name;
    QRect rect;
  } controls[] = {
      {0, "deviceCombo", {71, 35, 120, 20}},     {0, "searchButton", {197, 33, 24, 24}},
      {0, "urlEdit", {71, 75, 472, 24}},         {0, "pushButton", {151, 115, 80, 32}},
      {0, "openFileButton", {311, 115, 80, 32}}, {1, "startStopButton", {12, 23, 80, 32}},
      {1, "fetchButton", {12, 75, 80, 32}},      {1, "clearButton", {12, 129, 80, 32}},
      {1, "capturedList", {108, 22, 440, 144}},
  };
  for (const auto& c : controls) {
    tabs->setCurrentIndex(c.page);
    QTest::qWait(20);
    QWidget* control = session.find<QWidget>(c.name);
    ASSERT_TRUE(control) << c.name;
    QWidget* page = control->parentWidget();
    EXPECT_EQ(QRect(control->mapTo(tabs, QPoint(0, 0)), control->size()), c.rect) << c.name;
    EXPECT_TRUE(page->rect().contains(control->geometry())) << c.name << " is clipped by its page";
  }
  auto* list = session.capturedList();
  EXPECT_EQ(list->headerItem()->text(0).toStdString(), "#");
  EXPECT_EQ(list->headerItem()->text(1).toStdString(), "URL");
  EXPECT_EQ(list->columnWidth(0), 50);
  EXPECT_EQ(list->columnWidth(1), 350);

  if (const char* dir = std::getenv("TAVRIN_SCREENSHOT_DIR")) {
    session.deviceCombo()->addItem(QString::fromUtf8("客厅电视"), 1);
    session.window->findChild<QLineEdit*>("urlEdit")->setText("http://example.com/live/index.m3u8");
    for (int i = 1; i <= 3; ++i) {
      auto* row = new QTreeWidgetItem(list);
      row->setText(0, QString::number(i));
      row->setText(1, QString("http://example.com/video/%1/index.m3u8").arg(i));
    }
    for (int page : {0, 1}) {
      tabs->setCurrentIndex(page);
      QTest::qWait(50);
      EXPECT_TRUE(window.grab().save(QString("%1/page-%2.png").arg(dir).arg(page)));
    }
  }
}

}  // namespace
}  // namespace tavrin::testing

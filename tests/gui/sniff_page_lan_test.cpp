// The sniff page end to end on the test LAN: the window's core on host,
// the fixture phone app casting from phone, a fixture renderer on tv.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <set>
#include <string>
#include <vector>

#include "gui/gui_session.h"

namespace tavrin::testing {
namespace {

using Strings = std::vector<std::string>;
using std::chrono::seconds;

std::string caption(const GuiSession& session) {
  return session.find<QPushButton>("startStopButton")->text().toStdString();
}

// Casts from the phone to the renderer found by SSDP under "Morla小站";
// the URLs go into the request as they are, so they come XML-escaped.
std::unique_ptr<LanProcess> castByDiscovery(const Strings& escapedUrls) {
  std::vector<std::string> command = {TAVRIN_PHONE_APP, "cast", "--discover", "Morla小站"};
  command.insert(command.end(), escapedUrls.begin(), escapedUrls.end());
  return startOnLan("phone", command);
}

// Waits (processing events) until the phone has cast `count` URLs; how many
// of them the renderer answered with 200.
size_t castsAnswered(const LanProcess& phone, size_t count) {
  waitForLines(phone, "cast ", count, seconds(20));
  return phone.countLines("cast 200 ");
}

class SniffPageLan : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
    session.start();
    session.click("startStopButton");
    ASSERT_EQ(caption(session), "停止");
    ASSERT_TRUE(session.state.rendererServer->isRunning());
  }

  GuiSession session;
};

TEST_F(SniffPageLan, CastsBecomeNumberedRowsClearRestartsAndDoubleClickCopies) {
  const Strings urls = {"http://10.77.0.9/a.m3u8", "http://10.77.0.9/b.m3u8?x=1&y=2", "http://10.77.0.9/a.m3u8"};
  auto phone = castByDiscovery({urls[0], "http://10.77.0.9/b.m3u8?x=1&amp;y=2", urls[2]});
  ASSERT_EQ(castsAnswered(*phone, 3), 3u);
  EXPECT_EQ(session.capturedRows(), (Strings{"1 " + urls[0], "2 " + urls[1], "3 " + urls[2]}));

  // Double-click row 2: its URL, not its number, goes to the clipboard.
  QTreeWidget* list = session.capturedList();
  session.window->findChild<QTabWidget*>("tabs")->setCurrentIndex(1);
  QTreeWidgetItem* second = list->topLevelItem(1);
  list->setCurrentItem(second);
  QTest::qWait(50);
  ASSERT_TRUE(list->isVisible());
  // A click, then the double-click, as a user's mouse sends them.
  const QPoint at = list->visualItemRect(second).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), urls[1]);
  EXPECT_EQ(session.messages.messages(), Strings{"已复制"});

  session.click("clearButton");
  EXPECT_EQ(list->topLevelItemCount(), 0);
  auto again = castByDiscovery({"http://10.77.0.9/c.m3u8"});
  ASSERT_EQ(castsAnswered(*again, 1), 1u);
  EXPECT_EQ(session.capturedRows(), Strings{"1 http://10.77.0.9/c.m3u8"});

  // Stopping keeps the rows.
  session.click("startStopButton");
  EXPECT_EQ(caption(session), "启动");
  EXPECT_FALSE(session.state.rendererServer->isRunning());
  EXPECT_EQ(session.capturedRows().size(), 1u);
}

TEST_F(SniffPageLan, FetchAddsTheSelectedRenderersUriWithTheNextNumber) {
  // The program's own renderer answers searches while it runs: the player
  // is found while it is stopped, so that it is the only device.
  session.click("startStopButton");
  auto tv = startPlayer("tv");
  session.click("searchButton");
  ASSERT_TRUE(waitFor([&] { return session.deviceCombo()->count() == 1; }, seconds(10)));
  QTest::qWait(500);
  ASSERT_EQ(session.deviceCombo()->count(), 1);
  session.click("startStopButton");
  // Nothing played yet: nothing is added.
  session.click("fetchButton");
  EXPECT_TRUE(session.capturedRows().empty());

  session.find<QLineEdit>("urlEdit")->setText("http://10.77.0.9/played.m3u8");
  session.click("pushButton");
  auto phone = castByDiscovery({"http://10.77.0.9/cast.m3u8"});
  ASSERT_EQ(castsAnswered(*phone, 1), 1u);
  session.click("fetchButton");
  std::string played;
  for (const std::string& line : tv->lines()) played += line + "\n";
  EXPECT_EQ(session.capturedRows(), (Strings{"1 http://10.77.0.9/cast.m3u8", "2 http://10.77.0.9/played.m3u8"}))
      << played;
}

TEST_F(SniffPageLan, ThousandConcurrentCastsGiveThousandRowsInNumberOrder) {
  const int port = session.state.rendererPort;
  auto phone = startOnLan("phone", {TAVRIN_PHONE_APP, "cast", controlUrl(port), "http://10.77.0.9/v/", "--count",
                                    "1000", "--clients", "8"});
  ASSERT_TRUE(waitForLines(*phone, "cast-done ", 1, seconds(60)));
  const std::string done = *phone->waitForLine("cast-done ", seconds(1));
  EXPECT_EQ(done.rfind("cast-done 1000 0 ", 0), 0u) << done;
  QTreeWidget* list = session.capturedList();
  ASSERT_EQ(list->topLevelItemCount(), 1000);
  std::set<std::string> urls;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(list->topLevelItem(i)->text(0).toInt(), i + 1);
    urls.insert(list->topLevelItem(i)->text(1).toStdString());
  }
  EXPECT_EQ(urls.size(), 1000u);
  EXPECT_EQ(session.state.capturedRowCount, 1000);
}

TEST(SniffPage, NoFreePortKeepsStartAndAnotherClickRetries) {
  ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
  GuiSession session;
  TakenPorts taken(18889);
  ASSERT_TRUE(taken.all());
  session.click("startStopButton");
  EXPECT_EQ(session.messages.messages(), Strings{"本地服务器创建失败"});
  EXPECT_EQ(caption(session), "启动");
  taken.release();
  session.click("startStopButton");
  EXPECT_EQ(caption(session), "停止");
  EXPECT_EQ(session.messages.messages().size(), 1u);
}

}  // namespace
}  // namespace tavrin::testing

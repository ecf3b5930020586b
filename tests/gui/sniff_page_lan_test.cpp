// The sniff page end to end on the test LAN: the window's core on host,
// the fixture phone casting from phone, a fixture player on tv.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Casts from the phone to the renderer found by SSDP under "Morla小站".
std::unique_ptr<LanProcess> castByDiscovery(const Strings& urls) {
  std::vector<std::string> command = {TAVRIN_FIXTURE_PHONE, "--discover", "Morla小站"};
  for (const std::string& url : urls) command.insert(command.end(), {"--url", url});
  return startOnLan("phone", command);
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
  auto phone = castByDiscovery(urls);
  ASSERT_TRUE(waitForLines(*phone, "casts ", 1, seconds(20)));
  EXPECT_EQ(*phone->waitForLine("casts ", seconds(1)), "casts 3 3");
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
  ASSERT_TRUE(waitForLines(*again, "casts 1 1", 1, seconds(20)));
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
  ASSERT_TRUE(waitForLines(*phone, "casts 1 1", 1, seconds(20)));
  session.click("fetchButton");
  std::string played;
  for (const std::string& line : tv->lines()) played += line + "\n";
  EXPECT_EQ(session.capturedRows(), (Strings{"1 http://10.77.0.9/cast.m3u8", "2 http://10.77.0.9/played.m3u8"}))
      << played;
}

TEST_F(SniffPageLan, ThousandConcurrentCastsGiveThousandRowsInNumberOrder) {
  const int port = session.state.rendererPort;
  auto phone = startOnLan("phone", {TAVRIN_FIXTURE_PHONE, "--target", std::string(kHostAddress) + ":" +
                                    std::to_string(port), "--count", "1000", "--clients", "8", "--prefix",
                                    "http://10.77.0.9/v/"});
  ASSERT_TRUE(waitForLines(*phone, "casts ", 1, seconds(60)));
  EXPECT_EQ(*phone->waitForLine("casts ", seconds(1)), "casts 1000 1000");
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

// Listens on the ten ports from 18889 on the host's address in the LAN.
std::vector<int> takePorts(int first) {
  std::vector<int> fds;
  for (int port = first; port < first + 10; ++port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, kHostAddress, &address.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 16) == 0) {
      fds.push_back(fd);
    } else {
      close(fd);
    }
  }
  return fds;
}

TEST(SniffPage, NoFreePortKeepsStartAndAnotherClickRetries) {
  ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
  GuiSession session;
  std::vector<int> taken = takePorts(18889);
  ASSERT_EQ(taken.size(), 10u);
  session.click("startStopButton");
  EXPECT_EQ(session.messages.messages(), Strings{"本地服务器创建失败"});
  EXPECT_EQ(caption(session), "启动");
  for (int fd : taken) close(fd);
  session.click("startStopButton");
  EXPECT_EQ(caption(session), "停止");
  EXPECT_EQ(session.messages.messages().size(), 1u);
}

}  // namespace
}  // namespace tavrin::testing

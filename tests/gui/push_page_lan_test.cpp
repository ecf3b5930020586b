// The push page end to end on the test LAN: the window's core on host,
// fixture renderers that record their actions and play on tv and tv2.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures/fixture_renderer_documents.h"
#include "gui/gui_session.h"

namespace tavrin::testing {
namespace {

using Strings = std::vector<std::string>;
using std::chrono::seconds;

// Drops the files on the window as a file manager does.
void dropFiles(QWidget& window, const std::vector<std::string>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& path : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
}

std::string writeFile(const std::string& name, size_t bytes) {
  const std::string path = "/tmp/" + name;
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'v');
  return path;
}

class PushPageLan : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hasLocalAddress(kHostAddress)) << "runs on the test LAN's host";
    tv = startPlayer("tv");
    session.start();
    ASSERT_TRUE(waitFor([&] { return session.deviceCombo()->count() == 1; }, seconds(10)))
        << session.state.deviceList->count() << " devices; " << tv->lines().size() << " lines from the player";
  }

  GuiSession session;
  std::unique_ptr<LanProcess> tv;
};

TEST_F(PushPageLan, FirstRendererIsRowZeroAndSelected) {
  QComboBox* combo = session.deviceCombo();
  EXPECT_EQ(combo->itemText(0).toStdString(), "tv 电视 1");
  EXPECT_EQ(combo->itemData(0).toInt(), 1);
  EXPECT_EQ(combo->currentIndex(), 0);

  // A second renderer is appended; the selection stays on row 0.
  auto tv2 = startPlayer("tv2");
  session.click("searchButton");
  EXPECT_TRUE(waitFor([&] { return combo->count() == 2; }, seconds(10)));
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(combo->itemData(0).toInt(), 1);
  EXPECT_EQ(combo->itemData(1).toInt(), 2);
  EXPECT_EQ(session.state.deviceList->count(), 2);
}

TEST_F(PushPageLan, PushSendsSetUriThenPlayAndSaysDone) {
  const std::string url = "http://10.77.0.9/live/a.m3u8?x=1&y=2";
  session.find<QLineEdit>("urlEdit")->setText(QString::fromStdString(url));
  session.click("pushButton");
  ASSERT_TRUE(waitForLines(*tv, "action ", 2, seconds(5)));
  std::vector<std::string> actions;
  for (const std::string& line : tv->lines()) {
    if (line.rfind("action ", 0) == 0) actions.push_back(line);
  }
  EXPECT_EQ(actions, (Strings{"action 1 SetAVTransportURI http://10.77.0.9/live/a.m3u8?x=1&amp;y=2", "action 1 Play"}));
  EXPECT_EQ(session.messages.messages(), Strings{"完成"});

  // The empty text is pushed too.
  session.find<QLineEdit>("urlEdit")->clear();
  session.click("pushButton");
  ASSERT_TRUE(waitForLines(*tv, "action 1 SetAVTransportURI ", 2, seconds(5)));
  EXPECT_EQ(tv->countLines("action 1 SetAVTransportURI http:"), 1u);
  EXPECT_EQ(session.messages.messages().size(), 2u);
}

TEST_F(PushPageLan, PushWithNothingSelectedDoesNothing) {
  session.deviceCombo()->setCurrentIndex(-1);
  session.find<QLineEdit>("urlEdit")->setText("http://10.77.0.9/a.m3u8");
  session.click("pushButton");
  dropFiles(*session.window, {writeFile("tavrin-gui-none.mp4", 10)});
  QTest::qWait(1000);
  EXPECT_EQ(tv->countLines("action "), 0u);
  EXPECT_TRUE(session.messages.messages().empty());
}

TEST_F(PushPageLan, DroppedFileIsFetchedByTheRendererFromTheMediaServer) {
  const std::string path = writeFile("tavrin-gui-drop.mp4", 123457);
  dropFiles(*session.window, {path});
  ASSERT_TRUE(waitForLines(*tv, "fetched ", 1, seconds(10)));
  const std::string fetched = *tv->waitForLine("fetched ", seconds(1));
  // The whole file, byte for byte, from the program's media server.
  const std::string prefix = "fetched 200 123457 " + fingerprint(std::string(123457, 'v')) +
                             " whole http://10.77.0.1:" + std::to_string(session.state.mediaServerPort.load()) + "/1?";
  EXPECT_EQ(fetched.rfind(prefix, 0), 0u) << fetched;
  EXPECT_EQ(session.state.selectedMediaPath.get(), path);
  EXPECT_EQ(session.messages.messages(), Strings{"完成"});
}

TEST_F(PushPageLan, TwoDroppedFilesAreRefused) {
  dropFiles(*session.window, {writeFile("tavrin-gui-a.mp4", 10), writeFile("tavrin-gui-b.mp4", 10)});
  EXPECT_TRUE(waitFor([&] { return !session.messages.messages().empty(); }, seconds(2)));
  QTest::qWait(300);
  EXPECT_EQ(session.messages.messages(), Strings{"请只拖入一个文件"});
  EXPECT_EQ(tv->countLines("action "), 0u);
}

TEST_F(PushPageLan, SearchEmptiesTheBoxAndListsTheRenderersAgain) {
  session.deviceCombo()->setCurrentIndex(-1);
  session.click("searchButton");
  EXPECT_EQ(session.deviceCombo()->count(), 0);
  ASSERT_TRUE(waitFor([&] { return session.deviceCombo()->count() == 1; }, seconds(10)));
  EXPECT_EQ(session.deviceCombo()->currentIndex(), 0);
  EXPECT_EQ(session.deviceCombo()->itemData(0).toInt(), 1);
}

TEST_F(PushPageLan, DropTargetLetsGoOfTheWindowAtExit) {
  EXPECT_TRUE(session.window->acceptDrops());
  EXPECT_EQ(session.dropTarget->liftedMessages(), (std::vector<unsigned>{0x0233, 0x004A, 0x0049}));
  session.exit();
  EXPECT_FALSE(session.window->acceptDrops());
}

TEST(DropTarget, MessageFilterIsLeftAloneOnWindowsXp) {
  QWidget window;
  for (const auto& [version, lifted] : std::vector<std::pair<std::string, size_t>>{
           {"Windows XP Professional", 0}, {"Windows 7", 3}, {"", 3}, {"Windows X", 3}}) {
    QtFileDropTarget target([version = version] { return version; });
    target.install(&window, [](const std::string&) {});
    EXPECT_EQ(target.liftedMessages().size(), lifted) << version;
    EXPECT_TRUE(window.acceptDrops());
  }
  EXPECT_FALSE(window.acceptDrops());
}

}  // namespace
}  // namespace tavrin::testing

// The peer of Tavrin's start-up in the start-up bench: the least a Qt Widgets
// window program does, one empty window of Tavrin's size, which sends one
// M-SEARCH as soon as its window is up (as Tavrin's start-up does once its
// window exists), so that both are timed on the wire the same way.
// Runs only on the test LAN's host.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <string>

#include "fixtures/lan_process.h"

namespace tavrin {
namespace {

void sendOneSearch() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const std::string search =
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n"
      "ST: urn:schemas-upnp-org:device:MediaRenderer:1\r\n\r\n";
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(1900);
  inet_pton(AF_INET, "239.255.255.250", &group.sin_addr);
  sendto(fd, search.data(), search.size(), 0, reinterpret_cast<sockaddr*>(&group), sizeof group);
  close(fd);
}

}  // namespace
}  // namespace tavrin

int main(int argc, char** argv) {
  if (!tavrin::testing::hasLocalAddress("10.77.0.1")) {
    std::fprintf(stderr, "minimal_qt_window runs only on the test LAN's host\n");
    return 3;
  }
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("minimal");
  window.setFixedSize(559, 200);
  window.show();
  QTimer::singleShot(0, &window, [] { tavrin::sendOneSearch(); });
  return app.exec();
}

#pragma once
// The media server's one path, "/1", which sends the file of the latest
// local-file push, and the push itself: the selected renderer is told to
// play "http://<host address in its network>:<port>/1?<stamp>".
#include <chrono>
#include <string>

namespace tavrin {

struct AppState;
class HttpRequest;
class HttpResponse;

// The handler of "/1": the file selected when the request arrives, with the
// DLNA headers TVs look for. False when there is no such file.
bool serveMediaFile(AppState& state, const HttpRequest& request, HttpResponse& response);

// Registers "/1" on the media server.
void registerMediaPath(AppState& state);

// Serves the file and has the device play it. selectedRow is the combo box's
// selected row (-1: none), deviceValue the item value of that row (the
// device's 1-based index; -1 when the row does not exist). Says "完成" after
// the push; pushes nothing when no device is selected.
void pushLocalFile(AppState& state, const std::string& path, int selectedRow, int deviceValue);

// The JSON text of the device record at the 1-based index; "{}" when none.
std::string deviceRecordJson(const AppState& state, int deviceIndex);

// Ten digits: the seconds from 1970-01-01 08:00:00 local time to now, local
// time (the Unix time on a machine at UTC+8), followed by the milliseconds
// and cut to ten characters.
std::string makeTimeStamp();
std::string makeTimeStamp(std::chrono::system_clock::time_point now, long utcOffsetSeconds);

// The text after the last occurrence of the separator; empty when none.
std::string textAfterLast(const std::string& text, const std::string& separator);

}  // namespace tavrin

#pragma once
// Every message the program shows goes through showMessage; the window
// installs a sink that shows a modal box, tests install one that collects.
#include <functional>
#include <string>

namespace tavrin {

using MessageSink = std::function<void(const std::string& gbkText)>;

// Shows a GBK text to the user and returns when the user has closed it.
void showMessage(const std::string& gbkText);

// Installs the routine that shows messages and returns the previous one.
// Without a sink, messages go to standard error as UTF-8.
MessageSink setMessageSink(MessageSink sink);

}  // namespace tavrin

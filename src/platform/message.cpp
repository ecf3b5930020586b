#include "platform/message.h"

#include <cstdio>
#include <mutex>

#include "platform/text_encoding.h"

namespace tavrin {
namespace {

std::mutex sinkMutex;

MessageSink& currentSink() {
  static MessageSink sink;
  return sink;
}

}  // namespace

void showMessage(const std::string& gbkText) {
  MessageSink sink;
  {
    std::lock_guard<std::mutex> lock(sinkMutex);
    sink = currentSink();
  }
  if (sink) {
    sink(gbkText);
  } else {
    std::fprintf(stderr, "%s\n", gbkToUtf8(gbkText).c_str());
  }
}

MessageSink setMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex);
  currentSink().swap(sink);
  return sink;
}

}  // namespace tavrin

#include "host/service_labels.h"

#include "platform/gbk_text.h"
#include "platform/text_encoding.h"

namespace tavrin {

std::string serviceStateName(int state) {
  static const char* const names[] = {"已停止", "启动期间", "停止期间", "正运行", "继续", "暂停期间", "已暂停"};
  if (state < kServiceStopped || state > kServicePaused) return std::string();
  return utf8ToGbk(names[state - 1]);
}

int startTypeCode(int startType, int serviceType) {
  if (startType == kStartAutomatic && serviceType == kServiceSharedProcess) return 1;
  if (startType == kStartAutomatic && serviceType == kServiceOwnProcess) return 2;
  if (startType == kStartOnDemand) return 3;
  if (startType == kStartDisabled) return 4;
  return 255;
}

std::string startTypeLabel(int startType, int serviceType) {
  static const char* const labels[] = {"自动", "自动(延迟启动)", "手动", "禁用"};
  int code = startTypeCode(startType, serviceType);
  return code <= 4 ? utf8ToGbk(labels[code - 1]) : std::string();
}

std::string accountLabel(const std::string& accountName) {
  const std::string upper = toUpperAscii(accountName);
  if (findText(upper, "LOCALSERVICE") != kTextNotFound) return utf8ToGbk("本地服务");
  if (findText(upper, "NETWORKSERVICE") != kTextNotFound) return utf8ToGbk("网络服务");
  if (findText(upper, "LOCALSYSTEM") != kTextNotFound) return utf8ToGbk("本地系统");
  return std::string();
}

std::string listedAccountLabel(const std::string& accountName) {
  std::string label = accountLabel(accountName);
  return label.empty() ? toUpperAscii(accountName) : label;
}

}  // namespace tavrin

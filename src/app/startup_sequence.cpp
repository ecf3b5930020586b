#include "app/startup_sequence.h"

#include "app/app_state.h"
#include "host/firewall_rule.h"
#include "host/ssdp_services.h"
#include "httpserv/media_server.h"
#include "platform/data_execution_prevention.h"
#include "platform/free_port.h"
#include "platform/key_value_map.h"
#include "platform/message.h"
#include "platform/text_encoding.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin {

StartupSteps realStartupSteps() {
  StartupSteps steps;
  steps.turnOffDataExecutionPrevention = turnOffDataExecutionPrevention;
  steps.ensureFirewallRule = ensureFirewallRule;
  steps.stopSsdpServices = stopSsdpServices;
  steps.findFreePort = findFreePort;
  steps.startDiscovery = [](AppState& state, std::function<void(int index)> deviceFound) {
    return startDiscovery(state, std::move(deviceFound));
  };
  return steps;
}

void onMainWindowCreated(AppState& state, StartupWindow& window, const StartupSteps& steps) {
  window.clearDeviceCombo();
  steps.turnOffDataExecutionPrevention();
  if (!steps.ensureFirewallRule("kqvd", "in")) showMessage(utf8ToGbk("防火墙添加失败，请手动允许"));
  if (!steps.stopSsdpServices()) showMessage(utf8ToGbk("ssdp关闭失败"));
  if (state.dropTarget) {
    state.dropTarget->install(window.nativeHandle(),
                              [&window](const std::string& paths) { window.onFileDropped(paths); });
  }
  state.capturedRowCount = 0;
  state.messageCallback = showMessage;
  registerMediaPath(state);

  const int port = steps.findFreePort(kFirstMediaServerPort);
  if (port == -1) {
    showMessage(utf8ToGbk("本地服务器创建失败"));
    return;
  }
  {
    KeyValueMap config;
    config.setInt(utf8ToGbk("端口"), port);
    state.mediaServer->start(config);
  }
  state.mediaServerPort = port;
  steps.startDiscovery(state, [&window](int index) { window.onDeviceFound(index); });
}

}  // namespace tavrin

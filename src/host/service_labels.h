#pragma once
// The labels under which services are shown: state, start type, account.
// All GBK texts.
#include <string>

namespace tavrin {

// Service states as the service control manager numbers them.
constexpr int kServiceStopped = 1;
constexpr int kServiceStartPending = 2;
constexpr int kServiceStopPending = 3;
constexpr int kServiceRunning = 4;
constexpr int kServiceContinuePending = 5;
constexpr int kServicePausePending = 6;
constexpr int kServicePaused = 7;

// Start types and service types of a service's configuration.
constexpr int kStartAutomatic = 2;
constexpr int kStartOnDemand = 3;
constexpr int kStartDisabled = 4;
constexpr int kServiceOwnProcess = 16;
constexpr int kServiceSharedProcess = 32;
constexpr int kServiceInteractive = 256;

// "已停止" … "已暂停" for 1 to 7; the empty text for any other state.
std::string serviceStateName(int state);

// "自动" (automatic, shared process), "自动(延迟启动)" (automatic, own
// process), "手动", "禁用", or the empty text for anything else.
std::string startTypeLabel(int startType, int serviceType);

// 1 to 4 in the order of the labels above, 255 for anything else.
int startTypeCode(int startType, int serviceType);

// "本地服务", "网络服务" or "本地系统" when the account name holds
// LocalService, NetworkService or LocalSystem (in any case, tried in that
// order); the empty text for any other account.
std::string accountLabel(const std::string& accountName);

// What a listing shows for an account: its label, or the account name itself
// in upper case when it has none.
std::string listedAccountLabel(const std::string& accountName);

}  // namespace tavrin

#pragma once
// Querying and controlling the host's services. On Linux the services are
// systemd's, reached through `systemctl` run by runCommand; service names are
// unit names ("ssh" or "ssh.service"). Operations that have no counterpart in
// systemd give false, 0 or the empty text. Texts are GBK, except executable
// paths, which keep the file system's own bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace tavrin {

struct ServiceInfo {
  std::string keyName;
  std::string displayName;
  std::string description;
  std::string binaryPath;
  std::string startTypeLabel;
  std::string stateLabel;
  std::string accountLabel;
};

struct ServiceProcessInfo {
  std::string keyName;
  std::string displayName;
  std::string description;
  int32_t processId = 0;
  std::string binaryPath;
  std::string startTypeLabel;
  std::string stateLabel;
  std::string accountLabel;
};

// State filters of the listing operations.
constexpr int kServiceActive = 1;    // every state but stopped
constexpr int kServiceInactive = 2;  // stopped
constexpr int kServiceStateAll = 3;

// Holds no state: every operation asks the system afresh.
class ServiceController {
 public:
  ServiceController() = default;
  ~ServiceController() = default;
  ServiceController(const ServiceController&) = default;

  // 1 to 7 (see service_labels.h); 0 when the service does not exist or
  // cannot be queried.
  int queryState(const std::string& name) const;
  // 16 (own process) for a service that exists; 0 otherwise.
  int queryServiceType(const std::string& name) const;
  std::string getDescription(const std::string& name) const;
  // No systemd counterpart: false.
  bool setDescription(const std::string& name, const std::string& description) const;
  std::string getDisplayName(const std::string& name) const;
  // The key name of the service whose display name this is; empty when none.
  std::string getKeyName(const std::string& displayName) const;
  // No systemd counterpart: false.
  bool createService(const std::string& name, const std::string& displayName, const std::string& binaryPath,
                     const std::string& description, bool interactive, int serviceType = 16, int startType = 3,
                     const std::string& dependencies = "", const std::string& account = "",
                     const std::string& password = "") const;
  // No systemd counterpart: false.
  bool deleteService(const std::string& name) const;
  // The start request was accepted; does not wait for the service to run.
  bool startService(const std::string& name) const;
  // The stop request was accepted; does not wait for the service to stop
  // and does not stop services that depend on it.
  bool stopService(const std::string& name) const;
  // Freezes the service (systemd's pause).
  bool pauseService(const std::string& name) const;
  // Thaws a frozen service.
  bool continueService(const std::string& name) const;
  bool exists(const std::string& name) const;
  // 2 enables, 3 disables, 4 masks the unit; other start types: false.
  bool setStartType(const std::string& name, int startType) const;
  // 1 to 4 or 255 (see startTypeCode); 0 when the service does not exist.
  int getStartTypeCode(const std::string& name) const;
  std::string getBinaryPath(const std::string& name) const;
  // No systemd counterpart: false.
  bool setBinaryPath(const std::string& name, const std::string& path) const;
  // The account label of the account the service runs as (see accountLabel).
  std::string getAccountName(const std::string& name) const;
  // Replaces the list by the services in any state but stopped; their number.
  int listActiveServices(std::vector<ServiceInfo>& list) const;
  int countServices(int stateFilter = kServiceStateAll) const;
  int listServices(int stateFilter, std::vector<ServiceProcessInfo>& list) const;
  // Replaces the list by the services that must stop when this one stops.
  int listDependentServices(const std::string& name, std::vector<ServiceInfo>& list) const;
  // Stops the running dependents one by one, waiting for each to stop, at
  // most 30 seconds for all of them together.
  void stopDependentServices(const std::string& name) const;
  std::string stateName(int state) const;
  // Stops the service and, when the stop was accepted, starts it again.
  bool restartService(const std::string& name) const;
};

}  // namespace tavrin

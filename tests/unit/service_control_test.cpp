#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host/command_runner.h"
#include "host/service_controller.h"
#include "host/service_labels.h"
#include "host/ssdp_services.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

// A fake systemctl, alone on PATH so the host's services can never be touched.
// It records its arguments in "calls"; `show` prints units/<name> for each
// name after "--" (a unit without a file does not exist); `list-units` prints
// the file "list"; a verb with a file refuse-<verb> fails; `stop` makes the
// unit inactive.
const char kFakeSystemctl[] = R"sh(#!/bin/sh
D=$(dirname "$0")
printf '%s\n' "$*" >> "$D/calls"
verb=$1
while [ $# -gt 0 ] && [ "$1" != "--" ]; do shift; done
[ $# -gt 0 ] && shift
if [ -f "$D/refuse-$verb" ]; then echo "Failed to $verb $1: Access denied" >&2; exit 1; fi
case "$verb" in
  show)
    first=1
    for unit in "$@"; do
      [ $first = 1 ] || echo
      first=0
      if [ -f "$D/units/$unit" ]; then
        while IFS= read -r line; do printf '%s\n' "$line"; done < "$D/units/$unit"
      else
        printf 'Id=%s.service\nLoadState=not-found\nActiveState=inactive\n' "$unit"
      fi
    done ;;
  list-units)
    while IFS= read -r line; do printf '%s\n' "$line"; done < "$D/list" ;;
  stop)
    if [ -f "$D/units/$1" ]; then
      printf 'Id=%s\nLoadState=loaded\nActiveState=inactive\n' "$1" > "$D/units/$1"
    fi ;;
esac
exit 0
)sh";

class ServiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavrin-services-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::mkdir((dir_ + "/units").c_str(), 0755);
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    // dirname is the one outside tool the fake uses.
    ::setenv("PATH", (dir_ + ":/usr/bin:/bin").c_str(), 1);
    writeSystemctl(kFakeSystemctl);
    write("list", "");
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  void write(const std::string& name, const std::string& text) {
    std::ofstream file(dir_ + "/" + name);
    file << text;
  }
  void writeSystemctl(const std::string& script) {
    write("systemctl", script);
    ::chmod((dir_ + "/systemctl").c_str(), 0755);
  }
  void unit(const std::string& name, const std::string& properties) {
    write("units/" + name, "Id=" + name + "\nLoadState=loaded\n" + properties);
  }
  void refuse(const std::string& verb) { write("refuse-" + verb, ""); }

  std::vector<std::string> calls() {
    std::vector<std::string> lines;
    std::ifstream file(dir_ + "/calls");
    std::string line;
    while (std::getline(file, line)) lines.push_back(line);
    return lines;
  }

  std::string dir_;
  std::string savedPath_;
};

const char kShow[] =
    "show --property=Id,Description,LoadState,ActiveState,FreezerState,UnitFileState,ExecStart,User,MainPID,"
    "RequiredBy,BoundBy,ConsistsOf -- ";

TEST_F(ServiceControl, StopsOnlyUpnphostWhenItRuns) {
  unit("upnphost", "ActiveState=active\n");
  unit("SSDPSRV", "ActiveState=active\n");
  EXPECT_TRUE(stopSsdpServices());
  EXPECT_EQ(calls(), (std::vector<std::string>{std::string(kShow) + "upnphost", "stop --no-block -- upnphost"}));
}

TEST_F(ServiceControl, StopsSsdpsrvWhenUpnphostIsStopped) {
  unit("upnphost", "ActiveState=inactive\n");
  unit("SSDPSRV", "ActiveState=active\n");
  EXPECT_TRUE(stopSsdpServices());
  EXPECT_EQ(calls(), (std::vector<std::string>{std::string(kShow) + "upnphost", std::string(kShow) + "SSDPSRV",
                                               "stop --no-block -- SSDPSRV"}));
}

TEST_F(ServiceControl, StopsNothingWhenNeitherExists) {
  EXPECT_TRUE(stopSsdpServices());
  EXPECT_EQ(calls(), (std::vector<std::string>{std::string(kShow) + "upnphost", std::string(kShow) + "SSDPSRV"}));
}

TEST_F(ServiceControl, ReportsARefusedStop) {
  unit("upnphost", "ActiveState=active\n");
  refuse("stop");
  EXPECT_FALSE(stopSsdpServices());
}

TEST_F(ServiceControl, TreatsABrokenSystemctlAsNoServiceRunning) {
  const std::string garbage[] = {
      "#!/bin/sh\necho 'LoadState'; echo '=active'; printf '\\377\\376 ActiveState active\\n'; exit 0\n",
      "#!/bin/sh\necho 'System has not been booted with systemd as init system (PID 1).' >&2; exit 1\n",
      "#!/bin/sh\nprintf 'LoadState=loaded\\nActiveState=active\\n'; exit 1\n",  // failed though it printed
  };
  for (const std::string& script : garbage) {
    writeSystemctl(script);
    EXPECT_EQ(ServiceController().queryState("upnphost"), 0) << script;
    EXPECT_TRUE(stopSsdpServices()) << script;
  }
}

TEST_F(ServiceControl, GivesUpOnAHungSystemctlAtTheTimeLimit) {
  writeSystemctl("#!/bin/sh\nwhile :; do :; done\n");
  const auto previous = setCommandTimeLimit(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(stopSsdpServices());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  setCommandTimeLimit(previous);
}

TEST_F(ServiceControl, MapsSystemdStatesOntoServiceStates) {
  struct Case {
    const char* properties;
    int state;
  } cases[] = {
      {"ActiveState=inactive\n", 1},   {"ActiveState=failed\n", 1},
      {"ActiveState=activating\n", 2}, {"ActiveState=deactivating\n", 3},
      {"ActiveState=active\n", 4},     {"ActiveState=reloading\n", 4},
      {"ActiveState=active\nFreezerState=thawing\n", 5},
      {"ActiveState=active\nFreezerState=freezing\n", 6},
      {"ActiveState=active\nFreezerState=frozen\n", 7},
      {"ActiveState=something-new\n", 0},
  };
  ServiceController controller;
  for (const Case& c : cases) {
    unit("a", c.properties);
    EXPECT_EQ(controller.queryState("a"), c.state) << c.properties;
  }
  EXPECT_EQ(controller.queryState("missing"), 0);
  EXPECT_FALSE(controller.exists("missing"));
  EXPECT_TRUE(controller.exists("a"));
  EXPECT_EQ(controller.queryState(""), 0);
}

TEST_F(ServiceControl, PassesNamesAsOneArgumentThatIsNoOption) {
  ServiceController controller;
  const std::string name = "--now x; touch '" + dir_ + "/pwned' $(touch " + dir_ + "/pwned2)";
  EXPECT_EQ(controller.queryState(name), 0);
  EXPECT_TRUE(controller.stopService(name));  // the fake accepts anything after "--"
  EXPECT_EQ(calls().back(), "stop --no-block -- " + name);
  EXPECT_NE(::access((dir_ + "/pwned").c_str(), F_OK), 0);
  EXPECT_NE(::access((dir_ + "/pwned2").c_str(), F_OK), 0);
}

TEST_F(ServiceControl, ReadsConfigurationFromTheUnit) {
  unit("ssh.service",
       "Description=OpenBSD Secure Shell server \xE2\x80\x94 \xE4\xB8\xAD\n"
       "ActiveState=active\nUnitFileState=enabled\nMainPID=812\n"
       "ExecStart={ path=/usr/sbin/sshd ; argv[]=/usr/sbin/sshd -D $SSHD_OPTS ; ignore_errors=no ; pid=812 }\n");
  unit("static.service", "ActiveState=inactive\nUnitFileState=static\nUser=nobody\n");
  unit("masked.service", "ActiveState=inactive\nUnitFileState=masked\n");
  unit("odd.service", "ActiveState=inactive\nUnitFileState=bad\n");
  ServiceController controller;
  EXPECT_EQ(controller.getDescription("ssh.service"), utf8ToGbk("OpenBSD Secure Shell server \xE2\x80\x94 中"));
  EXPECT_EQ(controller.getDisplayName("ssh.service"), controller.getDescription("ssh.service"));
  EXPECT_EQ(controller.getBinaryPath("ssh.service"), "/usr/sbin/sshd -D $SSHD_OPTS");
  EXPECT_EQ(controller.queryServiceType("ssh.service"), kServiceOwnProcess);
  EXPECT_EQ(controller.getStartTypeCode("ssh.service"), 2);
  EXPECT_EQ(controller.getStartTypeCode("static.service"), 3);
  EXPECT_EQ(controller.getStartTypeCode("masked.service"), 4);
  EXPECT_EQ(controller.getStartTypeCode("odd.service"), 255);
  EXPECT_EQ(controller.getStartTypeCode("missing"), 0);
  EXPECT_EQ(controller.getAccountName("static.service"), "");
  EXPECT_EQ(controller.queryServiceType("missing"), 0);
  EXPECT_EQ(controller.getDescription("missing"), "");
  EXPECT_EQ(controller.getBinaryPath("missing"), "");
}

TEST_F(ServiceControl, ControlsUnitsThroughSystemctl) {
  unit("a", "ActiveState=active\n");
  ServiceController controller;
  EXPECT_TRUE(controller.startService("a"));
  EXPECT_TRUE(controller.pauseService("a"));
  EXPECT_TRUE(controller.continueService("a"));
  EXPECT_TRUE(controller.setStartType("a", 2));
  EXPECT_TRUE(controller.setStartType("a", 3));
  EXPECT_TRUE(controller.setStartType("a", 4));
  EXPECT_FALSE(controller.setStartType("a", 1));
  EXPECT_TRUE(controller.restartService("a"));
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "start --no-block -- a", "freeze -- a", "thaw -- a", "unmask -- a", "enable -- a",
                         "unmask -- a", "disable -- a", "mask -- a", "stop --no-block -- a",
                         "start --no-block -- a"}));
  refuse("stop");
  EXPECT_FALSE(controller.restartService("a"));
  EXPECT_EQ(calls().back(), "stop --no-block -- a");
}

TEST_F(ServiceControl, OperationsWithoutSystemdCounterpartChangeNothing) {
  unit("a", "ActiveState=active\n");
  ServiceController controller;
  EXPECT_FALSE(controller.setDescription("a", "text"));
  EXPECT_FALSE(controller.createService("b", "B", "/bin/true", "text", false));
  EXPECT_FALSE(controller.deleteService("a"));
  EXPECT_FALSE(controller.setBinaryPath("a", "/bin/true"));
  EXPECT_TRUE(calls().empty());
}

TEST_F(ServiceControl, ListsServicesWithTheirLabels) {
  write("list",
        "a.service loaded active running Alpha\n"
        "b.service loaded inactive dead Beta\n"
        "c.service loaded activating start Gamma\n"
        "not a unit line\n");
  unit("a.service", "Description=Alpha\nActiveState=active\nUnitFileState=enabled\nMainPID=42\n"
                    "ExecStart={ path=/bin/a ; argv[]=/bin/a -x ; }\n");
  unit("b.service", "Description=Beta\nActiveState=inactive\nUnitFileState=disabled\nUser=www-data\n");
  unit("c.service", "Description=Gamma\nActiveState=activating\nUnitFileState=masked\n");
  ServiceController controller;

  std::vector<ServiceInfo> active{ServiceInfo{"stale", "", "", "", "", "", ""}};
  EXPECT_EQ(controller.listActiveServices(active), 2);
  ASSERT_EQ(active.size(), 2u);
  EXPECT_EQ(active[0].keyName, "a.service");
  EXPECT_EQ(active[0].displayName, "Alpha");
  EXPECT_EQ(active[0].description, "Alpha");
  EXPECT_EQ(active[0].binaryPath, "/bin/a -x");
  EXPECT_EQ(active[0].startTypeLabel, utf8ToGbk("自动(延迟启动)"));
  EXPECT_EQ(active[0].stateLabel, utf8ToGbk("正运行"));
  EXPECT_EQ(active[0].accountLabel, "ROOT");
  EXPECT_EQ(active[1].keyName, "c.service");
  EXPECT_EQ(active[1].stateLabel, utf8ToGbk("启动期间"));
  EXPECT_EQ(active[1].startTypeLabel, utf8ToGbk("禁用"));

  EXPECT_EQ(controller.countServices(), 3);
  EXPECT_EQ(controller.countServices(kServiceActive), 2);
  EXPECT_EQ(controller.countServices(kServiceInactive), 1);
  EXPECT_EQ(controller.countServices(99), 0);

  std::vector<ServiceProcessInfo> stopped;
  EXPECT_EQ(controller.listServices(kServiceInactive, stopped), 1);
  ASSERT_EQ(stopped.size(), 1u);
  EXPECT_EQ(stopped[0].keyName, "b.service");
  EXPECT_EQ(stopped[0].startTypeLabel, utf8ToGbk("手动"));
  EXPECT_EQ(stopped[0].accountLabel, "WWW-DATA");
  std::vector<ServiceProcessInfo> all;
  EXPECT_EQ(controller.listServices(kServiceStateAll, all), 3);
  EXPECT_EQ(all[0].processId, 42);

  EXPECT_EQ(controller.getKeyName("Beta"), "b.service");
  EXPECT_EQ(controller.getKeyName("Delta"), "");
}

TEST_F(ServiceControl, ListingsComeBackEmptyWhenSystemctlFails) {
  writeSystemctl("#!/bin/sh\necho 'Failed to connect to bus' >&2; exit 1\n");
  ServiceController controller;
  std::vector<ServiceInfo> list{ServiceInfo{"stale", "", "", "", "", "", ""}};
  EXPECT_EQ(controller.listActiveServices(list), 0);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(controller.countServices(), 0);
  EXPECT_EQ(controller.listDependentServices("a", list), 0);
}

TEST_F(ServiceControl, StopsRunningDependentsAndWaitsForThem) {
  unit("base", "ActiveState=active\nRequiredBy=up.service down.service\nBoundBy=bound.service other.target\n");
  unit("up.service", "Description=Up\nActiveState=active\n");
  unit("down.service", "Description=Down\nActiveState=inactive\n");
  unit("bound.service", "Description=Bound\nActiveState=active\n");
  ServiceController controller;
  std::vector<ServiceInfo> dependents;
  EXPECT_EQ(controller.listDependentServices("base", dependents), 3);
  ASSERT_EQ(dependents.size(), 3u);
  EXPECT_EQ(dependents[2].keyName, "bound.service");

  controller.stopDependentServices("base");
  std::vector<std::string> stops;
  for (const std::string& call : calls()) {
    if (call.compare(0, 5, "stop ") == 0) stops.push_back(call);
  }
  EXPECT_EQ(stops, (std::vector<std::string>{"stop --no-block -- up.service", "stop --no-block -- bound.service"}));
  EXPECT_EQ(controller.queryState("up.service"), kServiceStopped);
  EXPECT_EQ(controller.queryState("base"), kServiceRunning);
}

TEST(ServiceLabels, NameStatesStartTypesAndAccounts) {
  const char* states[] = {"", "已停止", "启动期间", "停止期间", "正运行", "继续", "暂停期间", "已暂停", ""};
  for (int state = 0; state <= 8; ++state) {
    EXPECT_EQ(ServiceController().stateName(state), utf8ToGbk(states[state])) << state;
  }
  EXPECT_EQ(serviceStateName(-1), "");

  struct StartCase {
    int startType;
    int serviceType;
    const char* label;
    int code;
  } starts[] = {
      {2, 32, "自动", 1}, {2, 16, "自动(延迟启动)", 2}, {2, 272, "", 255}, {3, 16, "手动", 3},
      {3, 32, "手动", 3}, {4, 16, "禁用", 4},           {0, 16, "", 255},  {1, 32, "", 255},
  };
  for (const StartCase& c : starts) {
    EXPECT_EQ(startTypeLabel(c.startType, c.serviceType), utf8ToGbk(c.label)) << c.startType << "/" << c.serviceType;
    EXPECT_EQ(startTypeCode(c.startType, c.serviceType), c.code) << c.startType << "/" << c.serviceType;
  }

  struct AccountCase {
    const char* account;
    const char* label;
    const char* listed;
  } accounts[] = {
      {"NT AUTHORITY\\LocalService", "本地服务", "本地服务"},
      {"NT Authority\\networkservice", "网络服务", "网络服务"},
      {"LocalSystem", "本地系统", "本地系统"},
      {".\\tavrin", "", ".\\TAVRIN"},
      {"", "", ""},
  };
  for (const AccountCase& c : accounts) {
    EXPECT_EQ(accountLabel(c.account), utf8ToGbk(c.label)) << c.account;
    EXPECT_EQ(listedAccountLabel(c.account), utf8ToGbk(c.listed)) << c.account;
  }
}

}  // namespace
}  // namespace tavrin

// Starting and stopping services, on real child processes run by the
// supervisor backend, with every wait on the virtual clock.
#include "frame/service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "frame/vktapp.h"
#include "saapi/saapi.h"
#include "svc/winsvc.h"
#include "win/services.h"

namespace {

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkt::LibraryLoad();
    previous_ = vkt::svc::SetServiceBackend(&sup_);
    sup_.Define("mirtosrv", {"/bin/sleep", "30"}, "Mirto server");
    // Ignores the polite stop: only the kill after the limit ends it.
    sup_.Define("ostinato", {"/bin/sh", "-c", "trap '' TERM; sleep 30"});
    sup_.Define("rotto", {"/nonexistent/program"});
  }
  void TearDown() override { vkt::svc::SetServiceBackend(previous_); }

  // The text of the user exception CloseService throws, or "" when none.
  std::string CloseThrows(const char* name) {
    try {
      CloseService(name);
    } catch (const SAException& e) {
      return std::string(static_cast<const char*>(e.ErrText()));
    }
    return "";
  }

  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  vkt::svc::Supervisor sup_;
  vkt::svc::ServiceBackend* previous_ = nullptr;
};

TEST_F(ServiceTest, CheckServiceStartsOnlyAStoppedServiceThatExists) {
  EXPECT_TRUE(CheckService("mirtosrv"));
  int pid = sup_.Pid("mirtosrv");
  EXPECT_GT(pid, 0);
  EXPECT_EQ(kill(pid, 0), 0);  // a real process
  // Already running: false, and not restarted.
  EXPECT_FALSE(CheckService("mirtosrv"));
  EXPECT_EQ(sup_.Pid("mirtosrv"), pid);
  EXPECT_EQ(sup_.starts(), 1);
  EXPECT_FALSE(CheckService("assente"));
  EXPECT_FALSE(CheckService(nullptr));
  sup_.SetReachable(false);
  EXPECT_FALSE(CheckService("mirtosrv"));
}

TEST_F(ServiceTest, AStartThatFailsIsReportedAsFailure) {
  EXPECT_FALSE(CheckService("rotto"));
  EXPECT_EQ(sup_.Pid("rotto"), 0);
}

TEST_F(ServiceTest, CloseServiceStopsAndWaitsOnTheServicesClock) {
  // Takes a real moment to stop once asked, so the wait has to poll; the
  // ready file says the trap is set before the stop is sent.
  const std::string ready = ::testing::TempDir() + "/lento.ready." + std::to_string(getpid());
  std::remove(ready.c_str());
  sup_.Define("lento", {"/bin/sh", "-c",
                        "trap 'sleep 0.3; exit 0' TERM; : > '" + ready +
                            "'; while :; do sleep 0.05; done"});
  ASSERT_TRUE(CheckService("lento"));
  int pid = sup_.Pid("lento");
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 500 && access(ready.c_str(), F_OK) != 0; ++i) usleep(10000);
  ASSERT_EQ(access(ready.c_str(), F_OK), 0) << "the service never set its trap";
  sup_.SetWaitHint(0);  // a zero hint still pauses between polls
  EXPECT_TRUE(CloseService("lento"));
  EXPECT_EQ(sup_.Pid("lento"), 0);
  EXPECT_NE(kill(pid, 0), 0);
  // The pauses went to the services clock, each the minimum, and the wait
  // ended long before its limit.
  ASSERT_FALSE(fake_.sleeps().empty());
  for (uint32_t ms : fake_.sleeps()) EXPECT_EQ(ms, vkt::kServiceMinPollMs);
  EXPECT_EQ(fake_.slept_ms(), uint64_t{vkt::kServiceMinPollMs} * fake_.sleeps().size());
  EXPECT_LT(fake_.slept_ms(), vkt::kServiceStopLimitMs);
  // Stopped already: true, and no second stop is sent.
  const size_t polls = fake_.sleeps().size();
  EXPECT_TRUE(CloseService("lento"));
  EXPECT_EQ(sup_.stops(), 1);
  EXPECT_EQ(fake_.sleeps().size(), polls);
  // Not installed: true without opening it.
  EXPECT_TRUE(CloseService("assente"));
  EXPECT_TRUE(CloseService(nullptr));
  std::remove(ready.c_str());
}

TEST_F(ServiceTest, AStopThatNeverEndsTimesOutWithAUserException) {
  ASSERT_TRUE(CheckService("ostinato"));
  // Real time for the shell to set its trap before the stop arrives.
  usleep(300000);
  sup_.SetWaitHint(10000);
  sup_.SetKillAfter(600000);
  std::string text = CloseThrows("ostinato");
  EXPECT_EQ(text.rfind("Tempo scaduto nell'arresto del servizio.\n\nFile\t: VKTDialog", 0), 0u)
      << text;
  EXPECT_NE(text.find("Func\t: CloseService"), std::string::npos);
  EXPECT_GE(fake_.slept_ms(), vkt::kServiceStopLimitMs);
  EXPECT_LE(fake_.slept_ms(), vkt::kServiceStopLimitMs + 10000);
}

// Reports "running" again after the stop was accepted.
class GivesUpStopping : public vkt::svc::Supervisor {
 public:
  bool Query(const std::string& name, SERVICE_STATUS_PROCESS* st, DWORD* error) override {
    bool ok = Supervisor::Query(name, st, error);
    if (ok && asked_ && ++polls_ > 1) st->dwCurrentState = SERVICE_RUNNING;
    else if (ok && asked_) st->dwCurrentState = SERVICE_STOP_PENDING;
    return ok;
  }
  bool Stop(const std::string&, DWORD*) override {
    asked_ = true;
    return true;  // accepted, but never carried out
  }
  bool asked_ = false;
  int polls_ = 0;
};

TEST_F(ServiceTest, AServiceBackToRunningEndsTheWait) {
  GivesUpStopping backend;
  backend.Define("mirtosrv", {"/bin/sleep", "30"});
  vkt::svc::SetServiceBackend(&backend);
  ASSERT_TRUE(CheckService("mirtosrv"));
  EXPECT_FALSE(CloseService("mirtosrv"));
  EXPECT_LT(fake_.slept_ms(), 1000u);
  vkt::svc::SetServiceBackend(&sup_);
}

TEST_F(ServiceTest, ManagerFailuresThrowThePartsTexts) {
  sup_.SetReachable(false);
  std::string text = CloseThrows("mirtosrv");
  EXPECT_EQ(text.rfind("Impossibile aprire OpenScManager - SC_MANAGER_ENUMERATE_SERVICE\n\n"
                       "File\t: VKTDialog\n\nLine\t: ", 0), 0u) << text;
  EXPECT_NE(text.find("\n\nFunc\t: IsServiceInstalled"), std::string::npos);
}

TEST_F(ServiceTest, SystemdBackendWithoutABusFailsCleanly) {
  auto systemd = vkt::svc::MakeSystemdBackend();
  vkt::svc::SetServiceBackend(systemd.get());
  // Whether or not this machine runs systemd, nothing here may crash: without
  // a bus the calls fail with a status and CheckService answers false.
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  if (scm == nullptr) {
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_FALSE(CheckService("vkt-no-such-service"));
    EXPECT_NE(CloseThrows("vkt-no-such-service"), "");
  } else {
    EXPECT_FALSE(CheckService("vkt-no-such-service"));
    EXPECT_TRUE(CloseService("vkt-no-such-service"));
    CloseServiceHandle(scm);
  }
  vkt::svc::SetServiceBackend(&sup_);
}

TEST(WinSvcTest, HandlesAreCheckedAndEnumerationReportsItsSize) {
  vkt::svc::Supervisor sup;
  sup.Define("a", {"/bin/true"});
  sup.Define("bb", {"/bin/true"});
  auto* previous = vkt::svc::SetServiceBackend(&sup);
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  ASSERT_NE(scm, nullptr);
  DWORD needed = 0, returned = 0, resume = 0;
  EXPECT_EQ(EnumServicesStatusExA(scm, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                  nullptr, 0, &needed, &returned, &resume, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  std::vector<unsigned char> buf(needed);
  ASSERT_NE(EnumServicesStatusExA(scm, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                  buf.data(), needed, &needed, &returned, &resume, nullptr), 0);
  ASSERT_EQ(returned, 2u);
  auto* e = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSA*>(buf.data());
  EXPECT_STREQ(e[1].lpServiceName, "bb");
  EXPECT_EQ(e[1].ServiceStatusProcess.dwCurrentState, SERVICE_STOPPED);
  // A service handle is not a manager handle; a closed handle is refused.
  SC_HANDLE svc = OpenServiceA(scm, "a", SERVICE_QUERY_STATUS);
  ASSERT_NE(svc, nullptr);
  EXPECT_EQ(OpenServiceA(svc, "a", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(StartServiceA(svc, 0, nullptr), 0);  // no start right
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenServiceA(scm, "A", SERVICE_QUERY_STATUS), nullptr);  // case counts
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_NE(CloseServiceHandle(svc), 0);
  EXPECT_NE(CloseServiceHandle(scm), 0);
  vkt::svc::SetServiceBackend(previous);
}

}  // namespace

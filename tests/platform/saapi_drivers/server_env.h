// The throwaway servers scripts/test starts, as the tests find them.
//
// A test that needs a server calls VKT_REQUIRE_PG(env) / VKT_REQUIRE_MY(env):
// without the server's variables it skips with a message, except in CI
// (CI=true), where a missing server is a failure.
#ifndef VKT_TESTS_SAAPI_DRIVERS_SERVER_ENV_H_
#define VKT_TESTS_SAAPI_DRIVERS_SERVER_ENV_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vkt::testing {

struct ServerEnv {
  std::string host;
  int port = 0;
  std::string user;
  std::string password;
  std::string socket;  // MariaDB only
  bool ok = false;
};

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

inline bool InCi() { return Env("CI") == "true"; }

inline ServerEnv PgEnv() {
  ServerEnv e;
  e.host = Env("VKT_PG_HOST");
  e.port = std::atoi(Env("VKT_PG_PORT").c_str());
  e.user = Env("VKT_PG_USER");
  e.password = Env("VKT_PG_PASSWORD");
  e.ok = !e.host.empty() && e.port != 0 && !e.user.empty();
  return e;
}

inline ServerEnv MyEnv() {
  ServerEnv e;
  e.host = Env("VKT_MY_HOST");
  e.port = std::atoi(Env("VKT_MY_PORT").c_str());
  e.user = Env("VKT_MY_USER");
  e.password = Env("VKT_MY_PASSWORD");
  e.socket = Env("VKT_MY_SOCKET");
  e.ok = !e.host.empty() && e.port != 0 && !e.user.empty();
  return e;
}

}  // namespace vkt::testing

#define VKT_REQUIRE_SERVER_(env, what)                                        \
  do {                                                                        \
    if (!(env).ok) {                                                          \
      if (::vkt::testing::InCi()) {                                           \
        FAIL() << what " server variables missing in CI (run scripts/test)";  \
      }                                                                       \
      GTEST_SKIP() << what " server not running: source scripts/lib/servers.sh " \
                      "and start it (scripts/test does)";                     \
    }                                                                         \
  } while (0)

#define VKT_REQUIRE_PG(env) VKT_REQUIRE_SERVER_(env, "PostgreSQL")
#define VKT_REQUIRE_MY(env) VKT_REQUIRE_SERVER_(env, "MariaDB")

#endif  // VKT_TESTS_SAAPI_DRIVERS_SERVER_ENV_H_

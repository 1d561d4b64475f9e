// The SQL layer against raw libpq doing the same work on the same loopback
// server: SACommand inserts and point selects, a transaction runner with
// one small write per transaction, and QueryAdapt on a typical query.
//
//   VKT_PG_DSN="host=127.0.0.1 port=5432 user=vkt password=... dbname=postgres" sql_bench
//
// Without VKT_PG_DSN only the QueryAdapt benchmark runs.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "frame/vktapp.h"
#include "saapi/saapi.h"
#include "sql/vktpostgresql.h"

namespace {

constexpr int kRows = 10000;

std::string Dsn() {
  const char* d = std::getenv("VKT_PG_DSN");
  return d != nullptr ? d : "";
}

// --- raw libpq ------------------------------------------------------------------

PGconn* RawConnect() {
  PGconn* c = PQconnectdb((Dsn() + " client_encoding=WIN1252").c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::fprintf(stderr, "sql_bench: %s", PQerrorMessage(c));
    std::abort();
  }
  return c;
}

void RawExec(PGconn* c, const char* sql) {
  PGresult* r = PQexec(c, sql);
  ExecStatusType st = PQresultStatus(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    std::fprintf(stderr, "sql_bench: %s: %s", sql, PQerrorMessage(c));
    std::abort();
  }
  PQclear(r);
}

void RawCheck(PGresult* r, PGconn* c) {
  ExecStatusType st = PQresultStatus(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    std::fprintf(stderr, "sql_bench: %s", PQerrorMessage(c));
    std::abort();
  }
}

// The tables: one emptied before each insert run, one of kRows rows to
// read, one row to rewrite.
void Prepare() {
  PGconn* c = RawConnect();
  RawExec(c, "DROP TABLE IF EXISTS bench_ins, bench_sel, bench_upd");
  RawExec(c, "CREATE TABLE bench_ins (k integer PRIMARY KEY, name varchar(40), v double precision)");
  RawExec(c, "CREATE TABLE bench_sel (k integer PRIMARY KEY, name varchar(40), v double precision)");
  RawExec(c, "INSERT INTO bench_sel SELECT g, 'cliente ' || g, g * 1.5 FROM generate_series(0, 9999) g");
  RawExec(c, "CREATE TABLE bench_upd (k integer PRIMARY KEY, v integer)");
  RawExec(c, "INSERT INTO bench_upd VALUES (1, 0)");
  RawExec(c, "VACUUM ANALYZE bench_sel");
  PQfinish(c);
}

void Name(int i, char* buf, size_t n) { std::snprintf(buf, n, "cliente %d", i); }

void BM_RawPq_Insert10k(benchmark::State& state) {
  PGconn* c = RawConnect();
  for (auto _ : state) {
    state.PauseTiming();
    RawExec(c, "TRUNCATE bench_ins");
    state.ResumeTiming();
    RawExec(c, "BEGIN ISOLATION LEVEL READ COMMITTED");
    for (int i = 0; i < kRows; ++i) {
      char k[16], name[48], v[32];
      std::to_chars_result r = std::to_chars(k, k + sizeof k - 1, i);
      *r.ptr = '\0';
      Name(i, name, sizeof name);
      r = std::to_chars(v, v + sizeof v - 1, i * 1.5);
      *r.ptr = '\0';
      const char* values[3] = {k, name, v};
      PGresult* res = PQexecParams(c, "INSERT INTO bench_ins VALUES ($1, $2, $3)", 3, nullptr,
                                   values, nullptr, nullptr, 0);
      RawCheck(res, c);
      PQclear(res);
    }
    RawExec(c, "COMMIT");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  PQfinish(c);
}

void BM_RawPqPrepared_Insert10k(benchmark::State& state) {
  PGconn* c = RawConnect();
  PGresult* p = PQprepare(c, "ins", "INSERT INTO bench_ins VALUES ($1, $2, $3)", 3, nullptr);
  RawCheck(p, c);
  PQclear(p);
  for (auto _ : state) {
    state.PauseTiming();
    RawExec(c, "TRUNCATE bench_ins");
    state.ResumeTiming();
    RawExec(c, "BEGIN ISOLATION LEVEL READ COMMITTED");
    for (int i = 0; i < kRows; ++i) {
      char k[16], name[48], v[32];
      std::to_chars_result r = std::to_chars(k, k + sizeof k - 1, i);
      *r.ptr = '\0';
      Name(i, name, sizeof name);
      r = std::to_chars(v, v + sizeof v - 1, i * 1.5);
      *r.ptr = '\0';
      const char* values[3] = {k, name, v};
      PGresult* res = PQexecPrepared(c, "ins", 3, values, nullptr, nullptr, 0);
      RawCheck(res, c);
      PQclear(res);
    }
    RawExec(c, "COMMIT");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  PQfinish(c);
}

void BM_RawPq_PointSelect10k(benchmark::State& state) {
  PGconn* c = RawConnect();
  std::mt19937 rng(7);
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kRows; ++i) {
      char k[16];
      std::to_chars_result r = std::to_chars(k, k + sizeof k - 1, static_cast<int>(rng() % kRows));
      *r.ptr = '\0';
      const char* values[1] = {k};
      PGresult* res = PQexecParams(c, "SELECT name, v FROM bench_sel WHERE k = $1", 1, nullptr,
                                   values, nullptr, nullptr, 0);
      RawCheck(res, c);
      if (PQntuples(res) != 1) std::abort();
      std::string name(PQgetvalue(res, 0, 0), PQgetlength(res, 0, 0));
      sum += std::strtod(PQgetvalue(res, 0, 1), nullptr) + static_cast<double>(name.size());
      PQclear(res);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
  PQfinish(c);
}

// One small write per transaction, with the runner's isolation level and
// lock waiting.
void BM_RawPq_WritePerTransaction(benchmark::State& state) {
  PGconn* c = RawConnect();
  for (auto _ : state) {
    RawExec(c, "BEGIN ISOLATION LEVEL SERIALIZABLE");
    RawExec(c, "SET lock_timeout TO 2000");
    const char* values[1] = {"1"};
    PGresult* res = PQexecParams(c, "UPDATE bench_upd SET v = v + 1 WHERE k = $1", 1, nullptr,
                                 values, nullptr, nullptr, 0);
    RawCheck(res, c);
    PQclear(res);
    RawExec(c, "COMMIT");
  }
  PQfinish(c);
}

// The same, leaving the session's lock time-out as it found it, as the
// runner does for a host's connection.
void BM_RawPqRestoring_WritePerTransaction(benchmark::State& state) {
  PGconn* c = RawConnect();
  for (auto _ : state) {
    PGresult* show = PQexec(c, "SHOW lock_timeout");
    RawCheck(show, c);
    std::string restore = std::string("SET lock_timeout TO '") + PQgetvalue(show, 0, 0) + "'";
    PQclear(show);
    RawExec(c, "BEGIN ISOLATION LEVEL SERIALIZABLE");
    RawExec(c, "SET lock_timeout TO 2000");
    const char* values[1] = {"1"};
    PGresult* res = PQexecParams(c, "UPDATE bench_upd SET v = v + 1 WHERE k = $1", 1, nullptr,
                                 values, nullptr, nullptr, 0);
    RawCheck(res, c);
    PQclear(res);
    RawExec(c, "COMMIT");
    RawExec(c, restore.c_str());
  }
  PQfinish(c);
}

// --- the layer -----------------------------------------------------------------

void SaConnect(SAConnection* con) {
  con->Connect(SAString(Dsn()), "", "", SA_PostgreSQL_Client);
}

void BM_SaCommand_Insert10k(benchmark::State& state) {
  SAConnection con;
  SaConnect(&con);
  SACommand truncate(&con, "TRUNCATE bench_ins");
  SACommand ins(&con, "INSERT INTO bench_ins VALUES (:1, :2, :3)");
  con.setIsolationLevel(SA_ReadCommitted);
  for (auto _ : state) {
    state.PauseTiming();
    truncate.Execute();
    state.ResumeTiming();
    con.setAutoCommit(SA_AutoCommitOff);
    for (int i = 0; i < kRows; ++i) {
      char name[48];
      Name(i, name, sizeof name);
      ins << static_cast<int32_t>(i) << name << i * 1.5;
      ins.Execute();
    }
    con.Commit();
    con.setAutoCommit(SA_AutoCommitOn);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SaCommand_PointSelect10k(benchmark::State& state) {
  SAConnection con;
  SaConnect(&con);
  SACommand sel(&con, "SELECT name, v FROM bench_sel WHERE k = :1");
  std::mt19937 rng(7);
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kRows; ++i) {
      sel << static_cast<int32_t>(rng() % kRows);
      sel.Execute();
      if (!sel.FetchNext()) std::abort();
      SAString name = sel[1].asString();
      sum += sel[2].asDouble() + static_cast<double>(name.GetLength());
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

class Writer : public CVKTPostgreSQL {
 public:
  Writer() : CVKTPostgreSQL(1) {}
  void WriteFunc(SACommand* cmd, int, void*, void*, bool) override {
    cmd->setCommandText("UPDATE bench_upd SET v = v + 1 WHERE k = :1");
    *cmd << static_cast<int32_t>(1);
    cmd->Execute();
  }
};

void BM_Runner_WritePerTransaction(benchmark::State& state) {
  SAConnection con;
  SaConnect(&con);
  SACommand cmd(&con);
  Writer w;
  for (auto _ : state) w.SqlTransaction(&cmd, 1, nullptr, nullptr, false);
}

// The runner on a connection of its own: connect, name the session, one
// write, disconnect; beside the same through libpq.
VKTAPPPARAM g_par;
int32_t g_company = 12;
int32_t g_year = 2025;

SAString DsnProducer(int32_t, int, bool) { return SAString(Dsn()); }
SAString NoText(int) { return SAString(); }
eSAClient PgClient() { return SA_PostgreSQL_Client; }

void InitParams() {
  std::memset(&g_par, 0, sizeof g_par);
  std::strcpy(g_par.app_name, "MIRTO");
  std::strcpy(g_par.archive, "arc");
  g_par.company = &g_company;
  g_par.year = &g_year;
  g_par.pg_param = {DsnProducer, NoText, NoText, PgClient};
  VKTDlgInitialize(&g_par);
}

void BM_RunnerOwnConnection_Write(benchmark::State& state) {
  InitParams();
  Writer w;
  for (auto _ : state) w.SqlTransaction(1, nullptr, nullptr, false, 0);
}

void BM_RawPqConnect_Write(benchmark::State& state) {
  for (auto _ : state) {
    PGconn* c = RawConnect();
    RawExec(c, "SET application_name = 'MIRTO'");
    RawExec(c, "BEGIN ISOLATION LEVEL SERIALIZABLE");
    RawExec(c, "SET lock_timeout TO 2000");
    const char* values[1] = {"1"};
    PGresult* res = PQexecParams(c, "UPDATE bench_upd SET v = v + 1 WHERE k = $1", 1, nullptr,
                                 values, nullptr, nullptr, 0);
    RawCheck(res, c);
    PQclear(res);
    RawExec(c, "COMMIT");
    PQfinish(c);
  }
}

// --- QueryAdapt ------------------------------------------------------------------

void BM_QueryAdapt_Typical(benchmark::State& state) {
  InitParams();
  CVKTPostgreSQL pg(2);
  const SAString query(
      "\r\n\tSELECT f.numero, f.data, c.ragione, r.codart, a.descri FROM admin.fatture f "
      "JOIN admin.clienti1 c ON c.codice = f.cliente JOIN admin.righefat r ON r.numero = f.numero "
      "JOIN admin.artanag a ON a.codart = r.codart WHERE f.data\t= :1 ORDER BY f.numero");
  for (auto _ : state) {
    SAString out = pg.QueryAdapt(query, 50, 100, 0);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_QueryAdapt_Typical);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (Dsn().empty()) {
    std::fprintf(stderr, "sql_bench: VKT_PG_DSN not set, the PostgreSQL benchmarks are skipped\n");
  } else {
    Prepare();
    for (auto* b : {benchmark::RegisterBenchmark("BM_SaCommand_Insert10k", BM_SaCommand_Insert10k),
                    benchmark::RegisterBenchmark("BM_RawPq_Insert10k", BM_RawPq_Insert10k),
                    benchmark::RegisterBenchmark("BM_RawPqPrepared_Insert10k",
                                                 BM_RawPqPrepared_Insert10k),
                    benchmark::RegisterBenchmark("BM_SaCommand_PointSelect10k",
                                                 BM_SaCommand_PointSelect10k),
                    benchmark::RegisterBenchmark("BM_RawPq_PointSelect10k", BM_RawPq_PointSelect10k)})
      b->Unit(benchmark::kMillisecond)->MinTime(2.0);
    benchmark::RegisterBenchmark("BM_Runner_WritePerTransaction", BM_Runner_WritePerTransaction)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_RawPq_WritePerTransaction", BM_RawPq_WritePerTransaction)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_RawPqRestoring_WritePerTransaction",
                                 BM_RawPqRestoring_WritePerTransaction)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_RunnerOwnConnection_Write", BM_RunnerOwnConnection_Write)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_RawPqConnect_Write", BM_RawPqConnect_Write)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

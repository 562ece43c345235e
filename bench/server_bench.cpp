// What the bill data layer costs on a branch database on a PostgreSQL server, measured
// against the same work done through the server's client library directly: reading the
// purchase-order extraction, extracting the orders into exchange records, and marking them
// transmitted. Uses the server at $ORBA_BENCH_PG (an empty database's URI) or starts a
// throwaway one.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "data/data_trans.h"
#include "data/sql_text.h"
#include "facade/registration.h"
#include "host/shared_connection.h"
#include "hostkit/app_connection.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/pg_db.h"
#include "hostkit/pg_schema.h"
#include "hostkit/sql_dialect_pg.h"
#include "platform/error.h"
#include "platform/recordset.h"
#include "platform/registry.h"
#include "support/pg_server.h"

namespace {

using orba::platform::MakeRef;
using orba::platform::Ref;

constexpr int kOrders = 1000;
constexpr int kMaxLines = 20;

struct ServerBranch {
    ServerBranch() {
        const char* given = std::getenv("ORBA_BENCH_PG");
        uri = given && *given ? given : orba::testing::PgServer::Shared().NewDatabase("bench");
        orba::hostkit::CreateSampleDatabaseOnServer(
            uri, {.branch = 1, .orders = kOrders, .notices = 0, .returns = 0, .lines = kMaxLines, .seed = 11});
        orba::hostkit::PgDatabase db(uri);
        auto ids = db.Query("SELECT string_agg(CAST(FInterID AS varchar), ',' ORDER BY FInterID), "
                            "(SELECT count(*) FROM POOrderEntry) FROM POOrder");
        inter_ids = std::string(ids.Text(0, 0));
        lines = std::stoll(std::string(ids.Text(0, 1)));
        using orba::data::BillKind;
        statement = orba::data::ExtractionHead(BillKind::kPurchaseOrder) + orba::data::ListSelection(inter_ids) +
                    std::string(orba::data::kExtractionOrder);
        orba::hostkit::RegisterHostKit();
        OrbaBillTransmitRegister();
        orba::hostkit::SetLoginProperties(orba::hostkit::MakeLoginProperties(uri));
        orba::host::SetSharedConnection(orba::platform::CreateObject(orba::host::kAppConnectionProgId));
    }
    ~ServerBranch() { orba::host::SetSharedConnection({}); }

    std::string uri;
    std::string inter_ids;
    std::string statement;
    int64_t lines = 0;
};

ServerBranch* g_branch = nullptr;

void Report(benchmark::State& state, int64_t rows) {
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["rows"] = static_cast<double>(rows);
}

// The client library alone: the rendered extraction statement run and every cell read as text.
void BM_RawLibpqRead(benchmark::State& state) {
    const std::string sql = orba::hostkit::TranslateBatchForPostgres(g_branch->statement).front().sqlite;
    PGconn* conn = PQconnectdb(g_branch->uri.c_str());
    int64_t rows = 0;
    for (auto _ : state) {
        PGresult* r = PQexecParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK) {
            state.SkipWithError(PQresultErrorMessage(r));
            PQclear(r);
            break;
        }
        rows = PQntuples(r);
        const int columns = PQnfields(r);
        for (int i = 0; i < rows; ++i) {
            for (int c = 0; c < columns; ++c) benchmark::DoNotOptimize(PQgetvalue(r, i, c));
        }
        PQclear(r);
    }
    PQfinish(conn);
    Report(state, rows);
}

// The host connection on the server: translation, the same read, a record set of typed values.
void BM_ServerAppConnectionExecute(benchmark::State& state) {
    auto connection = MakeRef<orba::hostkit::AppConnection>();
    int64_t rows = 0;
    for (auto _ : state) {
        Ref<orba::platform::RecordSet> set = connection->Execute(g_branch->statement);
        rows = set->RecordCount();
        benchmark::DoNotOptimize(set.Get());
    }
    Report(state, rows);
}

// The bill data layer: every order grouped into an exchange record (package's extraction).
void BM_ServerGetPOOrdVect(benchmark::State& state) {
    auto trans = MakeRef<orba::data::DataTrans>();
    for (auto _ : state) {
        auto bills = trans->GetPOOrdVect(g_branch->inter_ids);
        benchmark::DoNotOptimize(bills.Get());
    }
    state.counters["bills"] = kOrders;
    Report(state, g_branch->lines);
}

// Marking every order transmitted: the library's statement against the same UPDATE sent
// through the client library.
void BM_ServerSetOrdTranStatus(benchmark::State& state) {
    auto trans = MakeRef<orba::data::DataTrans>();
    for (auto _ : state) trans->SetOrdTranStatus(g_branch->inter_ids);
    Report(state, kOrders);
}

void BM_RawLibpqMark(benchmark::State& state) {
    const std::string sql = "UPDATE POOrder SET FTranStatus=1 WHERE FInterID IN (" + g_branch->inter_ids + ")";
    PGconn* conn = PQconnectdb(g_branch->uri.c_str());
    for (auto _ : state) PQclear(PQexec(conn, sql.c_str()));
    PQfinish(conn);
    Report(state, kOrders);
}

BENCHMARK(BM_RawLibpqRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerAppConnectionExecute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerGetPOOrdVect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawLibpqMark)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerSetOrdTranStatus)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        ServerBranch branch;
        g_branch = &branch;
        benchmark::RunSpecifiedBenchmarks();
        g_branch = nullptr;
    } catch (const orba::platform::Error& e) {
        std::fprintf(stderr, "server_bench: %s\n", e.Description().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "server_bench: %s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}

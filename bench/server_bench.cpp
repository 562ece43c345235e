// What the bill data layer and the saving component cost on a branch database on a
// PostgreSQL server, measured against the same work done through the server's client library
// directly: reading the purchase-order extraction, extracting the orders into exchange
// records, saving the packaged orders at a receiving server branch, and marking them
// transmitted. Uses the server at $ORBA_BENCH_PG (an empty database's URI; a second,
// receiving branch goes into $ORBA_BENCH_PG_B) or starts a throwaway one.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <vector>
#include <memory>
#include <string>

#include "data/data_trans.h"
#include "data/bill_records.h"
#include "data/sql_text.h"
#include "facade/bill_trans.h"
#include "facade/registration.h"
#include "host/shared_connection.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "hostkit/app_connection.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/db/postgres/pg_db.h"
#include "hostkit/sample_data.h"
#include "hostkit/schema.h"
#include "hostkit/save_data.h"
#include "hostkit/dialect/sql_dialect_pg.h"
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
        orba::hostkit::CreateSampleDatabase(
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
        // Packaging holds the shared connection only while its object lives.
        PackageForReceiver();
        orba::host::SetSharedConnection(orba::platform::CreateObject(orba::host::kAppConnectionProgId));
    }

    // Every order addressed to branch 2 and packaged for it, as `orbabt package` does; the
    // receiving branch on the same server.
    void PackageForReceiver() {
        {
            orba::hostkit::PgDatabase db(uri);
            db.Exec("UPDATE POOrder SET FRelateBrID=2, FStatus=1, FTranStatus=0");
        }
        const char* given = std::getenv("ORBA_BENCH_PG_B");
        receiver_uri = given && *given ? given : orba::testing::PgServer::Shared().NewDatabase("bench_b");
        orba::hostkit::CreateSampleDatabase(
            receiver_uri, {.branch = 2, .orders = 0, .notices = 0, .returns = 0, .lines = 1, .seed = 11});
        auto requests = MakeRef<orba::host::VariantVector>();
        auto request = MakeRef<orba::host::VariantDictionary>();
        request->Let("BillType", orba::platform::Variant(int16_t{501}));
        requests->Add(orba::platform::Variant(request));
        orba::hostkit::PgDatabase b(receiver_uri);
        auto receiver = MakeRef<orba::host::VariantDictionary>();
        auto name = b.Query("SELECT FNumber, FName FROM t_SonCompany WHERE FItemID=2");
        receiver->Let("Number", orba::platform::Variant(std::string(name.Text(0, 0))));
        receiver->Let("Name", orba::platform::Variant(std::string(name.Text(0, 1))));
        auto list = MakeRef<orba::facade::BillTrans>()->PackageBills(requests, receiver);
        if (!list || list->UpperBound() < 1) throw std::runtime_error("nothing was packaged for the receiving branch");
        auto package = orba::platform::RefCast<orba::host::VariantDictionary>(list->Item(1).AsObject());
        orders = package->Value(orba::data::key::kBillsData);
    }

    ~ServerBranch() { orba::host::SetSharedConnection({}); }

    std::string receiver_uri;
    orba::platform::Variant orders;  // the packaged purchase orders

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

// The receiving branch without the bills saved there.
void ForgetReceived(PGconn* conn) {
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    PQclear(PQexec(conn, "DROP TABLE IF EXISTS t_RcvBillEntry, t_RcvBill"));
}

// The saving component: every packaged order saved at the receiving branch, in one
// transaction with a savepoint per bill, as `orbabt unpackage` saves them.
void BM_ServerSaveData(benchmark::State& state) {
    const std::string props = orba::hostkit::MakeLoginProperties(g_branch->receiver_uri);
    PGconn* conn = PQconnectdb(g_branch->receiver_uri.c_str());
    for (auto _ : state) {
        state.PauseTiming();
        ForgetReceived(conn);
        state.ResumeTiming();
        std::string messages;
        orba::hostkit::SaveData::Save(props, g_branch->orders, orba::hostkit::ReceivedKind::kOrder, messages);
    }
    PQfinish(conn);
    Report(state, g_branch->lines);
}

// The same rows (as the saving component writes them) written by the client library alone:
// the tables made, one prepared insert per table, every row in one transaction.
void BM_RawLibpqInsert(benchmark::State& state) {
    PGconn* conn = PQconnectdb(g_branch->receiver_uri.c_str());
    {
        ForgetReceived(conn);
        std::string messages;
        orba::hostkit::SaveData::Save(orba::hostkit::MakeLoginProperties(g_branch->receiver_uri), g_branch->orders,
                                      orba::hostkit::ReceivedKind::kOrder, messages);
    }
    struct Table {
        const char* name;
        std::vector<std::vector<std::string>> rows;
        std::vector<std::vector<bool>> nulls;
        std::string insert;
    };
    Table tables[] = {{"t_RcvBill", {}, {}, {}}, {"t_RcvBillEntry", {}, {}, {}}};
    for (Table& t : tables) {
        PGresult* r = PQexec(conn, (std::string("SELECT * FROM ") + t.name).c_str());
        const int columns = PQnfields(r);
        std::string names, marks;
        for (int c = 0; c < columns; ++c) {
            names += (c ? "," : "") + std::string(PQfname(r, c));
            marks += (c ? ",$" : "$") + std::to_string(c + 1);
        }
        t.insert = fmt::format("INSERT INTO {} ({}) OVERRIDING SYSTEM VALUE VALUES ({})", t.name, names, marks);
        if (std::string_view(t.name) == "t_RcvBillEntry") t.insert.replace(t.insert.find(" OVERRIDING SYSTEM VALUE"), 24, "");
        for (int i = 0; i < PQntuples(r); ++i) {
            std::vector<std::string> row;
            std::vector<bool> null;
            for (int c = 0; c < columns; ++c) {
                row.emplace_back(PQgetvalue(r, i, c));
                null.push_back(PQgetisnull(r, i, c));
            }
            t.rows.push_back(std::move(row));
            t.nulls.push_back(std::move(null));
        }
        PQclear(r);
    }
    const std::string schema = orba::hostkit::ReceivedSchemaForServer(orba::hostkit::kReceivedSchema);
    for (auto _ : state) {
        state.PauseTiming();
        ForgetReceived(conn);
        state.ResumeTiming();
        PQclear(PQexec(conn, schema.c_str()));
        PQclear(PQexec(conn, "BEGIN"));
        for (Table& t : tables) {
            PGresult* prepared = PQprepare(conn, "raw_insert", t.insert.c_str(), 0, nullptr);
            if (PQresultStatus(prepared) != PGRES_COMMAND_OK) state.SkipWithError(PQresultErrorMessage(prepared));
            PQclear(prepared);
            std::vector<const char*> values;
            for (size_t i = 0; i < t.rows.size(); ++i) {
                values.clear();
                for (size_t c = 0; c < t.rows[i].size(); ++c) values.push_back(t.nulls[i][c] ? nullptr : t.rows[i][c].c_str());
                PGresult* r = PQexecPrepared(conn, "raw_insert", static_cast<int>(values.size()), values.data(),
                                             nullptr, nullptr, 0);
                if (PQresultStatus(r) != PGRES_COMMAND_OK) state.SkipWithError(PQresultErrorMessage(r));
                PQclear(r);
            }
            PQclear(PQexec(conn, "DEALLOCATE raw_insert"));
        }
        PQclear(PQexec(conn, "COMMIT"));
    }
    PQfinish(conn);
    Report(state, g_branch->lines);
}

BENCHMARK(BM_RawLibpqRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerAppConnectionExecute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerGetPOOrdVect)->Unit(benchmark::kMillisecond);
// Saving first: the raw insert writes the rows the saving component left.
BENCHMARK(BM_ServerSaveData)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawLibpqInsert)->Unit(benchmark::kMillisecond)->UseRealTime();
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

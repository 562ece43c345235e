// What extracting purchase orders costs, layer by layer, on a generated branch database of
// 2,000 orders with up to 20 lines each: SQLite reading the rows alone, the host connection
// (translation and record set), and the bill data layer building the exchange records.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "data/data_trans.h"
#include "data/sql_text.h"
#include "facade/registration.h"
#include "host/shared_connection.h"
#include "hostkit/app_connection.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/sample_data.h"
#include "hostkit/db/sqlite/text_rules.h"
#include "hostkit/dialect/sql_dialect.h"
#include "platform/error.h"
#include "platform/recordset.h"
#include "platform/registry.h"

namespace {

using orba::platform::MakeRef;
using orba::platform::Ref;

constexpr int kOrders = 2000;
constexpr int kMaxLines = 20;

// The branch database shared by every benchmark, made once and removed at the end.
struct BenchDatabase {
    BenchDatabase() {
        dir = std::filesystem::temp_directory_path() / ("orba-bench-" + std::to_string(getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        path = (dir / "branch.db").string();
        orba::hostkit::CreateSampleDatabase(
            path, {.branch = 1, .orders = kOrders, .notices = 0, .returns = 0, .lines = kMaxLines, .seed = 7});

        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT group_concat(FInterID), (SELECT COUNT(*) FROM POOrderEntry) FROM "
                           "(SELECT FInterID FROM POOrder ORDER BY FInterID)",
                           -1, &stmt, nullptr);
        if (sqlite3_step(stmt) == SQLITE_ROW) {
            inter_ids = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            lines = sqlite3_column_int64(stmt, 1);
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);

        using orba::data::BillKind;
        statement = orba::data::ExtractionHead(BillKind::kPurchaseOrder) + orba::data::ListSelection(inter_ids) +
                    std::string(orba::data::kExtractionOrder);

        orba::hostkit::RegisterHostKit();
        OrbaBillTransmitRegister();
        orba::hostkit::SetLoginProperties(orba::hostkit::MakeLoginProperties(path));
        orba::host::SetSharedConnection(orba::platform::CreateObject(orba::host::kAppConnectionProgId));
    }
    ~BenchDatabase() {
        orba::host::SetSharedConnection({});
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    std::filesystem::path dir;
    std::string path;
    std::string inter_ids;  // every order, as the list selection takes them
    std::string statement;  // the extraction statement in the host's dialect
    int64_t lines = 0;
};

BenchDatabase* g_db = nullptr;

void Report(benchmark::State& state, int64_t rows) {
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["rows"] = static_cast<double>(rows);
}

// SQLite alone: the translated statement prepared, every row stepped, every column read.
void BM_RawSqliteRead(benchmark::State& state) {
    const auto translated = orba::hostkit::TranslateBatch(g_db->statement);
    const std::string& sql = translated.front().sqlite;
    sqlite3* db = nullptr;
    sqlite3_open_v2(g_db->path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    orba::hostkit::RegisterServerRules(db);  // the text columns compare with it
    int64_t rows = 0;
    for (auto _ : state) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            state.SkipWithError(sqlite3_errmsg(db));
            break;
        }
        const int columns = sqlite3_column_count(stmt);
        rows = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < columns; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                    case SQLITE_INTEGER: benchmark::DoNotOptimize(sqlite3_column_int64(stmt, c)); break;
                    case SQLITE_FLOAT: benchmark::DoNotOptimize(sqlite3_column_double(stmt, c)); break;
                    case SQLITE_NULL: break;
                    default: benchmark::DoNotOptimize(sqlite3_column_text(stmt, c)); break;
                }
            }
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    Report(state, rows);
}

// The host connection: translation, the same read, and a record set of typed values.
void BM_AppConnectionExecute(benchmark::State& state) {
    auto connection = MakeRef<orba::hostkit::AppConnection>();
    int64_t rows = 0;
    for (auto _ : state) {
        Ref<orba::platform::RecordSet> set = connection->Execute(g_db->statement);
        rows = set->RecordCount();
        benchmark::DoNotOptimize(set.Get());
    }
    Report(state, rows);
}

// The bill data layer: the statement through the shared connection, and every order grouped
// into an exchange record with its lines, period and year.
void BM_GetPOOrdVect(benchmark::State& state) {
    auto trans = MakeRef<orba::data::DataTrans>();
    for (auto _ : state) {
        auto bills = trans->GetPOOrdVect(g_db->inter_ids);
        benchmark::DoNotOptimize(bills.Get());
    }
    state.counters["bills"] = kOrders;
    Report(state, g_db->lines);
}

BENCHMARK(BM_RawSqliteRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppConnectionExecute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetPOOrdVect)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        BenchDatabase db;
        g_db = &db;
        benchmark::RunSpecifiedBenchmarks();
        g_db = nullptr;
    } catch (const orba::platform::Error& e) {
        std::fprintf(stderr, "extraction_bench: %s\n", e.Description().c_str());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}

// The command-line host calling an extraction by name on a database prepared here: what it
// prints must be the same bills, in the runtime's JSON form, as the library gives in process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "data/data_fixtures.h"
#include "host/variant_json.h"

namespace orba::data::testing {
namespace {

std::filesystem::path CommandLineHost() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "orbabt";
}

struct HostRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the host with its arguments each in single quotes, as a shell user would type them.
HostRun RunHost(const std::vector<std::string>& args, const std::filesystem::path& err_file) {
    std::string command = "'" + CommandLineHost().string() + "'";
    for (const auto& a : args) command += " '" + a + "'";
    command += " 2>'" + err_file.string() + "'";
    HostRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(err_file);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
}

TEST(CommandLineInvoke, PrintsTheListedOrdersInTheRuntimesJsonForm) {
    if (!std::filesystem::exists(CommandLineHost())) GTEST_SKIP() << "orbabt is not built next to this test";
    DataEnv env;
    for (int id : {12, 13, 15}) {
        AddOrder(env.Db(), {.inter_id = id, .bill_no = "PO-" + std::to_string(id), .exchange_rate = "6.5"});
    }
    AddOrderLine(env.Db(), {.inter_id = 12, .entry_id = 2, .aux_price = "125", .cess = "17", .amount = "1250"});
    AddOrderLine(env.Db(), {.inter_id = 12, .entry_id = 1, .note = "'订单'"});
    AddOrderLine(env.Db(), {.inter_id = 13, .entry_id = 1});
    AddOrderLine(env.Db(), {.inter_id = 15, .entry_id = 1, .amount = "NULL"});

    const HostRun run = RunHost({"invoke", "OrbaBillTransmit.DataTrans", "GetPOOrdVect", "\"12,15\"", "false", "--db",
                             env.DbPath()},
                            env.Branch().Dir() / "stderr.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    const Variant printed = host::FromJson(run.out);
    EXPECT_EQ(InterIds(platform::RefCast<host::VariantVector>(printed.ToObject())), (std::vector<int32_t>{12, 15}));

    auto data = platform::MakeRef<DataTrans>();
    EXPECT_EQ(Json(printed), Json(Variant(data->GetPOOrdVect("12,15"))));
}

TEST(CommandLineInvoke, MalformedListFailsWithTheErrorAndPrintsNoBills) {
    if (!std::filesystem::exists(CommandLineHost())) GTEST_SKIP() << "orbabt is not built next to this test";
    DataEnv env;
    AddOrder(env.Db(), {.inter_id = 12, .bill_no = "PO-12"});
    AddOrderLine(env.Db(), {.inter_id = 12, .entry_id = 1});
    const std::string before = Snapshot(env.Db());
    const HostRun run = RunHost({"invoke", "OrbaBillTransmit.DataTrans", "GetPOOrdVect", "\"1) OR (1=1\"", "false",
                             "--db", env.DbPath()},
                            env.Branch().Dir() / "stderr.txt");
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out.find("PO-12"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("1) OR (1=1"), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(env.Db()), before);
}

}  // namespace
}  // namespace orba::data::testing

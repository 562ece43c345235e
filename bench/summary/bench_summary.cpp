// `make bench`: what an exchange costs against the database work it cannot avoid. Makes the
// branch databases with the host kit (fixed seed), runs the Google Benchmark programs and
// each orbabt step as a whole process beside the same work done raw (bench_raw), the two
// interleaved run by run so that machine noise falls on both, and ends with one table of
// figures, each with its target and whether it is met.
#include <fmt/format.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "data/sql_text.h"
#include "facade/bill_trans.h"
#include "facade/registration.h"
#include "host/shared_connection.h"
#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "hostkit/sample_data.h"
#include "hostkit/db/sqlite/text_rules.h"
#include "hostkit/dialect/sql_dialect.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "support/hostile_peers.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSeed = 7;
constexpr int kMaxLines = 20;
constexpr const char* kReceiverNumber = "01.002";
// The main workload, and the large one ten times its size (about 210,000 lines), where what
// grows with the list (memory above all) shows.
constexpr int kOrders = 2000;
constexpr int kLargeOrders = 20000;

struct Options {
    fs::path bin;
    fs::path work;
    int runs = 5;
    int scale_runs = 5;
    int mark_runs = 30;  // mark costs a few milliseconds beyond its fixed work: more runs
    int large_runs = 2;  // a run of the large workload takes from seconds to minutes
    bool large = true;
    bool keep = false;
};

struct Sample {
    double seconds = 0;      // wall time
    double cpu_seconds = 0;  // user and system time: what the step itself cost, whatever else runs
    long max_rss_kb = 0;
};

[[noreturn]] void Die(const std::string& what) {
    std::cerr << "bench_summary: " << what << "\n";
    std::exit(1);
}

// Runs a program to its end with its output discarded; its wall time and peak memory.
Sample Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) Die("fork failed");
    if (pid == 0) {
        std::FILE* null = std::fopen("/dev/null", "w");
        if (null) dup2(fileno(null), STDOUT_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const auto& a : argv) line += a + " ";
        Die("this step failed: " + line);
    }
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return Sample{std::chrono::duration<double>(end - start).count(), seconds(usage.ru_utime) + seconds(usage.ru_stime),
                  usage.ru_maxrss};
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string what = error ? error : "?";
        sqlite3_free(error);
        Die(what + " in " + sql);
    }
}

std::string Scalar(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    orba::hostkit::RegisterServerRules(db);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
    std::string value;
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0)) {
        value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void Copy(const fs::path& from, const fs::path& to) {
    fs::remove(to);
    fs::copy_file(from, to);
}

// One sending branch's database with every order addressed to the receiving branch and not
// yet sent, the statements the raw runs use, and its line count.
struct Workload {
    std::string name;
    fs::path a;          // the sending branch, never changed by a run
    fs::path read_sql;   // the translated extraction statement of every order
    fs::path update_sql; // the mark statement of every order, translated
    long lines = 0;
    int orders = 0;
};

Workload MakeWorkload(const Options& o, const std::string& name, int orders, int max_lines = kMaxLines) {
    Workload w;
    w.name = name;
    w.orders = orders;
    w.a = o.work / (name + "-a.db");
    fs::remove(w.a);
    orba::hostkit::CreateSampleDatabase(
        w.a.string(), {.branch = 1, .orders = orders, .notices = 0, .returns = 0, .lines = max_lines, .seed = kSeed});
    sqlite3* db = nullptr;
    sqlite3_open(w.a.string().c_str(), &db);
    orba::hostkit::RegisterServerRules(db);
    Exec(db, "UPDATE POOrder SET FRelateBrID=2, FStatus=1, FTranStatus=0");
    sqlite3_close(db);
    std::string ids = Scalar(w.a.string(), "SELECT group_concat(FInterID) FROM (SELECT FInterID FROM POOrder ORDER BY 1)");
    if (ids.empty()) ids = "0";  // a database without orders: statements that find nothing
    w.lines = std::stol(Scalar(w.a.string(), "SELECT count(*) FROM POOrderEntry"));
    using orba::data::BillKind;
    const std::string extraction = orba::data::ExtractionHead(BillKind::kPurchaseOrder) +
                                   orba::data::ListSelection(ids) + std::string(orba::data::kExtractionOrder);
    w.read_sql = o.work / (name + "-read.sql");
    WriteFile(w.read_sql, orba::hostkit::TranslateBatch(extraction).front().sqlite);
    w.update_sql = o.work / (name + "-update.sql");
    WriteFile(w.update_sql, orba::hostkit::TranslateBatch(orba::data::OrdTranStatusStatement(ids)).front().sqlite);
    return w;
}

// The medians of one workload's runs: each orbabt step and its raw counterpart.
struct Phases {
    std::map<std::string, std::vector<double>> seconds;
    std::map<std::string, std::vector<double>> cpu_seconds;
    std::map<std::string, std::vector<double>> rss_kb;
    uintmax_t list_bytes = 0;
    double Time(const std::string& k) const { return Median(seconds.at(k)); }
    void Add(const Phases& other) {
        for (auto [mine, theirs] : {std::pair{&seconds, &other.seconds}, std::pair{&cpu_seconds, &other.cpu_seconds},
                                    std::pair{&rss_kb, &other.rss_kb}}) {
            for (const auto& [k, v] : *theirs) (*mine)[k].insert((*mine)[k].end(), v.begin(), v.end());
        }
        if (other.list_bytes) list_bytes = other.list_bytes;
    }
    double Cpu(const std::string& k) const { return Median(cpu_seconds.at(k)); }
    // The least CPU time of the runs: what else runs on a shared machine only ever adds to it.
    double BestCpu(const std::string& k) const {
        const auto& v = cpu_seconds.at(k);
        return *std::min_element(v.begin(), v.end());
    }
    double Rss(const std::string& k) const { return Median(rss_kb.at(k)); }
};

// Each run: package and the raw read, unpackage and the raw insert, and unless `with_mark` is
// false, mark and the raw update.
Phases RunWorkload(const Options& o, const Workload& w, const fs::path& b_template, int runs, bool with_mark = true) {
    const fs::path orbabt = o.bin / "orbabt";
    const fs::path raw = o.bin / "bench_raw";
    const fs::path requests = o.work / "requests.json";
    const fs::path list = o.work / (w.name + "-list.json");
    const fs::path receipt = o.work / (w.name + "-receipt.json");
    const fs::path b = o.work / (w.name + "-b.db");
    const fs::path b_raw = o.work / (w.name + "-b-raw.db");
    const fs::path a_mark = o.work / (w.name + "-a-mark.db");
    const std::string receiver_name =
        Scalar(w.a.string(), fmt::format("SELECT FName FROM t_SonCompany WHERE FNumber='{}'", kReceiverNumber));
    Phases p;
    auto add = [&](const std::string& k, const Sample& s) {
        p.seconds[k].push_back(s.seconds);
        p.cpu_seconds[k].push_back(s.cpu_seconds);
        p.rss_kb[k].push_back(static_cast<double>(s.max_rss_kb));
    };
    for (int r = 0; r < runs; ++r) {
        std::cerr << fmt::format("\r  {}: run {}/{}", w.name, r + 1, runs) << std::flush;
        add("raw read", Run({raw.string(), "read", w.a.string(), w.read_sql.string()}));
        add("package", Run({orbabt.string(), "package", "--db", w.a.string(), "--requests", requests.string(), "--to",
                            kReceiverNumber, "--to-name", receiver_name, "-o", list.string()}));
        Copy(b_template, b);
        add("unpackage", Run({orbabt.string(), "unpackage", "--db", b.string(), list.string(), "-o", receipt.string()}));
        Copy(b_template, b_raw);
        add("raw insert", Run({raw.string(), "insert", b_raw.string(), b.string()}));
        if (!with_mark) continue;
        Copy(w.a, a_mark);
        add("mark", Run({orbabt.string(), "mark", "--db", a_mark.string(), receipt.string()}));
        Copy(w.a, a_mark);
        add("raw update", Run({raw.string(), "update", a_mark.string(), w.update_sql.string()}));
    }
    std::cerr << "\r\033[K" << std::flush;
    p.list_bytes = fs::file_size(list);
    const long saved =
        w.lines ? std::stol(Scalar(b.string(), "SELECT count(*) FROM t_RcvBillEntry")) : 0;
    if (saved != w.lines) Die(fmt::format("{}: {} lines saved of {}", w.name, saved, w.lines));
    return p;
}

// One more run of mark over the receipt a run of RunWorkload left, and of its raw counterpart.
Phases RunMark(const Options& o, const Workload& w) {
    const fs::path a_mark = o.work / (w.name + "-a-mark.db");
    Phases p;
    auto add = [&](const std::string& k, const Sample& m) {
        p.seconds[k].push_back(m.seconds);
        p.cpu_seconds[k].push_back(m.cpu_seconds);
        p.rss_kb[k].push_back(static_cast<double>(m.max_rss_kb));
    };
    Copy(w.a, a_mark);
    add("mark", Run({(o.bin / "orbabt").string(), "mark", "--db", a_mark.string(),
                     (o.work / (w.name + "-receipt.json")).string()}));
    Copy(w.a, a_mark);
    add("raw update", Run({(o.bin / "bench_raw").string(), "update", a_mark.string(), w.update_sql.string()}));
    return p;
}

// The size of the workload's list written gzip-compressed, as `orbabt package` writes it when
// the output's name ends in .gz. The file is unpackaged once at a fresh B, so a size is only
// reported for a list that holds every line.
uintmax_t CompressedListBytes(const Options& o, const Workload& w, const fs::path& b_template) {
    const fs::path orbabt = o.bin / "orbabt";
    const fs::path list = o.work / (w.name + "-list.json.gz");
    const fs::path b = o.work / (w.name + "-b-gz.db");
    const std::string receiver_name =
        Scalar(w.a.string(), fmt::format("SELECT FName FROM t_SonCompany WHERE FNumber='{}'", kReceiverNumber));
    Run({orbabt.string(), "package", "--db", w.a.string(), "--requests", (o.work / "requests.json").string(), "--to",
         kReceiverNumber, "--to-name", receiver_name, "-o", list.string()});
    unsigned char magic[2] = {0, 0};
    std::ifstream(list, std::ios::binary).read(reinterpret_cast<char*>(magic), 2);
    if (magic[0] != 0x1f || magic[1] != 0x8b) Die(list.string() + " was not written gzip-compressed");
    Copy(b_template, b);
    Run({orbabt.string(), "unpackage", "--db", b.string(), list.string(), "-o", (o.work / "receipt-gz.json").string()});
    const long saved = std::stol(Scalar(b.string(), "SELECT count(*) FROM t_RcvBillEntry"));
    if (saved != w.lines) Die(fmt::format("{}: {} lines saved from the compressed list of {}", w.name, saved, w.lines));
    return fs::file_size(list);
}

// A pull of the workload over HTTPS on loopback: A's service (its own process, started anew
// on a fresh copy of A for each run and not timed) packages and marks, the pull saves at B
// and sends the receipt. Each run's wall time; the certificates are made with openssl. With
// `hostile` above 0, that many connections of each hostile kind (idle before TLS, stalled in
// the handshake, sending a head a byte at a time) are open at A's service during the pull.
std::vector<double> RunNetworkPulls(const Options& o, const Workload& w, const fs::path& b_template, int runs,
                                    int hostile = 0) {
    const fs::path orbabt = o.bin / "orbabt";
    const fs::path dir = o.work / "net";
    fs::create_directories(dir);
    for (const char* name : {"a", "b"}) {
        const std::string command = fmt::format(
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN={0} "
            "-keyout '{1}/{0}.key' -out '{1}/{0}.pem' 2>/dev/null",
            name, dir.string());
        if (std::system(command.c_str()) != 0) Die("openssl could not make a certificate: " + command);
    }
    WriteFile(dir / "peers.json", R"({"peers": [{"branch": "01.002", "certificate": "b.pem"}]})");
    std::vector<double> seconds;
    for (int r = 0; r < runs; ++r) {
        std::cerr << fmt::format("\r  pull over HTTPS{}: run {}/{}",
                                 hostile ? fmt::format(" beside {} hostile connections", 3 * hostile) : "", r + 1,
                                 runs)
                  << std::flush;
        const fs::path a = dir / "a.db", b = dir / "b.db";
        Copy(w.a, a);
        Copy(b_template, b);
        int out[2];
        if (pipe(out) != 0) Die("pipe failed");
        const pid_t service = fork();
        if (service == 0) {
            dup2(out[1], STDOUT_FILENO);
            const std::string d = dir.string();
            execl(orbabt.c_str(), "orbabt", "serve", "--db", a.c_str(), "--listen", "127.0.0.1:0", "--cert",
                  (d + "/a.pem").c_str(), "--key", (d + "/a.key").c_str(), "--peers", (d + "/peers.json").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const size_t colon = line.rfind(':');
        if (colon == std::string::npos) Die("the service did not start: " + line);
        std::optional<orba::testing::HostilePeers> peers;
        if (hostile > 0) {
            peers.emplace(std::stoi(line.substr(colon + 1)), (dir / "b.pem").string(), (dir / "b.key").string());
            peers->Open(hostile, hostile, hostile);
        }
        seconds.push_back(Run({orbabt.string(), "pull", "--db", b.string(), "--from",
                               "https://127.0.0.1:" + line.substr(colon + 1), "--cert", (dir / "b.pem").string(),
                               "--key", (dir / "b.key").string(), "--peer", "01.001=" + (dir / "a.pem").string(), "--types",
                               "501", "--kept", (dir / "kept").string()})
                              .seconds);
        peers.reset();
        kill(service, SIGTERM);
        waitpid(service, nullptr, 0);
    }
    std::cerr << "\n";
    return seconds;
}

// Medians of the Google Benchmark programs, run with their repetitions interleaved: CPU time
// under each benchmark's name, wall time under the name followed by " (wall)". The server
// benchmark starts its own throwaway server.
std::map<std::string, double> RunGoogleBenchmarks(const Options& o) {
    std::map<std::string, double> medians;
    for (const char* program : {"extraction_bench", "dispatch_bench", "server_bench"}) {
        const fs::path out = o.work / (std::string(program) + ".json");
        std::cerr << "  " << program << "\n";
        Run({(o.bin / program).string(), "--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true",
             "--benchmark_out_format=json", "--benchmark_out=" + out.string()});
        std::ifstream in(out);
        const auto doc = nlohmann::json::parse(in);
        for (const auto& b : doc.at("benchmarks")) {
            if (b.value("aggregate_name", "") != "median") continue;
            // Time on the benchmark's own thread: other work on a shared machine does not count.
            double ns = b.at("cpu_time").get<double>();
            double wall_ns = b.at("real_time").get<double>();
            const std::string unit = b.value("time_unit", "ns");
            const double scale = unit == "us" ? 1e3 : unit == "ms" ? 1e6 : 1;
            medians[b.at("run_name").get<std::string>()] = ns * scale;
            medians[b.at("run_name").get<std::string>() + " (wall)"] = wall_ns * scale;
        }
    }
    return medians;
}

// The heap that the packaged list holds, per order line, measured in a process of its own
// (`bench_summary --heap A.db`): the allocator's bytes in use with the list held, less
// those before packaging; a first packaging run warms the connection and caches.
int HeapProbe(const std::string& database) {
    orba::hostkit::RegisterHostKit();
    OrbaBillTransmitRegister();
    orba::hostkit::SetLoginProperties(orba::hostkit::MakeLoginProperties(database));
    orba::host::SetSharedConnection(orba::platform::CreateObject(orba::host::kAppConnectionProgId));
    auto branch = orba::platform::MakeRef<orba::host::VariantDictionary>();
    branch->Let("Number", orba::platform::Variant(kReceiverNumber));
    branch->Let("Name", orba::platform::Variant(Scalar(
                            database, fmt::format("SELECT FName FROM t_SonCompany WHERE FNumber='{}'", kReceiverNumber))));
    auto requests = orba::platform::MakeRef<orba::host::VariantVector>();
    auto request = orba::platform::MakeRef<orba::host::VariantDictionary>();
    request->Let("BillType", orba::platform::Variant(int16_t{501}));
    requests->Add(orba::platform::Variant(request));
    auto trans = orba::platform::MakeRef<orba::facade::BillTrans>();
    (void)trans->PackageBills(requests, branch);
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    auto list = trans->PackageBills(requests, branch);
    malloc_trim(0);
    const size_t after = mallinfo2().uordblks;
    if (!list) return 1;
    std::printf("%zu\n", after - before);
    orba::host::SetSharedConnection({});
    return 0;
}

double HeapHeld(const Options& o, const Workload& w) {
    const fs::path out = o.work / "heap.txt";
    const std::string self = (o.bin / "bench_summary").string();
    const std::string command = fmt::format("'{}' --heap '{}' > '{}'", self, w.a.string(), out.string());
    if (std::system(command.c_str()) != 0) Die("the heap probe failed");
    std::ifstream in(out);
    double bytes = 0;
    in >> bytes;
    return bytes;
}

// A figure of the table; one with an empty target is shown for what it is and not counted.
struct Row {
    std::string figure;
    double value;
    std::string unit;
    std::string target;
    bool met;
};

void PrintTable(const std::vector<Row>& rows) {
    size_t width = 6;
    for (const Row& r : rows) width = std::max(width, r.figure.size());
    std::cout << fmt::format("\n{:<{}} {:>10} {:<6} {:<10} {}\n", "Figure", width, "Value", "Unit", "Target", "Met");
    std::cout << std::string(width + 36, '-') << "\n";
    int met = 0, targets = 0;
    for (const Row& r : rows) {
        const bool has_target = !r.target.empty();
        std::cout << fmt::format("{:<{}} {:>10.2f} {:<6} {:<10} {}\n", r.figure, width, r.value, r.unit,
                                 has_target ? r.target : "-", has_target ? (r.met ? "yes" : "NO") : "-");
        targets += has_target;
        met += has_target && r.met;
    }
    std::cout << fmt::format("\n{} of {} targets met.\n", met, targets);
}

Options Parse(int argc, char** argv) {
    Options o;
    o.bin = fs::absolute(fs::path(argv[0])).parent_path();
    o.work = fs::temp_directory_path() / fmt::format("orba-bench-{}", getpid());
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&] {
            if (i + 1 >= argc) Die(a + " needs a value");
            return std::string(argv[++i]);
        };
        // A count of runs: a whole number and nothing else, so a mistyped one stops the bench
        // with a message instead of an uncaught exception.
        auto count = [&] {
            const std::string text = next();
            int n = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
            if (ec != std::errc() || end != text.data() + text.size()) Die(a + " needs a whole number, not " + text);
            return n;
        };
        if (a == "--work") {
            o.work = fs::absolute(next());
        } else if (a == "--runs") {
            o.runs = count();
        } else if (a == "--scale-runs") {
            o.scale_runs = count();
        } else if (a == "--mark-runs") {
            o.mark_runs = count();
        } else if (a == "--large-runs") {
            o.large_runs = count();
        } else if (a == "--no-large") {
            o.large = false;
        } else if (a == "--keep") {
            o.keep = true;
        } else {
            Die("unknown option " + a +
                " (options: --work DIR, --runs N, --scale-runs N, --mark-runs N, --large-runs N, --no-large, --keep)");
        }
    }
    if (o.runs < 1 || o.scale_runs < 1 || o.large_runs < 1 || o.mark_runs < 0) {
        Die("--runs, --scale-runs and --large-runs take at least 1, --mark-runs at least 0");
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--heap") return HeapProbe(argv[2]);
    const Options o = Parse(argc, argv);
    try {
        fs::create_directories(o.work);
        std::cerr << "Making the branch databases in " << o.work.string() << "\n";
        const Workload main_load = MakeWorkload(o, fmt::format("orders{}", kOrders), kOrders);
        // Made only when it runs: the database alone takes a while to fill.
        const Workload big = o.large ? MakeWorkload(o, fmt::format("orders{}", kLargeOrders), kLargeOrders) : Workload{};
        const Workload small = MakeWorkload(o, "orders380", 380);
        const Workload large = MakeWorkload(o, "orders3800", 3800);
        const Workload empty = MakeWorkload(o, "orders0", 0);
        // The fixed work of a step that has something to do (the saving component's
        // statements, the receiving transaction, the marking connection and its commit),
        // which a run with no bill skips, with as little else as can be: one bill of one line.
        const Workload one = MakeWorkload(o, "orders1", 1, 1);
        const fs::path b_template = o.work / "b.db";
        fs::remove(b_template);
        orba::hostkit::CreateSampleDatabase(b_template.string(), {.branch = 2});
        Run({(o.bin / "orbabt").string(), "request", "--types", "501", "-o", (o.work / "requests.json").string()});

        std::cerr << "Google Benchmark programs\n";
        const auto gb = RunGoogleBenchmarks(o);
        std::cerr << "Whole-process runs\n";
        const Phases m = RunWorkload(o, main_load, b_template, o.runs);
        // The scaling workloads run in turn within each round, so that what else the machine
        // does falls on all of them alike.
        Phases s, l, e, b1;
        for (int r = 0; r < o.scale_runs; ++r) {
            for (auto [w, p] : {std::pair{&small, &s}, std::pair{&large, &l}, std::pair{&empty, &e}, std::pair{&one, &b1}}) {
                p->Add(RunWorkload(o, *w, b_template, 1));
            }
        }
        for (int r = 0; r < o.mark_runs; ++r) {
            for (auto [w, p] : {std::pair{&small, &s}, std::pair{&large, &l}, std::pair{&one, &b1}}) {
                p->Add(RunMark(o, *w));
            }
        }
        // The large workload: package and unpackage only (and their raw counterparts, for
        // comparison), whose wall time, peak memory and growth from the main workload count.
        Phases g;
        if (o.large) {
            std::cerr << "Large workload\n";
            g = RunWorkload(o, big, b_template, o.large_runs, false);
        }
        const uintmax_t gz_bytes = CompressedListBytes(o, main_load, b_template);
        const double heap = HeapHeld(o, main_load);
        const double pulled = Median(RunNetworkPulls(o, main_load, b_template, o.runs));
        const double pulled_beside_hostile = Median(RunNetworkPulls(o, main_load, b_template, o.runs, 200));

        auto gbv = [&](const std::string& k) {
            auto it = gb.find(k);
            if (it == gb.end()) Die("no median for " + k);
            return it->second;
        };
        const double lines = static_cast<double>(main_load.lines);
        std::vector<Row> rows;
        auto at_most = [&](std::string figure, double value, std::string unit, double target) {
            rows.push_back({std::move(figure), value, std::move(unit), fmt::format("<= {}", target), value <= target});
        };
        auto below = [&](std::string figure, double value, std::string unit, double target) {
            rows.push_back({std::move(figure), value, std::move(unit), fmt::format("< {}", target), value < target});
        };
        auto within = [&](std::string figure, double value, double low, double high) {
            rows.push_back({std::move(figure), value, "x", fmt::format("{}-{}", low, high), value >= low && value <= high});
        };
        auto shown = [&](std::string figure, double value, std::string unit) {
            rows.push_back({std::move(figure), value, std::move(unit), "", true});
        };
        std::cout << fmt::format("Workload: {} orders, {} lines (seed {}); scaling {} -> {} lines; medians of {} runs "
                                 "({} for scaling, {} for mark's)\n",
                                 kOrders, main_load.lines, kSeed, small.lines, large.lines, o.runs, o.scale_runs,
                                 o.scale_runs + o.mark_runs);
        for (const char* measure : {"wall", "CPU"}) {
            const bool wall = std::string(measure) == "wall";
            auto t = [&](const Phases& p, const char* k) { return wall ? p.Time(k) : p.Cpu(k); };
            std::cout << fmt::format("Whole process, {} seconds: package {:.3f} raw read {:.3f} | unpackage {:.3f} raw "
                                     "insert {:.3f} | mark {:.3f} raw update {:.3f}\n",
                                     measure, t(m, "package"), t(m, "raw read"), t(m, "unpackage"), t(m, "raw insert"),
                                     t(m, "mark"), t(m, "raw update"));
            at_most(fmt::format("orbabt package / raw read, whole process ({})", measure),
                    t(m, "package") / t(m, "raw read"), "x", 2.0);
            at_most(fmt::format("orbabt unpackage / raw insert in one transaction ({})", measure),
                    t(m, "unpackage") / t(m, "raw insert"), "x", 2.5);
            // Mark reads every acknowledged bill again, as packaging does, to see that it is
            // unchanged since, and then updates them: its raw counterpart is both.
            at_most(fmt::format("orbabt mark / (raw read + raw update) ({})", measure),
                    t(m, "mark") / (t(m, "raw read") + t(m, "raw update")), "x", 4.0);
        }
        const double local = m.Time("package") + m.Time("unpackage") + m.Time("mark");
        std::cout << fmt::format("Pull over HTTPS on loopback, wall seconds: {:.3f}; package, unpackage and mark run "
                                 "here: {:.3f}\n",
                                 pulled, local);
        at_most("orbabt pull over loopback HTTPS / package + unpackage + mark run locally (wall)", pulled / local, "x",
                1.5);
        std::cout << fmt::format("Pull beside 600 hostile connections (200 idle before TLS, 200 stalled in the "
                                 "handshake, 200 sending a head a byte at a time), wall seconds: {:.3f}\n",
                                 pulled_beside_hostile);
        at_most("orbabt pull while 600 hostile connections are open / pull alone (wall)",
                pulled_beside_hostile / pulled, "x", 2.0);
        at_most("GetPOOrdVect in-process / raw read of the same statement (CPU)",
                gbv("BM_GetPOOrdVect") / gbv("BM_RawSqliteRead"), "x", 2.0);
        at_most("peak memory of package, per order line", m.Rss("package") / lines, "KiB", 2.5);
        std::cout << fmt::format("Peak memory, KiB: package {:.0f}, unpackage {:.0f}; a run with no bill: package "
                                 "{:.0f}, unpackage {:.0f} (the process and its libraries)\n",
                                 m.Rss("package"), m.Rss("unpackage"), e.Rss("package"), e.Rss("unpackage"));
        at_most("heap held by the packaged list, per order line", heap / lines, "B", 1500);
        at_most("peak memory of unpackage / list file size",
                m.Rss("unpackage") * 1024 / static_cast<double>(m.list_bytes), "x", 2.5);
        std::cout << fmt::format("List file, bytes: {} as written, {} gzip-compressed (-o list.json.gz)\n",
                                 m.list_bytes, gz_bytes);
        at_most("transport file bytes per order line, as written", static_cast<double>(m.list_bytes) / lines, "B", 800);
        at_most("transport file bytes per order line, gzip-compressed (-o *.json.gz)",
                static_cast<double>(gz_bytes) / lines, "B", 100);
        // Growth with the work: each time less that of a run with one bill of one line
        // (starting the process, opening the database, every statement and transaction a
        // step with something to do runs), so a fixed cost does not hide a growing one. A
        // run with no bill is no baseline for this: it skips part of that fixed work. The
        // least time of the runs is taken: a few milliseconds of growth at the small end are
        // easily lost in a median when the machine is busy.
        auto growth = [&](const char* k, auto time) {
            return (time(l, k) - time(b1, k)) / (time(s, k) - time(b1, k));
        };
        const auto least = [](const Phases& p, const char* k) { return p.BestCpu(k); };
        const auto median = [](const Phases& p, const char* k) { return p.Cpu(k); };
        std::cout << fmt::format("Scaling, least CPU ms (package, unpackage, mark): no bill {:.1f} {:.1f} {:.1f}; one "
                                 "bill {:.1f} {:.1f} {:.1f}; {} lines {:.1f} {:.1f} {:.1f}; {} lines {:.1f} {:.1f} "
                                 "{:.1f}. Linear growth gives {:.2f} (lines) for package and unpackage, {:.2f} "
                                 "(bills) for mark\n",
                                 e.BestCpu("package") * 1e3, e.BestCpu("unpackage") * 1e3, e.BestCpu("mark") * 1e3,
                                 b1.BestCpu("package") * 1e3, b1.BestCpu("unpackage") * 1e3, b1.BestCpu("mark") * 1e3,
                                 small.lines, s.BestCpu("package") * 1e3, s.BestCpu("unpackage") * 1e3,
                                 s.BestCpu("mark") * 1e3, large.lines, l.BestCpu("package") * 1e3,
                                 l.BestCpu("unpackage") * 1e3, l.BestCpu("mark") * 1e3,
                                 static_cast<double>(large.lines - one.lines) / static_cast<double>(small.lines - one.lines),
                                 static_cast<double>(large.orders - one.orders) / (small.orders - one.orders));
        // The same work straight through SQLite grows as much as the database makes it; and
        // the growth from medians, for comparison.
        std::cout << fmt::format("Growth of the raw counterparts (least): read {:.2f}, insert {:.2f}, update {:.2f}; "
                                 "from medians: package {:.2f}, unpackage {:.2f}, mark {:.2f}\n",
                                 growth("raw read", least), growth("raw insert", least), growth("raw update", least),
                                 growth("package", median), growth("unpackage", median), growth("mark", median));
        for (const char* phase : {"package", "unpackage", "mark"}) {
            within(fmt::format("{} least CPU, {} / {} lines, less a 1-line run", phase, large.lines, small.lines),
                   growth(phase, least), 9, 11);
        }
        if (o.large) {
            // Ten times the main workload: the whole-process steps' wall time and peak memory,
            // which must stay bounded however long the list; and how the time grows from the
            // main workload, each less a run with one bill of one line as above.
            std::cout << fmt::format(
                "Large workload: {} orders, {} lines, medians of {} runs. Wall seconds: package {:.3f} raw read {:.3f} "
                "| unpackage {:.3f} raw insert {:.3f}. Peak memory, MiB: package {:.1f}, unpackage {:.1f}. List file "
                "{} bytes\n",
                kLargeOrders, big.lines, o.large_runs, g.Time("package"), g.Time("raw read"), g.Time("unpackage"),
                g.Time("raw insert"), g.Rss("package") / 1024, g.Rss("unpackage") / 1024, g.list_bytes);
            auto big_growth = [&](const char* k, auto time) {
                return (time(g, k) - time(b1, k)) / (time(m, k) - time(b1, k));
            };
            const auto wall = [](const Phases& p, const char* k) { return p.Time(k); };
            std::cout << fmt::format(
                "Growth {} -> {} lines: linear gives {:.2f}; package {:.2f}, unpackage {:.2f} from median wall "
                "time; raw read {:.2f}, raw insert {:.2f} (least CPU)\n",
                main_load.lines, big.lines,
                static_cast<double>(big.lines - one.lines) / static_cast<double>(main_load.lines - one.lines),
                big_growth("package", wall), big_growth("unpackage", wall), big_growth("raw read", least),
                big_growth("raw insert", least));
            for (const char* phase : {"package", "unpackage"}) {
                shown(fmt::format("orbabt {}, {} lines, wall time (median)", phase, big.lines), g.Time(phase), "s");
                below(fmt::format("orbabt {}, {} lines, peak memory of the process", phase, big.lines),
                      g.Rss(phase) / 1024, "MiB", 64);
            }
            for (const char* phase : {"package", "unpackage"}) {
                within(fmt::format("{} least CPU, {} / {} lines, less a 1-line run", phase, big.lines, main_load.lines),
                       big_growth(phase, least), 9, 11);
            }
        }
        at_most("a member call by name, beyond the direct call (CPU)", gbv("BM_CallByName") - gbv("BM_DirectCall"),
                "ns", 150);
        // A branch on the PostgreSQL server: each step in-process against the same work sent
        // through the client library directly, in wall time, since the server does most of it.
        std::cout << fmt::format(
            "Server branch, wall ms: extraction {:.1f} raw read {:.1f} | saving {:.1f} raw insert {:.1f} | mark {:.2f} "
            "raw update {:.2f}\n",
            gbv("BM_ServerGetPOOrdVect (wall)") / 1e6, gbv("BM_RawLibpqRead (wall)") / 1e6,
            gbv("BM_ServerSaveData/real_time (wall)") / 1e6, gbv("BM_RawLibpqInsert/real_time (wall)") / 1e6,
            gbv("BM_ServerSetOrdTranStatus (wall)") / 1e6, gbv("BM_RawLibpqMark (wall)") / 1e6);
        at_most("server: package extraction / raw libpq read (wall)",
                gbv("BM_ServerGetPOOrdVect (wall)") / gbv("BM_RawLibpqRead (wall)"), "x", 2.0);
        at_most("server: unpackage saving / raw libpq insert (wall)",
                gbv("BM_ServerSaveData/real_time (wall)") / gbv("BM_RawLibpqInsert/real_time (wall)"), "x", 3.0);
        at_most("server: mark / raw libpq update (wall)",
                gbv("BM_ServerSetOrdTranStatus (wall)") / gbv("BM_RawLibpqMark (wall)"), "x", 3.0);
        PrintTable(rows);
    } catch (const orba::platform::Error& e) {
        Die(e.Description());
    } catch (const std::exception& e) {
        Die(e.what());
    }
    if (!o.keep) {
        std::error_code ec;
        fs::remove_all(o.work, ec);
    }
    return 0;
}

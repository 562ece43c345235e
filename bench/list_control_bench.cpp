// How long the list control takes to open a list of 20,000 purchase orders: reading the
// rows (query, record set, row texts) and the whole open a user waits for (prepare, load,
// and the table shown with its first screen drawn). Runs on the offscreen platform.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "hostkit/hostkit.h"
#include "hostkit/windows/list_control.h"
#include "hostkit/sample_data.h"
#include "platform/dispatch.h"

namespace {

using orba::platform::Ref;
using orba::platform::Variant;

constexpr int kOrders = 20000;

struct BenchDatabase {
    BenchDatabase() {
        path = (std::filesystem::temp_directory_path() / ("orba-list-bench-" + std::to_string(getpid()) + ".db")).string();
        std::filesystem::remove(path);
        orba::hostkit::SampleOptions options;
        options.orders = kOrders;
        options.notices = 10;
        options.returns = 10;
        options.lines = 3;
        orba::hostkit::CreateSampleDatabase(path, options);
    }
    ~BenchDatabase() { std::filesystem::remove(path); }
    std::string path;
};

BenchDatabase& Database() {
    static BenchDatabase db;
    return db;
}

Ref<orba::hostkit::ListControl> NewControl() {
    auto c = orba::platform::MakeRef<orba::hostkit::ListControl>();
    Ref<orba::platform::Object> o(c);
    orba::platform::LetProperty(o, "BaseInfo", {}, Variant("Data Source=" + Database().path + "|1|bench"));
    orba::platform::LetProperty(o, "TranType", {}, Variant(int32_t{71}));
    orba::platform::LetProperty(o, "ListID", {}, Variant(int32_t{26}));
    orba::platform::LetProperty(o, "MultiSelect", {}, Variant(int32_t{-1}));
    orba::platform::LetProperty(o, "CanSelectMultiRow", {}, Variant(true));
    return c;
}

void BM_LoadRows(benchmark::State& state) {
    for (auto _ : state) {
        auto c = NewControl();
        c->PrepareList();
        c->LoadList();
        benchmark::DoNotOptimize(c->Rows().size());
    }
    state.counters["bills"] = kOrders;
}

void BM_OpenListShown(benchmark::State& state) {
    for (auto _ : state) {
        auto c = NewControl();
        QWidget* w = c->Widget();
        w->resize(900, 600);
        c->PrepareList();
        c->LoadList();
        w->show();
        QPixmap first_screen = w->grab();
        benchmark::DoNotOptimize(first_screen.width());
        w->hide();
    }
}

BENCHMARK(BM_LoadRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenListShown)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    orba::hostkit::RegisterHostKit();
    Database();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

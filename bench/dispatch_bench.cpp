// What a member call by name costs beyond the direct call: the library reads every package,
// bill and line of a list through calls by name, so this cost is paid per value.
#include <benchmark/benchmark.h>

#include "host/variant_dictionary.h"
#include "platform/dispatch.h"

namespace {

using orba::host::VariantDictionary;
using orba::platform::MakeRef;
using orba::platform::Ref;
using orba::platform::Variant;

// A bill-sized record; the key asked for stands in the middle, as most keys do.
Ref<VariantDictionary> Record() {
    auto record = MakeRef<VariantDictionary>();
    for (const char* key : {"BillType", "TranStatus", "BillInterID", "Year", "Period", "Date", "BillID", "Customer",
                            "Dept", "BrIDRsv", "BrID", "Currency", "Doer", "OrderBrID", "Director", "ExchangeRate",
                            "Preparer", "ReqEntry"}) {
        record->Let(key, Variant(int32_t{1}));
    }
    return record;
}

void BM_DirectCall(benchmark::State& state) {
    auto record = Record();
    for (auto _ : state) {
        Variant v = record->ValueOrDefault("BillID", Variant(int32_t{0}));
        benchmark::DoNotOptimize(v);
    }
}

void BM_CallByName(benchmark::State& state) {
    auto record = Record();
    Ref<orba::platform::Object> object = record;
    for (auto _ : state) {
        Variant v = orba::platform::Call(object, "ValueOrDefault", {Variant("BillID"), Variant(int32_t{0})});
        benchmark::DoNotOptimize(v);
    }
}

BENCHMARK(BM_DirectCall);
BENCHMARK(BM_CallByName);

}  // namespace

BENCHMARK_MAIN();

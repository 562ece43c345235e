#include "support/exchange_records.h"

#include <fstream>
#include <sstream>

#include "data/bill_records.h"
#include "hostkit/app_connection.h"

namespace orba::testing {

using host::VariantDictionary;
using host::VariantVector;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;

namespace {
// The trace writes each text, a line break when the text has none at its end, and "GO".
constexpr std::string_view kTraceSeparator = "\nGO\n";
}  // namespace

Ref<VariantDictionary> Record(std::initializer_list<Field> fields) {
    auto record = MakeRef<VariantDictionary>();
    for (const auto& [key, value] : fields) record->Put(std::string(key), value);
    return record;
}

Ref<VariantVector> List(std::initializer_list<Variant> items) {
    auto list = MakeRef<VariantVector>();
    for (const Variant& item : items) list->Add(item);
    return list;
}

Ref<VariantVector> Requests(std::initializer_list<Variant> codes) {
    auto list = MakeRef<VariantVector>();
    for (const Variant& code : codes) list->Add(Variant(Record({{data::key::kBillType, code}})));
    return list;
}

Ref<VariantDictionary> BranchRecord(std::string_view number, std::string_view name) {
    return Record({{data::key::kNumber, Variant(number)}, {data::key::kName, Variant(name)}});
}

Ref<VariantDictionary> Package(Variant code, Variant bills) {
    return Record({{data::key::kBillType, std::move(code)}, {data::key::kBillsData, std::move(bills)}});
}

Ref<VariantVector> BillsOf(const Variant& package) {
    auto record = package.IsObject() ? platform::RefCast<VariantDictionary>(package.AsObject()) : nullptr;
    if (!record) return {};
    const Variant* bills = record->Find(data::key::kBillsData);
    if (!bills || !bills->IsObject()) return {};
    return platform::RefCast<VariantVector>(bills->AsObject());
}

SqlTrace::SqlTrace() : path_(dir_ / "trace.sql") { hostkit::SetSqlTraceFile(path_.string()); }

SqlTrace::~SqlTrace() { hostkit::SetSqlTraceFile(""); }

std::vector<std::string> SqlTrace::Texts() const {
    std::vector<std::string> texts;
    if (!std::filesystem::exists(path_)) return texts;
    const std::string all = ReadFile(path_);
    size_t start = 0;
    for (size_t end = all.find(kTraceSeparator); end != std::string::npos;
         end = all.find(kTraceSeparator, start)) {
        texts.push_back(all.substr(start, end - start));
        start = end + kTraceSeparator.size();
    }
    return texts;
}

std::vector<std::filesystem::path> FilesHolding(const std::filesystem::path& directory, std::string_view content) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
        if (entry.is_regular_file() && ReadFile(entry.path()) == content) found.push_back(entry.path());
    }
    return found;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace orba::testing

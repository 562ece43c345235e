#include "exchange/transport.h"

#include <fmt/format.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <utility>

#include "data/bill_records.h"
#include "exchange/input_file.h"
#include "exchange/output_file.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "hostkit/sha256.h"
#include "platform/dispatch.h"
#include "platform/error.h"
#include "platform/json_codec.h"

namespace orba::exchange {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;

namespace {

constexpr std::string_view kFormatKey = "format";
constexpr std::string_view kVersionKey = "version";
constexpr std::string_view kCreatedKey = "created";
constexpr std::string_view kSenderKey = "sender";
constexpr std::string_view kReceiverKey = "receiver";
constexpr std::string_view kRequestsKey = "requests";
constexpr std::string_view kListKey = "list";
constexpr int kPrettyIndent = 2;
constexpr int kCompact = -1;
constexpr std::string_view kAnswersKey = "answers";
constexpr std::string_view kSha256Key = "sha256";
constexpr std::string_view kPackagesKey = "packages";
constexpr std::string_view kBillsKey = "Bills";
constexpr std::string_view kBillNoKey = "BillNo";
constexpr std::string_view kOutcomeKey = "Outcome";
constexpr std::string_view kReasonKey = "Reason";
constexpr std::string_view kFingerprintKey = "Fingerprint";

Ref<VariantDictionary> Envelope(std::string_view format, const platform::Date& created) {
    auto e = MakeRef<VariantDictionary>();
    e->Let(kFormatKey, Variant(format));
    e->Let(kVersionKey, Variant(kTransportVersion));
    e->Let(kCreatedKey, Variant(created));
    return e;
}

Ref<VariantDictionary> BranchRecord(const Branch& b) {
    auto r = MakeRef<VariantDictionary>();
    r->Let(data::key::kNumber, Variant(b.number));
    r->Let(data::key::kName, Variant(b.name));
    return r;
}

[[noreturn]] void Bad(std::string_view file_name, std::string_view what) {
    throw Error(ErrorCode::kBadInput, fmt::format("'{}' is not a usable transport file: {}", file_name, what));
}

// The envelope of the tree that `read` makes, checked to be of `format`.
template <class Read>
Ref<VariantDictionary> OpenEnvelopeOf(Read&& read, std::string_view file_name, std::string_view format) {
    Variant root;
    try {
        root = read();
    } catch (const Error& e) {
        Bad(file_name, e.Description());
    }
    auto envelope = platform::ObjectAs<VariantDictionary>(root);
    if (!envelope) Bad(file_name, "it does not hold a JSON object");
    const Variant* f = envelope->Find(kFormatKey);
    if (!f || !f->IsString() || f->AsString() != format) {
        Bad(file_name, fmt::format("its \"format\" is not \"{}\"", format));
    }
    const Variant* v = envelope->Find(kVersionKey);
    if (!v || v->Type() != platform::VarType::kLong || v->AsLong() != kTransportVersion) {
        Bad(file_name, fmt::format("its \"version\" is not {}", kTransportVersion));
    }
    return envelope;
}

Ref<VariantDictionary> OpenEnvelope(std::string_view text, std::string_view file_name, std::string_view format) {
    return OpenEnvelopeOf([text] { return host::FromJson(text); }, file_name, format);
}

platform::Date CreatedOf(const VariantDictionary& envelope, std::string_view file_name,
                         std::string_view where = "its") {
    const Variant* c = envelope.Find(kCreatedKey);
    if (!c || c->Type() != platform::VarType::kDate) Bad(file_name, fmt::format("{} \"created\" is not a date", where));
    return c->AsDate();
}

Ref<VariantVector> ListOf(const VariantDictionary& envelope, std::string_view key, std::string_view file_name) {
    const Variant* l = envelope.Find(key);
    Ref<VariantVector> list = l ? platform::ObjectAs<VariantVector>(*l) : Ref<VariantVector>();
    if (!list) Bad(file_name, fmt::format("its \"{}\" is not a list", key));
    for (int32_t i = 1; i <= list->UpperBound(); ++i) {
        const Variant& item = list->Item(i);
        auto record = platform::ObjectAs<VariantDictionary>(item);
        if (!record || !record->Exists(data::key::kBillType) || !record->Value(data::key::kBillType).IsNumeric()) {
            Bad(file_name, fmt::format("item {} of \"{}\" has no numeric \"BillType\"", i, key));
        }
    }
    return list;
}

Branch BranchOf(const VariantDictionary& envelope, std::string_view key, std::string_view file_name,
                std::string_view where = "its") {
    const Variant* b = envelope.Find(key);
    auto record = b ? platform::ObjectAs<VariantDictionary>(*b) : Ref<VariantDictionary>();
    if (!record) Bad(file_name, fmt::format("{} \"{}\" branch is missing", where, key));
    auto text = [&](std::string_view k) {
        const Variant* v = record->Find(k);
        if (!v || !v->IsString()) Bad(file_name, fmt::format("{} \"{}\" branch has no text \"{}\"", where, key, k));
        return std::string(v->AsString());
    };
    return Branch{text(data::key::kNumber), text(data::key::kName)};
}

Ref<VariantDictionary> ReceiptBillRecord(const ReceiptBill& bill) {
    auto r = MakeRef<VariantDictionary>();
    r->Let(data::key::kBillInterID, bill.bill_inter_id ? Variant(*bill.bill_inter_id) : Variant::Null());
    r->Let(kBillNoKey, Variant(bill.bill_no));
    r->Let(kOutcomeKey, Variant(hostkit::OutcomeWord(bill.outcome)));
    if (!bill.Acknowledged() || !bill.reason.empty()) r->Let(kReasonKey, Variant(bill.reason));
    if (bill.Acknowledged() && !bill.fingerprint.empty()) r->Let(kFingerprintKey, Variant(bill.fingerprint));
    return r;
}

ReceiptBill ReceiptBillOf(const Variant& item, std::string_view file_name, std::string_view where) {
    auto record = platform::ObjectAs<VariantDictionary>(item);
    if (!record) Bad(file_name, fmt::format("{} is not a record", where));
    ReceiptBill bill;
    const Variant* id = record->Find(data::key::kBillInterID);
    if (id && id->Type() == platform::VarType::kLong) {
        bill.bill_inter_id = id->AsLong();
    } else if (id && !id->IsNull()) {
        Bad(file_name, fmt::format("{} has a \"BillInterID\" that is not a whole number", where));
    }
    const Variant* no = record->Find(kBillNoKey);
    if (!no || !no->IsString()) Bad(file_name, fmt::format("{} has no text \"{}\"", where, kBillNoKey));
    bill.bill_no = no->AsString();
    const Variant* outcome = record->Find(kOutcomeKey);
    if (!outcome || !outcome->IsString() || !hostkit::OutcomeFromWord(outcome->AsString(), bill.outcome)) {
        Bad(file_name, fmt::format("{} has no \"{}\" of {}", where, kOutcomeKey, hostkit::OutcomeWordsText()));
    }
    if (bill.Acknowledged() && !bill.bill_inter_id) {
        Bad(file_name, fmt::format("{} is acknowledged but has no \"BillInterID\"", where));
    }
    if (const Variant* reason = record->Find(kReasonKey); reason && reason->IsString()) bill.reason = reason->AsString();
    if (const Variant* fingerprint = record->Find(kFingerprintKey)) {
        const bool hex = fingerprint->IsString() && fingerprint->AsString().size() == 64 &&
                         fingerprint->AsString().find_first_not_of("0123456789abcdef") == std::string_view::npos;
        if (!hex) Bad(file_name, fmt::format("{} has a \"{}\" that is not 64 hexadecimal digits", where, kFingerprintKey));
        bill.fingerprint = fingerprint->AsString();
    }
    return bill;
}

}  // namespace

Ref<VariantVector> MakeRequests(const std::vector<int>& bill_types) {
    auto requests = MakeRef<VariantVector>();
    for (int type : bill_types) {
        auto item = MakeRef<VariantDictionary>();
        item->Let(data::key::kBillType, Variant(static_cast<int16_t>(type)));
        requests->Add(Variant(item));
    }
    return requests;
}

std::string WriteRequestFile(const RequestFile& file) {
    auto e = Envelope(kRequestFormat, file.created);
    e->Set(kRequestsKey, file.requests);
    return host::ToJson(Variant(e)) + "\n";
}

Ref<VariantDictionary> ListEnvelope(const ListFile& header, Ref<platform::Object> list) {
    auto e = Envelope(kListFormat, header.created);
    e->Set(kSenderKey, BranchRecord(header.sender));
    e->Set(kReceiverKey, BranchRecord(header.receiver));
    e->Set(kListKey, std::move(list));
    return e;
}

std::string WriteListFile(const ListFile& file, bool pretty) {
    return host::ToJson(Variant(ListEnvelope(file, file.list)), pretty ? kPrettyIndent : kCompact) + "\n";
}

std::string SaveListFile(const std::filesystem::path& path, const ListFile& header, const Ref<platform::Object>& list,
                         bool pretty, OutputForm form) {
    const Variant envelope(ListEnvelope(header, list));
    hostkit::Sha256 digest("the list");
    WriteOutputFile(path, [&](const TextSink& put) {
        const TextSink hashed = [&](std::string_view text) {
            digest.Add(text.data(), text.size());
            put(text);
        };
        platform::WriteJson(envelope, hashed, pretty ? kPrettyIndent : kCompact);
        hashed("\n");
    }, form);
    return digest.Hex();
}

std::string SaveListFile(const std::filesystem::path& path, const ListFile& file, bool pretty, OutputForm form) {
    return SaveListFile(path, file, file.list, pretty, form);
}

Ref<VariantVector> DistinctRequests(const VariantVector& requests) {
    auto distinct = MakeRef<VariantVector>();
    std::set<int32_t> seen;
    for (int32_t i = 1; i <= requests.UpperBound(); ++i) {
        auto record = platform::ObjectAs<VariantDictionary>(requests.Item(i));
        const Variant* type = record ? record->Find(data::key::kBillType) : nullptr;
        if (!type || !type->IsNumeric() || seen.insert(type->ToLong()).second) distinct->Add(requests.Item(i));
    }
    return distinct;
}

RequestFile ReadRequestFile(std::string_view text, std::string_view file_name) {
    auto e = OpenEnvelope(text, file_name, kRequestFormat);
    return RequestFile{CreatedOf(*e, file_name), DistinctRequests(*ListOf(*e, kRequestsKey, file_name))};
}

ListFile ReadListFile(std::string_view text, std::string_view file_name) {
    auto e = OpenEnvelope(text, file_name, kListFormat);
    return ListFile{BranchOf(*e, kSenderKey, file_name), BranchOf(*e, kReceiverKey, file_name),
                    CreatedOf(*e, file_name), ListOf(*e, kListKey, file_name)};
}

namespace {

// A list that keeps none of its items: each goes to `take` as soon as it has been read whole
// (a package's bills, or the packages of a list).
class PassedItems : public platform::ListContainer {
public:
    explicit PassedItems(std::function<void(Variant)> take) : take_(std::move(take)) {}
    int32_t Count() const override { return count_; }
    const Variant& At(int32_t) const override {
        throw Error(ErrorCode::kInvalidProcedureCall, "The items of a list read in pieces are not kept");
    }
    void Append(Variant value) override {
        ++count_;
        take_(std::move(value));
    }
    Variant Invoke(std::string_view name, platform::CallKind, std::span<Variant>) override {
        platform::ThrowMemberNotFound(ClassName(), name);
    }
    std::string_view ClassName() const override { return "PassedItems"; }

private:
    std::function<void(Variant)> take_;
    int32_t count_ = 0;
};

// Where the bills of a list file stand: "/list/<package from 0>/BillsData".
bool IsBillsPath(std::string_view path) {
    constexpr std::string_view kHead = "/list/";
    constexpr std::string_view kTail = "/BillsData";
    if (path.size() <= kHead.size() + kTail.size() || !path.starts_with(kHead) || !path.ends_with(kTail)) return false;
    const std::string_view index = path.substr(kHead.size(), path.size() - kHead.size() - kTail.size());
    return index.find_first_not_of("0123456789") == std::string_view::npos;
}

// Thrown through the reader to stop it when the caller wants no more.
struct StopReading {};

}  // namespace

ListFileReader::ListFileReader(const std::filesystem::path& path, BillObserver on_bill, std::string name)
    : file_(std::make_unique<InputFile>(path, false)), name_(name.empty() ? path.string() : std::move(name)) {
    hostkit::Sha256 digest("the list");
    // The first reading keeps the envelope and the packages, each bill counted and let go.
    platform::ContainerFactory factory = host::HostContainers();
    factory.path_depth = 3;
    factory.make_list_at = [&](std::string_view path) -> Ref<platform::ListContainer> {
        if (!IsBillsPath(path)) return {};
        BillRead();
        // The package's index is the number in the path.
        const size_t package = std::strtoul(std::string(path.substr(6)).c_str(), nullptr, 10);
        return MakeRef<PassedItems>([this, package, on_bill](Variant bill) {
            BillRead();
            if (on_bill) on_bill(package, bill);
        });
    };
    // A failure to read the file is reported as such, not as a fault of its text.
    std::optional<Error> read_failure;
    const platform::JsonSource read = [&](char* buffer, size_t size) -> size_t {
        try {
            const size_t n = Read(buffer, size);
            digest.Add(buffer, n);
            return n;
        } catch (const Error& e) {
            read_failure = e;
            throw;
        }
    };
    Ref<VariantDictionary> e;
    try {
        e = OpenEnvelopeOf([&] { return platform::ReadJson(read, factory); }, name_, kListFormat);
    } catch (const Error&) {
        if (read_failure) throw *read_failure;
        throw;
    }
    sha256_ = digest.Hex();
    header_ = ListFile{BranchOf(*e, kSenderKey, name_), BranchOf(*e, kReceiverKey, name_), CreatedOf(*e, name_),
                       ListOf(*e, kListKey, name_)};
    for (int32_t i = 1; i <= header_.list->UpperBound(); ++i) {
        auto package = platform::ObjectAs<VariantDictionary>(header_.list->Item(i));
        const Variant* bills = package->Find(data::key::kBillsData);
        auto passed = bills ? platform::ObjectAs<PassedItems>(*bills) : Ref<PassedItems>();
        bill_counts_.push_back(passed ? passed->Count() : -1);
    }
}

ListFileReader::~ListFileReader() = default;

size_t ListFileReader::Read(char* buffer, size_t size) {
    const size_t n = file_->Read(buffer, size);
    // One bill is held whole while it is read: its text is held to the input limit.
    since_bill_ += n;
    if (since_bill_ > InputLimitMb() * 1024 * 1024) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' holds more than {} MB of text in one bill, or before its first bill: beyond "
                                "the limit for an input file; raise the limit with --max-input-mb if the file is "
                                "meant to be read",
                                name_, InputLimitMb()));
    }
    return n;
}

void ListFileReader::BillRead() { since_bill_ = 0; }

int32_t ListFileReader::BillCount() const {
    int32_t total = 0;
    for (int32_t n : bill_counts_) total += std::max(n, 0);
    return total;
}

void ListFileReader::ReadPieces(size_t batch, const std::function<bool(size_t, const Ref<VariantDictionary>&)>& take) {
    file_->Rewind();
    since_bill_ = 0;
    size_t package = 0;  // the package being read, from 0
    Ref<VariantVector> bills;
    auto type_of = [&] { return platform::ObjectAs<VariantDictionary>(header_.list->Item(package + 1))->Value(data::key::kBillType); };
    auto hand_over = [&] {
        auto piece = MakeRef<VariantDictionary>();
        piece->Let(data::key::kBillType, type_of());
        piece->Set(data::key::kBillsData, std::exchange(bills, MakeRef<VariantVector>()));
        if (!take(package, piece)) throw StopReading{};
    };
    platform::ContainerFactory factory = host::HostContainers();
    factory.path_depth = 3;
    factory.make_list_at = [&](std::string_view path) -> Ref<platform::ListContainer> {
        if (path == "/list") {
            return MakeRef<PassedItems>([&](Variant item) {
                if (package >= bill_counts_.size()) {
                    throw Error(ErrorCode::kBadInput, fmt::format("'{}' changed while it was read", name_));
                }
                if (bill_counts_[package] >= 0) {
                    // The last bills of a package go with it, and so does a package without one.
                    if (bills->UpperBound() > 0 || bill_counts_[package] == 0) hand_over();
                } else if (!take(package, platform::ObjectAs<VariantDictionary>(item))) {
                    throw StopReading{};
                }
                ++package;
            });
        }
        if (!IsBillsPath(path)) return {};
        BillRead();
        bills = MakeRef<VariantVector>();
        return MakeRef<PassedItems>([&](Variant bill) {
            BillRead();
            bills->Add(std::move(bill));
            if (static_cast<size_t>(bills->UpperBound()) >= batch) hand_over();
        });
    };
    try {
        platform::ReadJson([this](char* buffer, size_t size) { return Read(buffer, size); }, factory);
    } catch (const StopReading&) {
    }
}

namespace {

// The bills of a receipt's package, each made a record only as it is written.
class ReceiptBills : public platform::ListStream {
public:
    explicit ReceiptBills(const std::vector<ReceiptBill>& bills) : bills_(bills) {}
    bool Next(Variant& item) override {
        if (at_ == bills_.size()) return false;
        item = Variant(ReceiptBillRecord(bills_[at_++]));
        return true;
    }

private:
    const std::vector<ReceiptBill>& bills_;
    size_t at_ = 0;
};

// The receipt's tree; it refers to `file`, which must outlive it, and is written once.
Ref<VariantDictionary> ReceiptEnvelope(const ReceiptFile& file) {
    auto e = Envelope(kReceiptFormat, file.created);
    e->Set(kSenderKey, BranchRecord(file.sender));
    e->Set(kReceiverKey, BranchRecord(file.receiver));
    auto answers = MakeRef<VariantDictionary>();
    answers->Set(kSenderKey, BranchRecord(file.list_sender));
    answers->Let(kCreatedKey, Variant(file.list_created));
    answers->Let(kSha256Key, Variant(file.list_sha256));
    e->Set(kAnswersKey, answers);
    auto packages = MakeRef<VariantVector>();
    for (const ReceiptPackage& p : file.packages) {
        auto package = MakeRef<VariantDictionary>();
        package->Let(data::key::kBillType, Variant(p.bill_type));
        package->Set(kBillsKey, MakeRef<ReceiptBills>(p.bills));
        packages->Add(Variant(package));
    }
    e->Set(kPackagesKey, packages);
    return e;
}

}  // namespace

std::string WriteReceiptFile(const ReceiptFile& file) {
    return host::ToJson(Variant(ReceiptEnvelope(file)), kPrettyIndent) + "\n";
}

void SaveReceiptFile(const std::filesystem::path& path, const ReceiptFile& file, OutputForm form) {
    const Variant envelope(ReceiptEnvelope(file));
    WriteOutputFile(path, [&](const TextSink& put) {
        platform::WriteJson(envelope, put, kPrettyIndent);
        put("\n");
    }, form);
}

ReceiptFile ReadReceiptFile(std::string_view text, std::string_view file_name) {
    auto e = OpenEnvelope(text, file_name, kReceiptFormat);
    ReceiptFile file;
    file.sender = BranchOf(*e, kSenderKey, file_name);
    file.receiver = BranchOf(*e, kReceiverKey, file_name);
    file.created = CreatedOf(*e, file_name);
    const Variant* a = e->Find(kAnswersKey);
    auto answers = a ? platform::ObjectAs<VariantDictionary>(*a) : Ref<VariantDictionary>();
    if (!answers) Bad(file_name, "it does not say which list it answers (\"answers\")");
    file.list_sender = BranchOf(*answers, kSenderKey, file_name, "the answered list's");
    file.list_created = CreatedOf(*answers, file_name, "the answered list's");
    const Variant* sha = answers->Find(kSha256Key);
    if (!sha || !sha->IsString()) Bad(file_name, "the answered list's \"sha256\" is not a text");
    file.list_sha256 = sha->AsString();
    Ref<VariantVector> packages = ListOf(*e, kPackagesKey, file_name);
    for (int32_t i = 1; i <= packages->UpperBound(); ++i) {
        auto package = platform::ObjectAs<VariantDictionary>(packages->Item(i));
        ReceiptPackage p;
        const Variant& type = package->Value(data::key::kBillType);
        if (type.Type() != platform::VarType::kLong && type.Type() != platform::VarType::kInteger) {
            Bad(file_name, fmt::format("package {} has a \"BillType\" that is not a whole number", i));
        }
        p.bill_type = type.ToLong();
        const Variant* b = package->Find(kBillsKey);
        Ref<VariantVector> bills = b ? platform::ObjectAs<VariantVector>(*b) : Ref<VariantVector>();
        if (!bills) Bad(file_name, fmt::format("package {} has no list \"{}\"", i, kBillsKey));
        for (int32_t k = 1; k <= bills->UpperBound(); ++k) {
            p.bills.push_back(ReceiptBillOf(bills->Item(k), file_name, fmt::format("bill {} of package {}", k, i)));
        }
        file.packages.push_back(std::move(p));
    }
    return file;
}

std::string FormatOf(std::string_view text) {
    try {
        auto envelope = platform::ObjectAs<VariantDictionary>(host::FromJson(text));
        const Variant* f = envelope ? envelope->Find(kFormatKey) : nullptr;
        return f && f->IsString() ? std::string(f->AsString()) : std::string();
    } catch (const Error&) {
        return {};
    }
}

std::string ReadTextFile(const std::filesystem::path& path) { return ReadInputFile(path); }

void WriteTextFile(const std::filesystem::path& path, std::string_view text, OutputForm form) {
    WriteOutputFile(path, text, form);
}

}  // namespace orba::exchange

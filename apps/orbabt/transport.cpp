#include "apps/orbabt/transport.h"

#include <fmt/format.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "data/bill_records.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "platform/error.h"

namespace orba::apps {

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

Ref<VariantDictionary> OpenEnvelope(std::string_view text, std::string_view file_name, std::string_view format) {
    Variant root;
    try {
        root = host::FromJson(text);
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

platform::Date CreatedOf(const VariantDictionary& envelope, std::string_view file_name) {
    const Variant* c = envelope.Find(kCreatedKey);
    if (!c || c->Type() != platform::VarType::kDate) Bad(file_name, "its \"created\" is not a date");
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

Branch BranchOf(const VariantDictionary& envelope, std::string_view key, std::string_view file_name) {
    const Variant* b = envelope.Find(key);
    auto record = b ? platform::ObjectAs<VariantDictionary>(*b) : Ref<VariantDictionary>();
    if (!record) Bad(file_name, fmt::format("its \"{}\" branch is missing", key));
    auto text = [&](std::string_view k) {
        const Variant* v = record->Find(k);
        if (!v || !v->IsString()) Bad(file_name, fmt::format("its \"{}\" branch has no text \"{}\"", key, k));
        return v->AsString();
    };
    return Branch{text(data::key::kNumber), text(data::key::kName)};
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

Ref<VariantDictionary> ListEnvelope(const ListFile& file) {
    auto e = Envelope(kListFormat, file.created);
    e->Set(kSenderKey, BranchRecord(file.sender));
    e->Set(kReceiverKey, BranchRecord(file.receiver));
    e->Set(kListKey, file.list);
    return e;
}

std::string WriteListFile(const ListFile& file, bool pretty) {
    return host::ToJson(Variant(ListEnvelope(file)), pretty ? kPrettyIndent : kCompact) + "\n";
}

void SaveListFile(const std::filesystem::path& path, const ListFile& file, bool pretty) {
    const Variant envelope(ListEnvelope(file));
    WriteFileThrough(path, [&](std::ostream& out) {
        platform::WriteJson(envelope, out, pretty ? kPrettyIndent : kCompact);
        out << '\n';
    });
}

RequestFile ReadRequestFile(std::string_view text, std::string_view file_name) {
    auto e = OpenEnvelope(text, file_name, kRequestFormat);
    return RequestFile{CreatedOf(*e, file_name), ListOf(*e, kRequestsKey, file_name)};
}

ListFile ReadListFile(std::string_view text, std::string_view file_name) {
    auto e = OpenEnvelope(text, file_name, kListFormat);
    return ListFile{BranchOf(*e, kSenderKey, file_name), BranchOf(*e, kReceiverKey, file_name),
                    CreatedOf(*e, file_name), ListOf(*e, kListKey, file_name)};
}

std::string ReadTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(ErrorCode::kFileNotFound, fmt::format("The file '{}' cannot be read", path.string()));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteTextFile(const std::filesystem::path& path, std::string_view text) {
    WriteFileThrough(path, [&](std::ostream& out) { out << text; });
}

void WriteFileThrough(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write) {
    std::filesystem::path temporary = path;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        try {
            write(out);
        } catch (...) {
            out.close();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw;
        }
        out.close();
        if (!out) {
            throw Error(ErrorCode::kIoError, fmt::format("The file '{}' cannot be written", path.string()));
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        throw Error(ErrorCode::kIoError,
                    fmt::format("The file '{}' cannot be written: {}", path.string(), ec.message()));
    }
}

}  // namespace orba::apps

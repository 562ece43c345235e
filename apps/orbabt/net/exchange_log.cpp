#include "apps/orbabt/net/exchange_log.h"

#include <fmt/format.h>

#include <fstream>
#include <iostream>

#include "facade/transmit_log.h"
#include "host/variant_dictionary.h"
#include "host/variant_json.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps::net {

using platform::MakeRef;
using platform::Variant;

void CountReceipt(const ReceiptFile& receipt, ExchangeRecord& record) {
    for (const ReceiptPackage& p : receipt.packages) {
        TypeCounts& c = record.counts[p.bill_type];
        for (const ReceiptBill& b : p.bills) {
            switch (b.outcome) {
                case hostkit::SaveOutcomeKind::kSaved: ++c.saved; break;
                case hostkit::SaveOutcomeKind::kUpdated: ++c.updated; break;
                case hostkit::SaveOutcomeKind::kAlreadyHeld: ++c.held; break;
                default: ++c.not_saved; break;
            }
        }
    }
}

std::filesystem::path ExchangeFolder() { return facade::LogDirectory().parent_path() / "ExchangeLog"; }

void AppendExchangeLog(const ExchangeRecord& record, std::filesystem::path directory) {
    auto line = MakeRef<host::VariantDictionary>();
    line->Let("time", Variant(platform::Date::Now().ToString()));
    line->Let("branch", Variant(record.branch));
    line->Let("peer", Variant(record.peer));
    line->Let("certificate", Variant("sha256:" + record.certificate));
    line->Let("direction", Variant(record.direction));
    line->Let("list_sha256", Variant(record.list_sha256));
    auto counts = MakeRef<host::VariantDictionary>();
    for (const auto& [bill_type, c] : record.counts) {
        auto per_type = MakeRef<host::VariantDictionary>();
        for (const auto& [key, value] : {std::pair{"sent", c.sent}, std::pair{"saved", c.saved},
                                         std::pair{"updated", c.updated}, std::pair{"held", c.held},
                                         std::pair{"not_saved", c.not_saved}, std::pair{"marked", c.marked}}) {
            per_type->Let(key, Variant(int32_t(value)));
        }
        counts->Set(std::to_string(bill_type), per_type);
    }
    line->Set("counts", counts);
    line->Let("error", Variant(record.error));
    try {
        if (directory.empty()) directory = ExchangeFolder();
        std::filesystem::create_directories(directory);
        const std::filesystem::path log = directory / "exchanges.jsonl";
        std::error_code ec;
        if (std::filesystem::file_size(log, ec) > kExchangeLogBytes && !ec) {
            std::filesystem::rename(log, directory / "exchanges.1.jsonl");
        }
        std::ofstream out(log, std::ios::app);
        out << host::ToJson(Variant(line), -1) << '\n';
        out.flush();
        if (!out) throw std::runtime_error(fmt::format("'{}' cannot be written", log.string()));
    } catch (const std::exception& e) {
        std::cerr << platform::ForTerminal(fmt::format("orbabt: the exchange log was not written: {}\n", e.what()));
    }
}

std::map<std::string, std::string> LastExchanges(const std::string& branch, std::filesystem::path directory) {
    if (directory.empty()) directory = ExchangeFolder();
    std::map<std::string, std::string> last;
    std::ifstream in(directory / "exchanges.jsonl");
    for (std::string text; std::getline(in, text);) {
        try {
            const auto line = platform::ObjectAs<host::VariantDictionary>(host::FromJson(text));
            if (!line || line->ValueOrDefault("branch", Variant("")).ToText() != branch ||
                !line->ValueOrDefault("error", Variant("")).ToText().empty()) {
                continue;
            }
            last[line->Value("peer").ToText()] = line->Value("time").ToText();
        } catch (const platform::Error&) {
            // A line cut short by a crash tells nothing; the others still count.
        }
    }
    return last;
}

}  // namespace orba::apps::net

// request, package, unpackage and mark: the steps of an exchange between two branch
// databases, each through the library's facade, with transport files between them.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <memory>

#include "apps/orbabt/commands.h"
#include "exchange/steps.h"
#include "apps/orbabt/exchange_summary.h"
#include "apps/orbabt/host_setup.h"
#include "data/bill_types.h"
#include "exchange/mark.h"
#include "exchange/output_guard.h"
#include "exchange/transport.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::apps {

using namespace orba::exchange;

using platform::Error;
using platform::ErrorCode;
using platform::Ref;

namespace {

struct RequestOptions {
    std::vector<int> types;
    std::string output;
};

int RunRequest(const RequestOptions& options) {
    for (int type : options.types) {
        if (type < INT16_MIN || type > INT16_MAX) {
            throw Error(ErrorCode::kBadInput, fmt::format("The bill type {} is not a bill type code", type));
        }
    }
    RequireSeparateOutput(options.output, "-o", {});
    WriteTextFile(options.output, WriteRequestFile(RequestFile{platform::Date::Now(), MakeRequests(options.types)}));
    std::cout << fmt::format("Wrote a download request for {} bill type(s) to {}\n", options.types.size(),
                             options.output);
    return 0;
}

struct PackageOptions {
    std::string db;
    std::string requests_file;
    std::string to_number;
    std::string to_name;
    std::string output;
    bool pretty = false;
    bool compress = false;
};

int RunPackage(const PackageOptions& options) {
    const std::string& db = options.db;
    const std::string& requests_file = options.requests_file;
    const std::string& output = options.output;
    RequireSeparateOutput(output, "-o", {{"the account database", db}, {"the download request", requests_file}});
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(db);
    RequestFile request = ReadRequestFile(ReadTextFile(requests_file), requests_file);
    const Branch sender = OwnBranch(*database);
    const Branch receiver{options.to_number, options.to_name};
    if (receiver.number == sender.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The account database '{}' belongs to branch {} ({}) itself; bills are packaged for "
                                "a related branch (--to)",
                                database->ShownLocation(), sender.number, sender.name));
    }
    // The list is written as its bills are extracted: it is never held whole.
    const auto counts =
        PackageToFile(*database, request.requests, ListFile{sender, receiver, platform::Date::Now(), {}}, output,
                      options.pretty, OutputForm{.compress = options.compress});
    std::cout << fmt::format("Packaged at {} ({}) for {} ({}):\n", sender.number, sender.name, receiver.number,
                             receiver.name);
    PrintPackages(counts);
    std::cout << fmt::format("Wrote the transmission list to {}\n", output);
    return 0;
}

std::string DefaultReceiptName(const std::string& list_file) {
    std::filesystem::path path(list_file);
    // A compressed list is answered by a compressed receipt: x.json.gz, x.receipt.json.gz.
    const bool compressed = path.extension() == ".gz";
    if (compressed) path.replace_extension();
    if (path.extension() == ".json") path.replace_extension();
    path += compressed ? ".receipt.json.gz" : ".receipt.json";
    return path.string();
}

// Saves the bills of a list at its receiving branch and writes the receipt that answers it
// (beside the list when `receipt_file` is empty).
struct UnpackageOptions {
    std::string db;
    std::string list_file;
    std::string receipt_file;
    bool compress = false;
};

int RunUnpackage(const UnpackageOptions& options) {
    const std::string& db = options.db;
    const std::string& list_file = options.list_file;
    const std::string& receipt_file = options.receipt_file;
    const std::string receipt_path = receipt_file.empty() ? DefaultReceiptName(list_file) : receipt_file;
    RequireSeparateOutput(receipt_path, receipt_file.empty() ? "The receipt" : "-o",
                          {{"the account database", db}, {"the transmission list", list_file}});
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(db);
    // The file is read and fingerprinted piece by piece, and its bills are saved a batch at a
    // time: neither its text nor its list ever stands whole in memory.
    ListFileReader reader(list_file);
    const ListFile& file = reader.Header();
    const Branch own = OwnBranch(*database);
    // A receipt that could not be written after saving would leave the sender without an
    // answer; what can be found out beforehand is found out before anything is saved.
    const Accepted accepted =
        AcceptList(*database, own, reader, list_file, [&](const ListFile&) { RequireWritableTarget(receipt_path); });
    const UnpackageResult& result = accepted.saved;
    const ReceiptFile& receipt = accepted.receipt;
    std::string receipt_error;
    try {
        SaveReceiptFile(receipt_path, receipt, OutputForm{.compress = options.compress});
    } catch (const Error& e) {
        receipt_error = e.Description();
    }

    std::cout << "RtnMsg:\n" << platform::ForTerminal(result.message) << "\n";
    for (size_t i = 0; i < receipt.packages.size(); ++i) {
        const ReceiptPackage& p = receipt.packages[i];
        if (IsKnownBillType(p.bill_type)) continue;
        std::cout << fmt::format("Package {} is of bill type {}, which this branch does not take ({}): its "
                                 "{} bill(s) were not saved and are not acknowledged.\n",
                                 i + 1, p.bill_type, data::BillTypeCodesText(), p.bills.size());
    }
    if (!result.log_error.empty()) {
        std::cout << "The transmission log could not be written: " << result.log_error << "\n";
    } else if (result.log.empty()) {
        std::cout << "No transmission log was written (no messages).\n";
    } else {
        std::cout << "Transmission log: " << result.log.string() << "\n";
    }
    PrintReceipt(receipt, result.not_reached);
    if (!receipt_error.empty()) {
        std::cerr << platform::ForTerminal(fmt::format(
            "orbabt: the bills above were saved at {}, but the receipt could not be written: {}. Run the same "
            "command again once it can be: the bills are held already, nothing is saved twice, and the receipt is "
            "written then.\n",
            own.number, receipt_error));
        return 1;
    }
    std::cout << fmt::format("Wrote the receipt for {} to {}; take it back to branch {} and run orbabt mark with it.\n",
                             file.sender.number, receipt_path, file.sender.number);
    return result.failed ? 1 : 0;
}

// Marks at the sending branch the bills a receipt acknowledges; a transmission list is
// refused unless `without_receipt`, which marks every bill of it.
struct MarkOptions {
    std::string db;
    std::string file_name;
    bool without_receipt = false;
};

int RunMark(const MarkOptions& options) {
    const std::string& db = options.db;
    const std::string& file_name = options.file_name;
    const std::unique_ptr<hostkit::Database> database = UseBranchDatabase(db);
    const std::string bytes = ReadTextFile(file_name);
    const std::string format = FormatOf(bytes);
    const Branch own = OwnBranch(*database);
    if (format == kListFormat) {
        ListFile file = ReadListFile(bytes, file_name);
        if (!options.without_receipt) {
            throw Error(ErrorCode::kBadInput,
                        fmt::format("'{}' is a transmission list, not a receipt: pass the receipt that orbabt "
                                    "unpackage wrote at branch {}, so that only the bills saved there are marked "
                                    "(or add --without-receipt to mark every bill of the list)",
                                    file_name, file.receiver.number));
        }
        const bool ok = MarkWithoutReceipt(*database, own, file, file_name);
        std::cout << fmt::format("Without a receipt: marking every bill of the list transmitted at {}, whether or not "
                                 "{} saved it.\n",
                                 own.number, file.receiver.number);
        for (const PackageCount& c : CountPackages(*file.list)) {
            std::cout << fmt::format("  {} {:<17} {:>6} of {} bills of its own type marked transmitted\n", c.bill_type,
                                     BillTypeName(c.bill_type), CountMarked(*database, c), c.own_bills);
        }
        return ok ? 0 : 1;
    }
    ReceiptFile receipt = ReadReceiptFile(bytes, file_name);
    const MarkResult result = AcceptReceipt(*database, own, receipt, file_name);
    PrintReceipt(receipt);
    for (const auto& [bill_type, count] : result.marked) {
        std::cout << fmt::format("  {} {:<17} {:>6} acknowledged bills marked transmitted\n", bill_type,
                                 BillTypeName(bill_type), count);
    }
    for (const auto& [bill_type, count] : result.already) {
        if (count == 0) continue;
        std::cout << fmt::format("  {} {:<17} {:>6} acknowledged bills were marked transmitted already (by an "
                                 "earlier receipt), not counted above\n",
                                 bill_type, BillTypeName(bill_type), count);
    }
    if (result.changed > 0) {
        std::cout << fmt::format("{} acknowledged bill(s) changed here after they were packaged and were left "
                                 "untransmitted (named above); the next package sends them again and {} saves them as "
                                 "updated.\n",
                                 result.changed, receipt.sender.number);
    }
    if (result.superseded > 0) {
        std::cout << fmt::format("{} acknowledged bill(s) went to {} again in a later list than the one this receipt "
                                 "answers and were left untransmitted (named above); the receipt of that later list "
                                 "marks them.\n",
                                 result.superseded, receipt.sender.number);
    }
    return result.ok ? 0 : 1;
}

}  // namespace

void AddRequestCommand(CLI::App& app, CommandContext& context) {
    auto request = std::make_shared<RequestOptions>();
    auto* command = app.add_subcommand("request", "Write a download request for bill types");
    command->add_option("--types", request->types, fmt::format("Bill type codes ({})", data::BillTypeCodesText()))
        ->delimiter(',')
        ->required();
    command->add_option("-o,--output", request->output, "Request file to write")->required();
    command->callback([&context, request] { context.Choose([request] { return RunRequest(*request); }); });
}

void AddPackageCommand(CLI::App& app, CommandContext& context) {
    auto package = std::make_shared<PackageOptions>();
    auto* command = app.add_subcommand("package", "Package the requested bills for a related branch");
    command->add_option("--db", package->db, "Account database of the supplying branch")->required();
    command->add_option("--requests", package->requests_file, "Download request file")->required();
    command->add_option("--to", package->to_number, "Number of the receiving branch")->required();
    command->add_option("--to-name", package->to_name, "Name of the receiving branch")->required();
    command->add_option("-o,--output", package->output, "Transmission list file to write")->required();
    command->add_flag("--pretty", package->pretty,
                      "Write the list indented, for people to read (compact by default)");
    command->add_flag("--compress", package->compress, "Write the list gzip-compressed, whatever its name");
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, package] {
        context.Choose([package] { return RunPackage(*package); },
                       {{"the account database", package->db}, {"the download request", package->requests_file}});
    });
}

void AddUnpackageCommand(CLI::App& app, CommandContext& context) {
    auto unpackage = std::make_shared<UnpackageOptions>();
    auto* command = app.add_subcommand("unpackage", "Save the bills of a transmission list and write a receipt");
    command->add_option("--db", unpackage->db, "Account database of the receiving branch")->required();
    command->add_option("list", unpackage->list_file, "Transmission list file")->required();
    command->add_option("-o,--output", unpackage->receipt_file,
                        "Receipt file to write (default: beside the list, LIST.receipt.json, or "
                        "LIST.receipt.json.gz for a LIST.json.gz)");
    command->add_flag("--compress", unpackage->compress, "Write the receipt gzip-compressed, whatever its name");
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, unpackage] {
        context.Choose([unpackage] { return RunUnpackage(*unpackage); },
                       {{"the account database", unpackage->db}, {"the input file", unpackage->list_file}});
    });
}

void AddMarkCommand(CLI::App& app, CommandContext& context) {
    auto mark = std::make_shared<MarkOptions>();
    auto* command = app.add_subcommand("mark", "Mark the bills a receipt acknowledges as transmitted");
    command->add_option("--db", mark->db, "Account database of the supplying branch")->required();
    command->add_option("receipt", mark->file_name, "Receipt file written by unpackage at the receiving branch")
        ->required();
    command->add_flag("--without-receipt", mark->without_receipt,
                      "Take a transmission list instead and mark every bill of it, saved at the receiver or not");
    context.AddTraceOption(*command);
    context.AddInputLimitOption(*command);
    command->callback([&context, mark] {
        context.Choose([mark] { return RunMark(*mark); },
                       {{"the account database", mark->db}, {"the input file", mark->file_name}});
    });
}

}  // namespace orba::apps

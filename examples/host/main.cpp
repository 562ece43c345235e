// An example host: registers the host kit's components and the library's classes, makes two
// sample branch databases, and moves the bills branch A holds for branch B through the
// library's C++ interface: download request -> package at A -> unpackage at B -> mark at A.
// Packaging once more at A then finds nothing new to send.
//
//   orba_example_host [FOLDER]     (default: orba-example; the databases are made once)
#include <orba/data/bill_types.h>
#include <orba/facade/bill_trans.h>
#include <orba/facade/registration.h>
#include <orba/host/variant_dictionary.h>
#include <orba/host/variant_vector.h>
#include <orba/hostkit/hostkit.h>
#include <orba/hostkit/login_string.h>
#include <orba/hostkit/sample_data.h>
#include <orba/platform/error.h>
#include <orba/platform/registry.h>
#include <orba/platform/ui_services.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

namespace fs = std::filesystem;
using orba::host::VariantDictionary;
using orba::host::VariantVector;
using orba::platform::MakeRef;
using orba::platform::ObjectAs;
using orba::platform::Ref;
using orba::platform::Variant;

namespace {

// The library reports a failed step in a message box; this host prints it and counts it.
class CountingUi : public orba::platform::ConsoleUiService {
public:
    orba::platform::MessageResult ShowMessage(std::string_view text, std::string_view title,
                                              orba::platform::MessageIcon icon,
                                              orba::platform::MessageButtons buttons) override {
        ++count;
        return ConsoleUiService::ShowMessage(text, title, icon, buttons);
    }
    int count = 0;
};

// The bills of each package of a transmission list, and all of them. A notice package
// carries the notices of both kinds (they are saved from their own package), so a bill
// counts under the package of its own transaction type ("BillType" of the bill: 71, 83, 82).
int CountBills(const VariantVector& list, bool print) {
    int total = 0;
    for (int32_t i = 1; i <= list.UpperBound(); ++i) {
        auto package = ObjectAs<VariantDictionary>(list.Item(i));
        if (!package) continue;
        const orba::data::BillType* type = orba::data::FindBillType(package->Value("BillType").ToLong());
        if (!type) continue;
        auto bills = ObjectAs<VariantVector>(package->Value("BillsData"));
        int count = 0;
        for (int32_t b = 1; bills && b <= bills->UpperBound(); ++b) {
            auto bill = ObjectAs<VariantDictionary>(bills->Item(b));
            if (bill && bill->Value("BillType").ToLong() == type->tran_type) ++count;
        }
        if (print) std::cout << "  " << type->name << ": " << count << " bills\n";
        total += count;
    }
    return total;
}

// The library works on the account database named in the process's login properties.
void UseDatabase(const fs::path& db) {
    orba::hostkit::SetLoginProperties(orba::hostkit::MakeLoginProperties(fs::absolute(db).string(), "example", 1));
}

Ref<orba::facade::BillTrans> NewBillTrans() {
    return ObjectAs<orba::facade::BillTrans>(Variant(orba::platform::CreateObject(orba::facade::kBillTransProgId)));
}

}  // namespace

int main(int argc, char** argv) {
    try {
        auto ui = std::make_shared<CountingUi>();
        orba::platform::InstallUiService(ui);
        orba::hostkit::RegisterHostKit();
        if (OrbaBillTransmitRegister() != 0) throw std::runtime_error("the library's classes cannot be registered");

        const fs::path dir = argc > 1 ? argv[1] : "orba-example";
        fs::create_directories(dir);
        const fs::path branch_a = dir / "branch-a.db", branch_b = dir / "branch-b.db";
        for (auto [path, branch] : {std::pair{branch_a, 1}, std::pair{branch_b, 2}}) {
            if (fs::exists(path)) continue;
            orba::hostkit::SampleOptions options;
            options.branch = branch;
            orba::hostkit::CreateSampleDatabase(path.string(), options);
            std::cout << "made " << path.string() << " (branch " << branch << ")\n";
        }

        // 1. The download request branch B sends: every bill type.
        auto requests = MakeRef<VariantVector>();
        for (const orba::data::BillType& type : orba::data::kBillTypes) {
            auto request = MakeRef<VariantDictionary>();
            request->Let("BillType", Variant(static_cast<int16_t>(type.code)));
            requests->Add(Variant(request));
        }
        const orba::hostkit::BranchInfo b = orba::hostkit::SampleGroupBranches().at(1);
        auto receiver = MakeRef<VariantDictionary>();
        receiver->Let("Number", Variant(b.number));
        receiver->Let("Name", Variant(b.name));

        // 2. Packaging at A.
        UseDatabase(branch_a);
        Ref<VariantVector> list = NewBillTrans()->PackageBills(requests, receiver);
        if (!list || ui->count > 0) throw std::runtime_error("packaging at branch A failed");
        std::cout << "packaged at A for " << b.number << ":\n";
        const int moved = CountBills(*list, true);

        // 3. Saving at B; the host kit's saving component reports one line per bill.
        UseDatabase(branch_b);
        auto receiving = NewBillTrans();
        auto answer = receiving->UnPackageBills(list);
        if (ui->count > 0) throw std::runtime_error("saving at branch B failed");
        // "RtnMsg": what the saving component reported, one line per bill.
        std::cout << "saved at B:\n";
        std::istringstream messages(answer->Value("RtnMsg").ToText());
        for (std::string line; std::getline(messages, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) std::cout << "  " << line << "\n";
        }
        if (!receiving->LastLogFile().empty()) std::cout << "transmission log: " << receiving->LastLogFile().string() << "\n";
        receiving.Reset();  // its end releases the connection to B

        // 4. Marking at A, then packaging again finds nothing not yet sent. (A host whose
        // transport can lose bills marks only those B acknowledged; orbabt carries a receipt.)
        UseDatabase(branch_a);
        NewBillTrans()->SetTranStatus(list);
        if (ui->count > 0) throw std::runtime_error("marking at branch A failed");
        Ref<VariantVector> again = NewBillTrans()->PackageBills(requests, receiver);
        const int left = again ? CountBills(*again, false) : -1;
        std::cout << "marked at A; moved " << moved << " bills; left to send: " << left << "\n";
        return left == 0 && ui->count == 0 ? 0 : 1;
    } catch (const orba::platform::Error& e) {
        std::cerr << "orba_example_host: " << e.Description() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "orba_example_host: " << e.what() << "\n";
    }
    return 1;
}

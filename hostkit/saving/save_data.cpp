#include "hostkit/save_data.h"

#include <fmt/format.h>

#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "hostkit/database.h"
#include "hostkit/db/shared_database.h"
#include "hostkit/login_string.h"
#include "hostkit/saving/received_writer.h"
#include "hostkit/saving/record_checks.h"
#include "hostkit/saving/statement_cache.h"
#include "hostkit/schema.h"
#include "platform/containers.h"
#include "platform/error.h"
#include "platform/scope_exit.h"
#include "platform/printable_text.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;
using platform::ListContainer;
using platform::Variant;

namespace {

thread_local const SaveSession* t_session = nullptr;

// The innermost session's `member` that is set, or nullptr.
template <class T>
const T* FromSession(T SaveSession::*member) {
    for (const SaveSession* s = t_session; s; s = s->Outer()) {
        if (s->*member) return &(s->*member);
    }
    return nullptr;
}

void ReportProgress(int done, int total) {
    if (auto progress = FromSession(&SaveSession::progress)) (*progress)(done, total);
}

void ReportOutcome(const SaveOutcome& outcome) {
    if (auto listener = FromSession(&SaveSession::outcomes)) (*listener)(outcome);
}

std::string_view OutcomeLine(SaveOutcomeKind kind) {
    switch (kind) {
        case SaveOutcomeKind::kSaved: return "saved";
        case SaveOutcomeKind::kUpdated: return "updated, the received copy replaced";
        case SaveOutcomeKind::kAlreadyHeld: return "already held (identical), not saved again";
        case SaveOutcomeKind::kNotSaved: return "not saved";
        case SaveOutcomeKind::kInOtherPackage: return "not saved from this package";
    }
    return "?";
}

// One saving run in one transaction, each bill inside a savepoint of its own: a bill that
// fails is rolled back alone, and the bills before it are kept. The outcomes and message
// lines of the run are held back until the run is committed, so that nothing is told
// saved that a failed commit has lost; if the commit fails, every bill of the run is
// told not saved, with the reason.
class SavingRun {
public:
    SavingRun(Database& db, std::string& messages) : db_(db), messages_(messages) {
        // On a connection the program shares and holds a transaction open on (its marking,
        // say), the run is a savepoint of that transaction, which the program commits;
        // otherwise a transaction of its own. Either way the bills are checked and written in
        // one transaction.
        if (db_.InTransaction()) {
            within_caller_.emplace(db_, "saving_run");
        } else {
            own_.emplace(db_);
        }
        // One saving run at a time, as a file's write lock gives: two clerks saving the same
        // bill at once would otherwise both find it new, and the second would fail on the key.
        db_.HoldAgainstWriters("t_RcvBill");
    }

    // Runs `body` inside a savepoint; on an Error the bill's own writes are undone.
    template <class Body>
    void InSavepoint(Body&& body) {
        Savepoint savepoint(db_, "bill");
        body();
        savepoint.Release();
    }

    // A bill's outcome and message line, told once the run is committed.
    void Tell(SaveOutcome outcome, std::string line) { told_.push_back({std::move(outcome), std::move(line)}); }

    // Commits the bills saved so far and tells their outcomes. When the commit fails, tells
    // each of them not saved and raises the failure.
    void Finish() {
        std::optional<Error> failure;
        try {
            if (own_) {
                own_->Commit();
            } else {
                within_caller_->Release();
            }
        } catch (const Error& e) {
            failure = Error(e.Code(), "the received bills could not be committed, none of them is saved: " +
                                          e.Description());
        }
        for (auto& [outcome, line] : told_) {
            // A bill held from an earlier run is held still; one written by this run is not.
            const bool written = outcome.kind == SaveOutcomeKind::kSaved || outcome.kind == SaveOutcomeKind::kUpdated;
            if (failure && written) {
                outcome.kind = SaveOutcomeKind::kNotSaved;
                outcome.reason = failure->Description();
                outcome.stopped = true;
                line = fmt::format("{}: not saved: {}", line.substr(0, line.rfind(": ")),
                                   platform::EscapeControls(failure->Description()));
            }
            messages_ += line + "\r\n";
            ReportOutcome(outcome);
        }
        told_.clear();
        if (failure) throw *failure;
    }

private:
    struct Told {
        SaveOutcome outcome;
        std::string line;
    };
    Database& db_;
    std::optional<Transaction> own_;
    std::optional<Savepoint> within_caller_;
    std::string& messages_;
    std::vector<Told> told_;
};

// The start of a bill's message line: "Purchase order PO-1 from branch 01.001". A bill number
// or branch holding CR LF or escape codes must not make lines of its own.
std::string LineOf(ReceivedKind kind, const CheckedBill& bill) {
    return fmt::format("{} {} from branch {}", KindName(kind, bill.tran_type), platform::EscapeControls(bill.bill_no),
                       platform::EscapeControls(bill.send_number));
}

// Why a checked bill is not saved before anything is written: it contradicts its package,
// list or branch (not saved), or it came in the other notice form (in other package). Sets
// the outcome's kind and reason and the message line; false when the bill is to be saved.
bool PassedOver(ReceivedKind kind, const CheckedBill& bill, const std::optional<ReceivedList>& from,
                const std::string& own_number, SaveOutcome& outcome, std::string& line) {
    if (std::string contradiction = Contradiction(kind, bill, from, own_number); !contradiction.empty()) {
        line = fmt::format("{}: not saved: {}", LineOf(kind, bill), platform::EscapeControls(contradiction));
        outcome.kind = SaveOutcomeKind::kNotSaved;
        outcome.reason = std::move(contradiction);
        return true;
    }
    if (InItsOwnForm(kind, bill)) return false;
    const std::string_view form = bill.delivery_form ? "delivery-notice" : "return-notice";
    line = fmt::format("{}: came in the {} form, not saved from it", LineOf(kind, bill), form);
    outcome.kind = SaveOutcomeKind::kInOtherPackage;
    outcome.reason = fmt::format("came in the {} form; it is saved from the package of its own type", form);
    return true;
}

// The message line of a bill the writer took in hand.
std::string SavedLine(ReceivedKind kind, const CheckedBill& bill, const BillResult& result) {
    std::string line = fmt::format("{}: {}", LineOf(kind, bill), OutcomeLine(result.kind));
    if (result.kind == SaveOutcomeKind::kUpdated) {
        line += result.reason.empty() ? fmt::format(" (revision {})", result.revision)
                                      : fmt::format(" (revision {}; {})", result.revision,
                                                    platform::EscapeControls(result.reason));
    }
    if (result.kind == SaveOutcomeKind::kNotSaved) line += ": " + platform::EscapeControls(result.reason);
    return line;
}

// The number of the branch this database belongs to (the branch check found it).
std::string OwnBranchNumber(StatementCache& statements) {
    if (!statements.Run("SELECT FNumber FROM t_SonCompany WHERE FItemID=(SELECT FValue FROM t_Systemprofile "
                        "WHERE FCategory='IC' AND FKey='BrID')",
                        {})) {
        throw Error(ErrorCode::kNotFound, "The account database does not say which branch it is");
    }
    return statements.Last().Text(0);
}

// Saves every bill of `list` in one run; see SaveData::Save.
void SaveList(Database& db, const ListContainer& list, ReceivedKind kind, std::string& messages) {
    const std::optional<ReceivedList>* received = FromSession(&SaveSession::received);
    const std::optional<ReceivedList> from = received ? *received : std::nullopt;
    StatementCache statements(db);
    const std::string own_number = OwnBranchNumber(statements);
    SavingRun run(db, messages);
    const int total = list.Count();
    for (int32_t i = 1; i <= total; ++i) {
        SaveOutcome outcome;
        outcome.bills = &list;
        outcome.index = i;
        CheckedBill bill;
        try {
            bill = CheckBill(list.At(i), kind, (from ? from->first_bill : 1) + i - 1);
        } catch (const Error& e) {
            // The bills before this one stay saved.
            run.Finish();
            SaveOutcome unchecked = OutcomeOfUnchecked(list.At(i));
            unchecked.bills = &list;
            unchecked.index = i;
            unchecked.reason = e.Description();
            ReportOutcome(unchecked);
            throw;
        }
        outcome.bill_inter_id = Variant(bill.inter_id);
        outcome.bill_no = bill.bill_no;
        outcome.tran_type = bill.tran_type.ToLong();
        outcome.fingerprint = bill.fingerprint;
        std::string line;
        if (PassedOver(kind, bill, from, own_number, outcome, line)) {
            run.Tell(std::move(outcome), std::move(line));
            ReportProgress(i, total);
            continue;
        }
        BillResult result;
        try {
            run.InSavepoint([&] { result = SaveReceivedBill(statements, kind, bill, from); });
        } catch (const Error& e) {
            outcome.reason = e.Description();
            outcome.stopped = true;
            run.Tell(std::move(outcome), fmt::format("{}: not saved: {}", LineOf(kind, bill),
                                                     platform::EscapeControls(e.Description())));
            run.Finish();
            throw;
        }
        outcome.kind = result.kind;
        outcome.reason = result.reason;
        outcome.revision = result.revision;
        run.Tell(std::move(outcome), SavedLine(kind, bill, result));
        ReportProgress(i, total);
    }
    run.Finish();
}

}  // namespace

std::string_view OutcomeWord(SaveOutcomeKind kind) {
    switch (kind) {
        case SaveOutcomeKind::kSaved: return "saved";
        case SaveOutcomeKind::kUpdated: return "updated";
        case SaveOutcomeKind::kAlreadyHeld: return "already held";
        case SaveOutcomeKind::kNotSaved: return "not saved";
        case SaveOutcomeKind::kInOtherPackage: return "in other package";
    }
    return "?";
}

std::string OutcomeWordsText() {
    std::string words;
    const size_t last = std::size(kSaveOutcomeKinds) - 1;
    for (size_t i = 0; i <= last; ++i) {
        words += fmt::format("{}\"{}\"", i == 0 ? "" : i == last ? " or " : ", ", OutcomeWord(kSaveOutcomeKinds[i]));
    }
    return words;
}

bool OutcomeFromWord(std::string_view word, SaveOutcomeKind& kind) {
    for (SaveOutcomeKind k : kSaveOutcomeKinds) {
        if (OutcomeWord(k) == word) {
            kind = k;
            return true;
        }
    }
    return false;
}

SaveSession::SaveSession() : outer_(t_session) { t_session = this; }

SaveSession::~SaveSession() { t_session = outer_; }

const SaveSession* SaveSession::Current() { return t_session; }

void SaveData::Save(std::string_view props, const Variant& bills, ReceivedKind kind, std::string& messages) {
    if (bills.IsNothing() || bills.IsEmpty() || bills.IsNull()) return;  // the sender found no bill of this type
    const ListContainer* list = AsList(bills);
    if (!list) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received bills are a {}, not a list of bill records", bills.TypeName()));
    }
    const std::string location = AccountDatabasePath(props);
    // The program's own connection when it shares one for this location; else one of its own.
    std::unique_ptr<Database> owned;
    SharedDatabase* shared = FindSharedDatabase(location, /*for_writing=*/true);
    if (!shared) owned = OpenDatabase(location);
    Database& db = shared ? shared->Db() : *owned;
    // Received bills go only into a branch's account database, never into some other file.
    CheckBranchDatabase(db);
    EnsureReceivedTables(db);
    SaveList(db, *list, kind, messages);
}

const platform::MemberTable<SaveData>& SaveData::Members() {
    static const platform::MemberTable<SaveData> table = [] {
        platform::MemberTable<SaveData> t("SaveData");
        auto saver = [](ReceivedKind kind) {
            return [kind](SaveData&, platform::CallArgs& a) {
                std::string messages = a[2].IsNull() || a[2].IsEmpty() ? std::string() : a.Text(2);
                // The lines are handed back also when saving fails: lines written before a
                // failure stay in the caller's text.
                platform::ScopeExit hand_back([&] { a[2] = Variant(std::move(messages)); });
                Save(a.Text(0), a[1], kind, messages);
                return Variant();
            };
        };
        t.Method("UnPackageOrd", 3, 3, saver(ReceivedKind::kOrder))
            .Method("UnPackageNotice", 3, 3, saver(ReceivedKind::kNotice));
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit

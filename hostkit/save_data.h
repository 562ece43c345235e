// The host's saving component on the receiving branch: writes the bills of a received
// package into the branch's account database (a SQLite file or a database on a PostgreSQL
// server), in one transaction with a savepoint per bill. A bill is one bill per sending
// branch, transaction type and internal number: one it already holds is left alone when the
// copy is the same (by its fingerprint) and replaced when it differs (a correction re-sent,
// a renumbered bill), but never by a copy from an older list. It reports one line per bill,
// and each bill's outcome in a structured form for the host to acknowledge to the sending
// branch.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/date.h"
#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kSaveDataProgId = "Varnick.SaveData";

enum class ReceivedKind { kOrder, kNotice };

// What became of one received bill. Saved, updated and already held are acknowledged to
// the sending branch (it holds the bill now); not saved is not. In other package: a notice
// that came in the package of the other notice type, which is not saved from it, but from
// the package of its own type, and acknowledged there; here it is neither a failure nor an
// acknowledgement.
enum class SaveOutcomeKind { kSaved, kUpdated, kAlreadyHeld, kNotSaved, kInOtherPackage };

// Every outcome, in the order above.
inline constexpr SaveOutcomeKind kSaveOutcomeKinds[] = {SaveOutcomeKind::kSaved, SaveOutcomeKind::kUpdated,
                                                        SaveOutcomeKind::kAlreadyHeld, SaveOutcomeKind::kNotSaved,
                                                        SaveOutcomeKind::kInOtherPackage};

// True for the outcomes that tell the sending branch the receiving branch holds the bill.
constexpr bool IsAcknowledgement(SaveOutcomeKind kind) {
    return kind == SaveOutcomeKind::kSaved || kind == SaveOutcomeKind::kUpdated ||
           kind == SaveOutcomeKind::kAlreadyHeld;
}

// "saved", "updated", "already held", "not saved", "in other package": the words a receipt
// carries.
std::string_view OutcomeWord(SaveOutcomeKind kind);
// The words as a message lists them: "saved", "updated", ... or "in other package".
std::string OutcomeWordsText();
// The outcome a word stands for; false when it is none of them.
bool OutcomeFromWord(std::string_view word, SaveOutcomeKind& kind);

struct SaveOutcome {
    // The bill list the bill came in, so a host that handed over several packages knows
    // which one it answers (identity only: never read through this pointer).
    const platform::Object* bills = nullptr;
    int32_t index = 0;                // 1-based position in that list
    platform::Variant bill_inter_id;  // "BillInterID" as received (Empty when absent)
    std::string bill_no;
    int32_t tran_type = 0;            // the bill's own "BillType" (71, 83, 82), 0 when unknown
    SaveOutcomeKind kind = SaveOutcomeKind::kNotSaved;
    std::string reason;               // why it was not saved here, or what an update changed
    int32_t revision = 0;             // the received copy's revision after saving (1 = first)
    // The bill's fingerprint (bill_fingerprint.h) as received; empty when the record could
    // not be read as a bill.
    std::string fingerprint;
    // Not saved for nothing of its own: the database failed while it was saved, or when the
    // bills saved with it were committed. Such a failure ends the saving; the same bill is
    // saved when it comes again.
    bool stopped = false;
};


// What the host knows of the list whose bills it hands over: the branch that sent it and
// when that branch made it. With it, a record that names another sending branch is not
// saved, and a held bill is never replaced by its copy from an older list. Empty (the
// default) when the host does not know: records are then checked against this branch
// alone, and a re-sent copy replaces the held one whatever its age.
struct ReceivedList {
    std::string sender_number;
    platform::Date created;
    // The place in its package of the first bill handed over next: a long package may come
    // in parts, and a message names a bill by its place in the whole package.
    int32_t first_bill = 1;
};

// What a host tells the saving component of the bills it hands over, and hears back from it,
// on the calling thread while the session lives. The component is created by its identifier
// inside unpackaging, so this is the one side channel between the two: one unpacking's session
// is never seen by another thread's, and nothing of it stays set once it ends. Sessions nest:
// each of the three comes from the innermost session that gives it.
class SaveSession {
public:
    SaveSession();
    ~SaveSession();
    SaveSession(const SaveSession&) = delete;
    SaveSession& operator=(const SaveSession&) = delete;

    // Hears the outcome of every bill that the saving component took in hand, in the order it
    // took them, also those it was handed before a failure.
    std::function<void(const SaveOutcome&)> outcomes;
    // Called after each bill with (bills done, bills in the package): progress on a long
    // unpacking.
    std::function<void(int done, int total)> progress;
    // The list the bills handed over next come from.
    std::optional<ReceivedList> received;

    // The innermost session of the calling thread, or nullptr; the session it is nested in.
    static const SaveSession* Current();
    const SaveSession* Outer() const { return outer_; }

private:
    const SaveSession* outer_;
};

class SaveData : public platform::Dispatchable<SaveData> {
public:
    static const platform::MemberTable<SaveData>& Members();

    // Saves the bills of `bills` (a list of bill records, or Nothing) and appends a line per
    // bill to `messages`. A malformed record raises an Error naming the bill, the key and
    // what was expected; nothing of that record is saved, bills before it stay saved.
    static void Save(std::string_view props, const platform::Variant& bills, ReceivedKind kind,
                     std::string& messages);
};


}  // namespace orba::hostkit

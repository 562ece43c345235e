#include "hostkit/saving/received_writer.h"

#include <fmt/format.h>

#include <string>
#include <utility>

#include "platform/date.h"

namespace orba::hostkit {

using platform::Variant;

namespace {


// The lines of a received bill as the entry table keeps them, numbered from 1.
void InsertLines(StatementCache& statements, const CheckedBill& bill, const Variant& rcv_id) {
    int32_t index = 0;
    for (const CheckedLine& line : bill.lines) {
        const Variant position{++index};
        statements.Insert("t_RcvBillEntry", line.columns, {{"FRcvID", &rcv_id}, {"FIndex", &position}});
    }
}

// True when the held copy `rcv_id` has the header and lines of `bill`, its transmission
// flag aside: how a copy held from before fingerprints were kept is compared.
bool HoldsSameCopy(StatementCache& statements, const CheckedBill& bill, const Variant& rcv_id) {
    std::vector<Column> header;
    header.reserve(bill.columns.size());
    for (const Column& c : bill.columns) {
        if (c.name != "FTranStatus") header.push_back(c);
    }
    if (!statements.Holds("t_RcvBill", {{"FRcvID", &rcv_id}}, header)) return false;
    statements.Run("SELECT count(*) FROM t_RcvBillEntry WHERE FRcvID=?", {&rcv_id});
    if (statements.Last().Int(0) != static_cast<int64_t>(bill.lines.size())) return false;
    int32_t index = 0;
    for (const CheckedLine& line : bill.lines) {
        const Variant position{++index};
        if (!statements.Holds("t_RcvBillEntry", {{"FRcvID", &rcv_id}, {"FIndex", &position}}, line.columns)) {
            return false;
        }
    }
    return true;
}

// The held copy of a bill: the row of the same sending branch, transaction type and internal
// number (or, for a row kept before internal numbers were, the same bill number), and
// whether it came in a list made after the one being saved.
// The two ways of finding it are asked apart, so that each is answered from an index: asked
// with OR, every held bill of the branch and type was read for each bill saved, and saving
// took time that grew with the square of the bills held.
constexpr const char* kHeldCopyQuery =
    "SELECT FRcvID, FBillNo, FRevision, FFingerprint, CASE WHEN FListCreated > ? THEN 1 ELSE 0 END "
    "FROM t_RcvBill WHERE FRcvID=(SELECT max(FRcvID) FROM ("
    "SELECT FRcvID FROM t_RcvBill WHERE FKind=? AND FSendBrNumber=? AND FTranType=? AND FBillInterID=? "
    "UNION ALL SELECT FRcvID FROM t_RcvBill WHERE FKind=? AND FSendBrNumber=? AND FTranType=? "
    "AND FBillInterID IS NULL AND FBillNo=?) AS held)";

// What the held copy of a bill says of it.
struct HeldCopy {
    Variant rcv_id;
    std::string bill_no;
    int32_t revision = 0;
    std::string fingerprint;  // empty for a copy held before fingerprints were kept
    bool from_newer_list = false;
};

// One bill's write: its values as the statements take them, and each step of the decision.
class BillWrite {
public:
    BillWrite(StatementCache& statements, ReceivedKind kind, const CheckedBill& bill,
              const std::optional<ReceivedList>& list)
        : statements_(statements),
          bill_(bill),
          list_(list),
          kind_code_(KindCode(kind)),
          send_number_(bill.send_number),
          send_name_(bill.send_name),
          tran_type_(bill.tran_type.ToLong()),
          bill_no_(bill.bill_no),
          inter_id_(bill.inter_id),
          fingerprint_(bill.fingerprint),
          list_created_(list ? Variant(list->created) : Variant::Null()),
          now_(platform::Date::Now()) {}

    BillResult Write() {
        std::optional<HeldCopy> held = FindHeld();
        if (!held) return Insert();
        const bool same = held->fingerprint.empty() ? HoldsSameCopy(statements_, bill_, held->rcv_id)
                                                    : held->fingerprint == bill_.fingerprint;
        if (same) return KeepHeld(*held);
        if (held->from_newer_list) {
            return NotSaved(fmt::format("a newer copy of this bill, from a list made after this one ({}), is held "
                                        "already; the older copy does not replace it",
                                        list_->created.ToString()));
        }
        return Replace(*held);
    }

private:
    std::optional<HeldCopy> FindHeld() {
        if (!statements_.Run(kHeldCopyQuery,
                             {&list_created_, &kind_code_, &send_number_, &tran_type_, &inter_id_, &kind_code_,
                              &send_number_, &tran_type_, &bill_no_})) {
            return std::nullopt;
        }
        const Statement& found = statements_.Last();
        return HeldCopy{Variant(static_cast<int32_t>(found.Int(0))), found.Text(1), static_cast<int32_t>(found.Int(2)),
                        found.IsNull(3) ? std::string() : found.Text(3), found.Int(4) == 1};
    }

    // The internal number of another held bill of the sending branch under this bill's
    // number, but for the row `except`.
    std::optional<int64_t> NumberHeldByAnother(const Variant& except) {
        if (!statements_.Run("SELECT FBillInterID FROM t_RcvBill WHERE FKind=? AND FSendBrNumber=? AND FTranType=? "
                             "AND FBillNo=? AND FRcvID<>?",
                             {&kind_code_, &send_number_, &tran_type_, &bill_no_, &except})) {
            return std::nullopt;
        }
        return statements_.Last().IsNull(0) ? int64_t{0} : statements_.Last().Int(0);
    }

    BillResult AnotherBillHolds(int64_t held_inter_id) {
        return NotSaved(fmt::format(
            "another bill of branch {} with this number (internal number {}) is held already; this one has "
            "internal number {}",
            bill_.send_number, held_inter_id, bill_.inter_id));
    }

    static BillResult NotSaved(std::string reason) { return {SaveOutcomeKind::kNotSaved, 0, std::move(reason)}; }

    BillResult Insert() {
        if (auto other = NumberHeldByAnother(Variant(int32_t{0}))) return AnotherBillHolds(*other);
        const int64_t key = statements_.Insert("t_RcvBill", bill_.columns,
                                               {{"FKind", &kind_code_},
                                                {"FSendBrNumber", &send_number_},
                                                {"FSendBrName", &send_name_},
                                                {"FReceivedAt", &now_},
                                                {"FFingerprint", &fingerprint_},
                                                {"FListCreated", &list_created_}},
                                               "FRcvID");
        InsertLines(statements_, bill_, Variant(static_cast<int32_t>(key)));
        return {SaveOutcomeKind::kSaved, 1, {}};
    }

    // The copy held is this bill as sent; it now carries this list's date unless a later
    // list brought it.
    BillResult KeepHeld(const HeldCopy& held) {
        if (list_ && !held.from_newer_list) {
            statements_.Run("UPDATE t_RcvBill SET FFingerprint=?, FListCreated=? WHERE FRcvID=?",
                            {&fingerprint_, &list_created_, &held.rcv_id});
        } else if (held.fingerprint.empty()) {
            statements_.Run("UPDATE t_RcvBill SET FFingerprint=? WHERE FRcvID=?", {&fingerprint_, &held.rcv_id});
        }
        return {SaveOutcomeKind::kAlreadyHeld, held.revision, {}};
    }

    // Header and lines replaced, also when the bill was renumbered, but never under a number
    // that another bill of the sending branch holds.
    BillResult Replace(const HeldCopy& held) {
        std::string reason;
        if (held.bill_no != bill_.bill_no) {
            if (auto other = NumberHeldByAnother(held.rcv_id)) return AnotherBillHolds(*other);
            reason = fmt::format("it was held as {} before", held.bill_no);
        }
        const Variant next_revision{held.revision + 1};
        statements_.Run("DELETE FROM t_RcvBillEntry WHERE FRcvID=?", {&held.rcv_id});
        statements_.Update("t_RcvBill", bill_.columns,
                           {{"FSendBrName", &send_name_},
                            {"FRevision", &next_revision},
                            {"FRevisedAt", &now_},
                            {"FFingerprint", &fingerprint_},
                            {"FListCreated", &list_created_}},
                           {"FRcvID", &held.rcv_id});
        InsertLines(statements_, bill_, held.rcv_id);
        return {SaveOutcomeKind::kUpdated, held.revision + 1, std::move(reason)};
    }

    StatementCache& statements_;
    const CheckedBill& bill_;
    const std::optional<ReceivedList>& list_;
    const Variant kind_code_;
    const Variant send_number_;
    const Variant send_name_;
    const Variant tran_type_;
    const Variant bill_no_;
    const Variant inter_id_;
    const Variant fingerprint_;
    const Variant list_created_;
    const Variant now_;
};

}  // namespace

BillResult SaveReceivedBill(StatementCache& statements, ReceivedKind kind, const CheckedBill& bill,
                            const std::optional<ReceivedList>& list) {
    return BillWrite(statements, kind, bill, list).Write();
}

}  // namespace orba::hostkit

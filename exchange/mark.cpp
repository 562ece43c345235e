// Marking what a receipt acknowledges: the receipt's checks, the bills as they stand here
// read a few hundred at a time, and the marking itself through the library.
#include "exchange/mark.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "data/bill_types.h"
#include "hostkit/database.h"
#include "platform/error.h"
#include "platform/printable_text.h"

namespace orba::exchange {

using platform::Error;
using platform::ErrorCode;
using platform::Ref;
using platform::Variant;

namespace {

std::string BillTable(int32_t bill_type) { return std::string(CountedAs(bill_type).header_table); }

// Runs `head` (a query whose first column is an internal number and which ends in "IN (")
// for the internal numbers `ids`: a few statements of many numbers each rather than one per
// bill, so that a receipt of thousands of bills costs a few reads. Calls `row` with each row
// and its internal number; numbers not found are left out.
template <class OnRow>
void QueryByIds(hostkit::Database& db, std::string_view head, const std::vector<Variant>& values,
                const std::vector<int32_t>& ids, OnRow row) {
    constexpr size_t kIdsPerStatement = 500;
    for (size_t start = 0; start < ids.size(); start += kIdsPerStatement) {
        const size_t end = std::min(ids.size(), start + kIdsPerStatement);
        // Internal numbers are integers, written here by this program.
        std::string sql(head);
        for (size_t i = start; i < end; ++i) fmt::format_to(std::back_inserter(sql), "{}{}", i > start ? "," : "", ids[i]);
        sql += ')';
        for (Ref<platform::RecordSet> rows = db.Query(sql, values); !rows->Eof(); rows->MoveNext()) {
            row(static_cast<int32_t>(rows->Value(0).ToLong()), *rows);
        }
    }
}

// Reads `columns` (after FInterID) of the bills `ids` of a bill type.
template <class OnRow>
void ReadBills(hostkit::Database& db, int32_t bill_type, std::string_view columns,
               const std::vector<int32_t>& ids, OnRow row) {
    QueryByIds(db, fmt::format("SELECT FInterID, {} FROM {} WHERE FInterID IN (", columns, BillTable(bill_type)), {},
               ids, row);
}

// Of the bills `ids` of a bill type, the SHA-256 of the list that carried each last, for those
// packaged since sendings were recorded here.
std::unordered_map<int32_t, std::string> LatestSendings(hostkit::Database& db, int32_t bill_type,
                                                        const std::vector<int32_t>& ids) {
    std::unordered_map<int32_t, std::string> latest;
    if (ids.empty() || !db.HasTable("t_SentBill")) return latest;
    QueryByIds(db, "SELECT FBillInterID, FListSha256 FROM t_SentBill WHERE FTranType=? AND FBillInterID IN (",
               {Variant(TranTypeOf(bill_type))}, ids,
               [&](int32_t id, platform::RecordSet& rows) { latest.emplace(id, rows.Value(1).ToText()); });
    return latest;
}

// Of the bills `ids` of a bill type, those the supplying branch has marked transmitted.
std::unordered_set<int32_t> TransmittedIds(hostkit::Database& db, int32_t bill_type, const std::vector<int32_t>& ids) {
    std::unordered_set<int32_t> transmitted;
    ReadBills(db, bill_type, "FTranStatus", ids, [&](int32_t id, platform::RecordSet& rows) {
        if (!rows.Value(1).IsNull() && rows.Value(1).ToLong() == 1) transmitted.insert(id);
    });
    return transmitted;
}
int CountMarkedIds(hostkit::Database& db, int32_t bill_type, const std::vector<int32_t>& ids) {
    const std::unordered_set<int32_t> transmitted = TransmittedIds(db, bill_type, ids);
    int marked = 0;
    for (int32_t id : ids) marked += transmitted.count(id) ? 1 : 0;
    return marked;
}

// The internal numbers of the bills of `package` it acknowledges.
std::vector<int32_t> AcknowledgedIds(const ReceiptPackage& package) {
    std::vector<int32_t> ids;
    for (const ReceiptBill& b : package.bills) {
        if (b.Acknowledged()) ids.push_back(*b.bill_inter_id);
    }
    return ids;
}

// Raises an Error, with nothing marked, unless `receipt` can be what the related branch that
// saved the bills wrote for this branch: its sender is one of this database's related
// branches, it acknowledges each bill once, and each with the fingerprint of the copy held
// there. Returns the sender's internal number here (t_SonCompany.FItemID).
int64_t RequireSoundReceipt(hostkit::Database& database, const ReceiptFile& receipt,
                            std::string_view file_name, const Branch& own) {
    if (receipt.sender.number == own.number) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' names this branch {} ({}) as the branch that saved the bills; a receipt comes "
                                "from the branch the list went to. Nothing was marked",
                                file_name, own.number, own.name));
    }
    Ref<platform::RecordSet> related =
        database.Query("SELECT FItemID FROM t_SonCompany WHERE FNumber=?", {Variant(receipt.sender.number)});
    if (related->Eof()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' was written by branch {} ({}), which is not a related branch in the account "
                                "database {}; nothing was marked",
                                file_name, receipt.sender.number, receipt.sender.name,
                                database.ShownLocation()));
    }
    const int64_t sender_id = related->Value(0).ToLong();
    // (header table, internal number): bills of different header tables are numbered apart
    std::set<std::pair<std::string_view, int32_t>> seen;
    const ReceiptBill* without_fingerprint = nullptr;
    size_t acknowledged = 0;
    size_t fingerprinted = 0;
    for (const ReceiptPackage& p : receipt.packages) {
        for (const ReceiptBill& b : p.bills) {
            if (!b.Acknowledged() || !IsKnownBillType(p.bill_type)) continue;
            ++acknowledged;
            if (!b.fingerprint.empty()) {
                ++fingerprinted;
            } else if (!without_fingerprint) {
                without_fingerprint = &b;
            }
            if (!seen.emplace(CountedAs(p.bill_type).header_table, *b.bill_inter_id).second) {
                throw Error(ErrorCode::kBadInput,
                            fmt::format("'{}' acknowledges bill {} (internal number {}) more than once; a receipt "
                                        "names each bill it holds once. Nothing was marked",
                                        file_name, platform::EscapeControls(b.bill_no), *b.bill_inter_id));
            }
        }
    }
    if (acknowledged > 0 && fingerprinted == 0) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' was written by an earlier version of orbabt: it does not say which copy of each "
                                "bill branch {} holds, so it cannot show that the bills are unchanged since. Nothing "
                                "was marked. Save the same list again at {} (orbabt unpackage): its bills are held "
                                "there already, nothing is saved twice, and the new receipt can be marked",
                                file_name, receipt.sender.number, receipt.sender.number));
    }
    if (without_fingerprint) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("'{}' acknowledges bill {} without the fingerprint of the copy branch {} holds; a "
                                "receipt written by orbabt unpackage gives it for every bill it acknowledges. Nothing "
                                "was marked",
                                file_name, platform::EscapeControls(without_fingerprint->bill_no),
                                receipt.sender.number));
    }
    return sender_id;
}

}  // namespace

int CountMarked(hostkit::Database& db, const PackageCount& package) {
    return CountMarkedIds(db, package.bill_type, package.inter_ids);
}

namespace {

// Keeps every other writer out of the bills' headers and lines the receipt names, and out of
// the record of sendings, until the transaction that holds them ends.
void HoldAcknowledgedBills(hostkit::Database& database, const ReceiptFile& receipt) {
    std::set<std::string> held;
    for (const ReceiptPackage& p : receipt.packages) {
        if (!IsKnownBillType(p.bill_type)) continue;
        for (std::string table : {BillTable(p.bill_type), BillTable(p.bill_type) + std::string("Entry")}) {
            if (held.insert(table).second) database.HoldAgainstWriters(table);
        }
    }
    if (!held.empty() && database.HasTable("t_SentBill")) database.HoldAgainstWriters("t_SentBill");
}

// Sorts out of package `p` the acknowledged bills that may not be marked: those that are not
// this bill here, not addressed to the receipt's sender or not in a status that is sent
// (refused, the result no longer ok), those that went again in a later list (superseded) and
// those changed since they were packaged (changed). Each is set to "not saved", so that the
// list handed to the library leaves it out.
void SortOutUnprovable(hostkit::Database& database, const ReceiptFile& receipt, ReceiptPackage& p,
                       int64_t sender_id, const Branch& own, MarkResult& result) {
    auto refuse = [&](ReceiptBill& b, std::string_view why) {
        std::cerr << platform::ForTerminal(fmt::format("orbabt: the receipt acknowledges bill {} (internal number {}), "
                                                       "which {}; it is left unmarked\n",
                                                       platform::EscapeControls(b.bill_no), *b.bill_inter_id, why));
        b.outcome = hostkit::SaveOutcomeKind::kNotSaved;
        result.ok = false;
    };
    struct Here {
        std::string bill_no;
        Variant status;
        Variant branch;
    };
    std::unordered_map<int32_t, Here> here;
    ReadBills(database, p.bill_type, "FBillNo, FStatus, FRelateBrID", AcknowledgedIds(p),
              [&](int32_t id, platform::RecordSet& rows) {
                  here.emplace(id, Here{rows.Value(1).IsNull() ? std::string() : rows.Value(1).ToText(),
                                        rows.Value(2), rows.Value(3)});
              });
    std::vector<int32_t> provable;
    for (ReceiptBill& b : p.bills) {
        if (!b.Acknowledged()) continue;
        auto found = here.find(*b.bill_inter_id);
        if (found == here.end() || found->second.bill_no != b.bill_no) {
            refuse(b, "is not that bill here");
        } else if (found->second.branch.IsNull() || found->second.branch.ToLong() != sender_id) {
            refuse(b, fmt::format("is not addressed to branch {} here", platform::EscapeControls(receipt.sender.number)));
        } else if (found->second.status.IsNull() ||
                   (found->second.status.ToLong() != 1 && found->second.status.ToLong() != 2)) {
            refuse(b, fmt::format("is in status {} here, in which a bill is not sent", found->second.status.ToText()));
        } else {
            provable.push_back(*b.bill_inter_id);
        }
    }
    const auto latest = LatestSendings(database, p.bill_type, provable);
    const auto now = CurrentFingerprints(database, p.bill_type, provable);
    for (ReceiptBill& b : p.bills) {
        if (!b.Acknowledged()) continue;
        if (auto sent = latest.find(*b.bill_inter_id); sent != latest.end() && sent->second != receipt.list_sha256) {
            // A receipt for an older list of the bill: whatever copy it proves, the bill went
            // again since, and only the receipt of that latest list may mark it.
            std::cout << platform::ForTerminal(fmt::format(
                "  {} {} went to {} again in a later list than the one this receipt answers: left untransmitted "
                "here, the receipt of that list marks it\n",
                BillTypeName(p.bill_type), platform::EscapeControls(b.bill_no),
                platform::EscapeControls(receipt.sender.number)));
            b.outcome = hostkit::SaveOutcomeKind::kNotSaved;
            ++result.superseded;
            continue;
        }
        auto current = now.find(*b.bill_inter_id);
        if (current != now.end() && current->second == b.fingerprint) continue;
        std::cout << platform::ForTerminal(fmt::format(
            "  {} {} changed at {} after it was packaged ({} holds the copy it received): left untransmitted, it "
            "goes with the next package\n",
            BillTypeName(p.bill_type), platform::EscapeControls(b.bill_no), own.number,
            platform::EscapeControls(receipt.sender.number)));
        b.outcome = hostkit::SaveOutcomeKind::kNotSaved;
        ++result.changed;
    }
}

// The acknowledged bills of each package that were already marked (before[i] for package i).
std::vector<std::unordered_set<int32_t>> MarkedAmongAcknowledged(hostkit::Database& database,
                                                                 const ReceiptFile& receipt) {
    std::vector<std::unordered_set<int32_t>> marked;
    for (const ReceiptPackage& p : receipt.packages) {
        marked.push_back(IsKnownBillType(p.bill_type) ? TransmittedIds(database, p.bill_type, AcknowledgedIds(p))
                                                      : std::unordered_set<int32_t>{});
    }
    return marked;
}

}  // namespace

MarkResult MarkAcknowledged(hostkit::Database& database, const ReceiptFile& receipt, std::string_view file_name,
                            const Branch& own, const std::function<void()>& before_marking) {
    MarkResult result;
    ReceiptFile checked = receipt;
    const int64_t sender_id = RequireSoundReceipt(database, receipt, file_name, own);
    // What is compared and what is marked are one transaction that keeps every other writer of
    // these bills out from the first reading to the commit: a bill edited meanwhile waits, and
    // is marked as the copy the receiving branch holds, or its edit comes first and it is left
    // for the next package. The latest sending of each bill is read under the same hold.
    hostkit::Transaction transaction(database);
    HoldAcknowledgedBills(database, checked);
    for (ReceiptPackage& p : checked.packages) {
        if (IsKnownBillType(p.bill_type)) SortOutUnprovable(database, receipt, p, sender_id, own, result);
    }
    if (before_marking) before_marking();
    // What was marked before this receipt, read under the same hold as the marking, so that
    // only what this receipt marks is counted as marked by it.
    const auto marked_before = MarkedAmongAcknowledged(database, checked);
    Ref<host::VariantVector> list = AcknowledgedList(checked);
    if (list->UpperBound() > 0 && !Mark(database, list)) result.ok = false;
    transaction.Commit();
    const auto marked_now = MarkedAmongAcknowledged(database, checked);
    for (size_t i = 0; i < checked.packages.size(); ++i) {
        int marked = 0, already = 0;
        for (int32_t id : AcknowledgedIds(checked.packages[i])) {
            if (marked_before[i].count(id)) {
                ++already;
            } else if (marked_now[i].count(id)) {
                ++marked;
            }
        }
        result.marked.emplace_back(checked.packages[i].bill_type, marked);
        result.already.emplace_back(checked.packages[i].bill_type, already);
    }
    return result;
}

MarkResult AcceptReceipt(hostkit::Database& db, const Branch& own, const ReceiptFile& receipt, std::string_view name,
                         const std::function<void()>& once_checked) {
    RequireBranch(receipt.receiver, own, name, "receiver", db);
    RequireBranch(receipt.list_sender, own, name, "answered list's sender", db);
    if (once_checked) once_checked();
    return MarkAcknowledged(db, receipt, name, own);
}

bool MarkWithoutReceipt(hostkit::Database& db, const Branch& own, const ListFile& file, std::string_view name) {
    RequireBranch(file.sender, own, name, "sender", db);
    return Mark(db, file.list);
}

}  // namespace orba::exchange

// The host's saving component on the receiving branch: writes the bills of a received
// package into the branch's account database, one transaction per bill, and never saves a
// bill twice (same kind, sending branch and bill number). It reports one line per bill.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kSaveDataProgId = "Varnick.SaveData";

// Tables of received bills, made in the account database on first use.
extern const std::string_view kReceivedSchema;

enum class ReceivedKind { kOrder, kNotice };

class SaveData : public platform::Dispatchable<SaveData> {
public:
    static const platform::MemberTable<SaveData>& Members();

    // Saves the bills of `bills` (a list of bill records, or Nothing) and appends a line per
    // bill to `messages`. A malformed record raises an Error naming the bill, the key and
    // what was expected; nothing of that record is saved, bills before it stay saved.
    static void Save(std::string_view props, const platform::Variant& bills, ReceivedKind kind,
                     std::string& messages);
};

// Called after each bill with (bills done, bills in the package); lets a terminal host show
// progress on a long unpacking. Empty to switch off.
void SetSaveProgress(std::function<void(int done, int total)> progress);

}  // namespace orba::hostkit

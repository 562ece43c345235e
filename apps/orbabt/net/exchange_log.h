// The exchange log: one JSON line per exchange over the network, at both ends, in the folder
// "ExchangeLog" beside the transmission logs (exchanges.jsonl, the previous one kept as
// exchanges.1.jsonl once it passes a size).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "apps/orbabt/transport.h"

namespace orba::apps::net {

struct TypeCounts {
    int sent = 0, saved = 0, updated = 0, held = 0, not_saved = 0, marked = 0;
};

struct ExchangeRecord {
    std::string peer;          // the other branch's number
    std::string certificate;   // its certificate's SHA-256
    std::string direction;     // "pull", "push", "served request", "served receipt", "served list"
    std::string list_sha256;   // of the list exchanged, when there was one
    std::map<int32_t, TypeCounts> counts;  // per bill type
    std::string error;         // why the exchange failed, if it did
    std::string branch;        // this branch's number, once known
};

// Adds what a receipt says to `record`: per bill type, the bills saved, updated, held and
// not saved.
void CountReceipt(const ReceiptFile& receipt, ExchangeRecord& record);

// The folder of the exchange log and of what waits for the next exchange: "ExchangeLog"
// beside the transmission logs.
std::filesystem::path ExchangeFolder();

// Appends `record` with the time to the log in `directory` (the ExchangeLog folder beside
// the transmission logs by default). A log that cannot be written is reported on standard
// error; the exchange itself is not failed for it.
void AppendExchangeLog(const ExchangeRecord& record, std::filesystem::path directory = {});

// Per peer branch, the time of the last exchange of `branch` with it that did not fail, from
// the log in `directory` (the default folder when empty); none when there is no log.
std::map<std::string, std::string> LastExchanges(const std::string& branch, std::filesystem::path directory = {});

// Past this size the log is moved aside and a new one begun.
inline constexpr uintmax_t kExchangeLogBytes = 8u << 20;

}  // namespace orba::apps::net

#include "apps/orbabt/net/admin_status.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fstream>
#include <iterator>

#include "apps/orbabt/net/certificate_dates.h"
#include "data/bill_types.h"

namespace orba::apps::net {

namespace {

struct Labels {
    const char *lang, *title, *branch, *name, *waiting, *last_success, *last_failure, *last_moved, *refused, *certificate,
        *days, *ends, *never, *kept, *made, *version, *uptime, *recent, *time, *result, *moved, *ok, *failed, *day, *hour, *minute;
    const char *sent, *saved, *updated, *held, *not_saved, *in_other_package, *marked;
};

constexpr Labels kEnglish{"en", "Branch status", "Branch", "Name", "Waiting", "Last success", "Last failure",
                          "Last exchange moved", "Receipts refused", "Certificate", "Days left", "Ends", "never",
                          "Receipts kept until a pull delivers them", "Made", "Version", "Up", "Last exchanges", "Time",
                          "Result", "Moved", "ok", "failed", "d", "h", "min", "sent", "saved", "updated", "held", "not saved",
                          "in the other notice package", "marked"};
constexpr Labels kChinese{"zh-CN", "机构状态", "机构", "名称", "待发送", "最近成功", "最近失败", "最近一次传输",
                          "被拒回执", "证书", "剩余天数", "到期时间", "从未", "待下次拉取送达的回执", "生成时间", "版本",
                          "已运行", "最近的传输", "时间", "结果", "传输内容", "成功", "失败", "天", "小时", "分", "发送", "保存",
                          "更新", "已有", "未保存", "随另一通知单包", "标记"};

std::string Direction(const std::string& direction, bool chinese) {
    if (!chinese) return direction;
    static const std::map<std::string, std::string> kNames{{"served request", "应答下载请求"}, {"served receipt", "接收回执"},
                                                           {"served list", "接收清单"}, {"pull", "拉取"},
                                                           {"push", "推送"}};
    const auto found = kNames.find(direction);
    return found == kNames.end() ? direction : found->second;
}

// "501 sent 3, marked 3; 502 ..." of an exchange's counts.
std::string CountsText(const std::map<int32_t, TypeCounts>& counts, const Labels& l) {
    std::string text;
    for (const auto& [type, c] : counts) {
        std::string parts;
        for (const auto& [label, n] : {std::pair{l.sent, c.sent}, {l.saved, c.saved}, {l.updated, c.updated},
                                       {l.held, c.held}, {l.not_saved, c.not_saved},
                                       {l.in_other_package, c.in_other_package}, {l.marked, c.marked}}) {
            if (n > 0) parts += fmt::format("{}{} {}", parts.empty() ? "" : ", ", label, n);
        }
        if (!parts.empty()) text += fmt::format("{}{} {}", text.empty() ? "" : "; ", type, parts);
    }
    return text;
}

LoggedExchange FromLine(const nlohmann::json& line) {
    LoggedExchange e{line.value("time", ""), line.value("peer", ""), line.value("direction", ""),
                     line.value("error", ""), {}};
    if (const auto counts = line.find("counts"); counts != line.end() && counts->is_object()) {
        for (const auto& [type, c] : counts->items()) {
            if (!c.is_object()) continue;
            e.counts[std::atoi(type.c_str())] =
                TypeCounts{c.value("sent", 0),      c.value("saved", 0),  c.value("updated", 0),
                           c.value("held", 0),      c.value("not_saved", 0), c.value("marked", 0),
                           c.value("in_other_package", 0)};
        }
    }
    return e;
}

std::string Uptime(std::chrono::seconds up, const Labels& l) {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(up).count();
    return fmt::format("{} {} {} {} {} {}", minutes / 1440, l.day, minutes / 60 % 24, l.hour, minutes % 60, l.minute);
}

std::string LocalTime(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z (%Z)", &tm);
    return text;
}

std::string PeerRow(const PeerStatus& peer, const PeerHistory& h, const Labels& l, bool chinese) {
    std::string waiting;
    for (const auto& [type, n] : peer.waiting) waiting += fmt::format("{}{} {}", waiting.empty() ? "" : ", ", type, n);
    const LoggedExchange& last = h.last_success.time > h.last_failure.time ? h.last_success : h.last_failure;
    return fmt::format(
        "<tr><td class=k>{}</td><td>{}</td><td>{}</td><td class=k>{}</td><td class=bad>{}{}</td><td>{}</td>"
        "<td class=n>{}</td></tr>",
        Html(peer.branch.number), Html(peer.branch.name), Html(waiting),
        h.last_success.time.empty() ? l.never : Html(h.last_success.time),
        h.last_failure.time.empty() ? l.never : Html(h.last_failure.time),
        h.last_failure.error.empty() ? "" : "<br><small>" + Html(h.last_failure.error) + "</small>",
        last.time.empty() ? "" : Html(Direction(last.direction, chinese) + ": " + CountsText(last.counts, l)),
        h.refused_receipts);
}

}  // namespace

ExchangeHistory ReadExchangeHistory(const std::string& branch, const std::filesystem::path& folder, size_t recent) {
    ExchangeHistory history;
    std::deque<LoggedExchange> last;
    for (const char* name : {"exchanges.1.jsonl", "exchanges.jsonl"}) {
        std::ifstream in(folder / name);
        for (std::string text; std::getline(in, text);) {
            const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
            if (!line.is_object() || line.value("branch", "") != branch) continue;
            LoggedExchange e = FromLine(line);
            PeerHistory& peer = history.peers[e.peer];
            if (e.error.empty()) {
                peer.last_success = e;
            } else {
                peer.refused_receipts += e.direction == "served receipt" ? 1 : 0;
                peer.last_failure = e;
            }
            last.push_back(std::move(e));
            if (last.size() > recent) last.pop_front();
        }
    }
    history.recent.assign(last.rbegin(), last.rend());
    return history;
}

bool PrefersChinese(std::string_view accept_language) {
    double best = -1;
    bool chinese = false;
    size_t at = 0;
    while (at < accept_language.size()) {
        size_t end = accept_language.find(',', at);
        if (end == std::string_view::npos) end = accept_language.size();
        std::string_view item = accept_language.substr(at, end - at);
        at = end + 1;
        double q = 1;
        if (const size_t semi = item.find(";q="); semi != std::string_view::npos) {
            q = std::atof(std::string(item.substr(semi + 3)).c_str());
            item = item.substr(0, semi);
        }
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        if (q > best) {
            best = q;
            chinese = item.size() >= 2 && (item.substr(0, 2) == "zh" || item.substr(0, 2) == "ZH");
        }
    }
    return chinese;
}

std::string AdminStatusPage(const AdminStatus& s, bool chinese) {
    const Labels& l = chinese ? kChinese : kEnglish;
    std::string page = fmt::format(
        "<!DOCTYPE html><html lang=\"{}\"><head><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"30\">"
        "<title>{} {}</title><style>body{{font-family:sans-serif;margin:1em;max-width:1000px}}"
        "table{{border-collapse:collapse;width:100%;table-layout:auto;margin-bottom:1em}}"
        "td,th{{border:1px solid #999;padding:.25em .5em;vertical-align:top;overflow-wrap:anywhere;font-size:90%}}"
        "th{{background:#eee;text-align:left;overflow-wrap:normal}}td.n{{text-align:right}}td.k{{white-space:nowrap}}td.bad small{{color:#a00}}"
        "p.meta{{color:#555}}</style></head><body><h1>{} {} {}</h1>",
        l.lang, l.title, Html(s.branch.branch.number), Html(s.branch.branch.number), Html(s.branch.branch.name),
        l.title);
    page += fmt::format("<p class=meta>{}: {} &middot; {}: {} &middot; {}: {} &middot; {}: {}</p>", l.made,
                        Html(LocalTime(s.made)), l.version, Html(s.version), l.uptime, Uptime(s.uptime, l), l.kept,
                        s.kept_receipts);
    page += fmt::format("<table><tr><th>{}</th><th>{}</th><th>{}</th><th>{}</th><th>{}</th><th>{}</th><th>{}</th></tr>",
                        l.branch, l.name, l.waiting, l.last_success, l.last_failure, l.last_moved, l.refused);
    for (const PeerStatus& peer : s.branch.peers) {
        const auto found = s.history.peers.find(peer.branch.number);
        page += PeerRow(peer, found == s.history.peers.end() ? PeerHistory{} : found->second, l, chinese);
    }
    page += fmt::format("</table><table><tr><th>{}</th><th>{}</th><th>{}</th></tr>", l.certificate, l.days, l.ends);
    for (const CertificateEnd& c : s.certificates) {
        page += fmt::format("<tr><td>{} ({})</td><td class=n>{}</td><td>{}</td></tr>", Html(c.file), Html(c.role),
                            DaysLeft(CertificateDates{{}, c.not_after}, s.made),
                            Html(LocalTime(c.not_after)));
    }
    page += fmt::format("</table><h2>{}</h2><table><tr><th>{}</th><th>{}</th><th>{}</th><th>{}</th></tr>", l.recent,
                        l.time, l.branch, l.result, l.moved);
    for (const LoggedExchange& e : s.history.recent) {
        page += fmt::format("<tr><td class=k>{}</td><td class=k>{}</td><td{}>{}{}</td><td>{}</td></tr>", Html(e.time),
                            Html(e.peer),
                            e.error.empty() ? "" : " class=bad", e.error.empty() ? l.ok : l.failed,
                            e.error.empty() ? "" : "<br><small>" + Html(e.error) + "</small>",
                            Html(Direction(e.direction, chinese) + ": " + CountsText(e.counts, l)));
    }
    return page + "</table></body></html>\n";
}

std::string AdminStatusJson(const AdminStatus& s) {
    auto exchange = [](const LoggedExchange& e) -> nlohmann::json {
        if (e.time.empty()) return nullptr;
        nlohmann::json counts = nlohmann::json::object();
        for (const auto& [type, c] : e.counts) {
            counts[std::to_string(type)] = {{"sent", c.sent},           {"saved", c.saved},   {"updated", c.updated},
                                            {"held", c.held},           {"not_saved", c.not_saved},
                                            {"in_other_package", c.in_other_package}, {"marked", c.marked}};
        }
        return {{"time", e.time}, {"peer", e.peer}, {"direction", e.direction}, {"error", e.error}, {"counts", counts}};
    };
    nlohmann::json peers = nlohmann::json::array();
    for (const PeerStatus& peer : s.branch.peers) {
        const auto found = s.history.peers.find(peer.branch.number);
        const PeerHistory h = found == s.history.peers.end() ? PeerHistory{} : found->second;
        nlohmann::json waiting = nlohmann::json::object();
        for (const auto& [type, n] : peer.waiting) waiting[std::to_string(type)] = n;
        peers.push_back({{"branch", peer.branch.number}, {"name", peer.branch.name}, {"waiting", waiting},
                         {"last_success", exchange(h.last_success)}, {"last_failure", exchange(h.last_failure)},
                         {"refused_receipts", h.refused_receipts}});
    }
    nlohmann::json certificates = nlohmann::json::array();
    for (const CertificateEnd& c : s.certificates) {
        certificates.push_back({{"role", c.role}, {"file", c.file},
                                {"days_left", DaysLeft(CertificateDates{{}, c.not_after}, s.made)}});
    }
    nlohmann::json recent = nlohmann::json::array();
    for (const LoggedExchange& e : s.history.recent) recent.push_back(exchange(e));
    const nlohmann::json all{{"branch", {{"number", s.branch.branch.number}, {"name", s.branch.branch.name}}},
                             {"made", LocalTime(s.made)},
                             {"version", s.version},
                             {"uptime_seconds", s.uptime.count()},
                             {"kept_receipts", s.kept_receipts},
                             {"peers", peers},
                             {"certificates", certificates},
                             {"recent", recent}};
    return all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace orba::apps::net

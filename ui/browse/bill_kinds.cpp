#include "ui/browse/bill_kinds.h"

#include <algorithm>
#include <cctype>

#include "platform/variant.h"

namespace orba::ui {
namespace {

size_t FindNoCase(std::string_view text, std::string_view what) {
    auto it = std::search(text.begin(), text.end(), what.begin(), what.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it == text.end() ? std::string_view::npos : static_cast<size_t>(it - text.begin());
}

// The value after `name` up to the next ";" (or the end); nullopt-like empty when absent.
bool ValueAfter(std::string_view props, std::string_view name, std::string& value) {
    const size_t at = FindNoCase(props, name);
    if (at == std::string_view::npos) return false;
    std::string_view rest = props.substr(at + name.size());
    value = std::string(rest.substr(0, rest.find(';')));
    return true;
}

}  // namespace

int KindOfKey(std::string_view key) {
    for (size_t i = 0; i < kBillKinds.size(); ++i) {
        if (key == kBillKinds[i].send_key || key == kBillKinds[i].down_key) return static_cast<int>(i);
    }
    return -1;
}

int KindOfTranType(std::string_view tran_type) {
    for (size_t i = 0; i < kBillKinds.size(); ++i) {
        if (tran_type == std::to_string(kBillKinds[i].tran_type)) return static_cast<int>(i);
    }
    return -1;
}

std::string TabCaption(std::string_view key) {
    const int kind = KindOfKey(key);
    if (kind < 0) return {};
    const BillKind& k = kBillKinds[static_cast<size_t>(kind)];
    return std::string(key == k.send_key ? k.send_text : k.down_text);
}

ListLogin CutListLogin(std::string_view props) {
    ListLogin login;
    const size_t open = props.find('{');
    if (open != std::string_view::npos) {
        const size_t close = props.find('}', open + 1);
        if (close != std::string_view::npos) login.base_text = std::string(props.substr(open + 1, close - open - 1));
    }
    std::string id;
    if (ValueAfter(props, "UserID=", id)) login.user_id = platform::Variant(platform::Val(id)).ToLong();
    ValueAfter(props, "UserName=", login.user_name);
    return login;
}

std::string BaseInfoText(const ListLogin& login) {
    return login.base_text + "|" + std::to_string(login.user_id) + "|" + login.user_name;
}

}  // namespace orba::ui

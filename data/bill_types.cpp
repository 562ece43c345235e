#include "data/bill_types.h"

namespace orba::data {

std::vector<int32_t> AllBillTypeCodes() {
    std::vector<int32_t> codes;
    for (const BillType& t : kBillTypes) codes.push_back(t.code);
    return codes;
}

const std::string& BillTypeCodesText() {
    static const std::string text = [] {
        std::string joined;
        for (const BillType& t : kBillTypes) joined += (joined.empty() ? "" : ", ") + std::to_string(t.code);
        return joined;
    }();
    return text;
}

}  // namespace orba::data

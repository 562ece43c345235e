#include "hostkit/sample_data.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include "hostkit/erp_schema.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

namespace {

// ---------------------------------------------------------------------------------------
// Fixed master data. Identifier ranges differ per table (departments 1xx, employees 2xx,
// suppliers 3xx, customers 4xx, unit groups 5xx, units 6xx, settlement 7xx, code lists 8xx,
// users 9xx, items 1xxx), so a join on the wrong column finds nothing instead of a
// plausible wrong row.

struct CodeName {
    int id;
    const char* number;
    const char* name;
};

constexpr CodeName kGroupBranches[] = {
    {1, "01.001", "上海锦程实业有限公司"},
    {2, "01.002", "苏州锦程精密机械有限公司"},
    {3, "01.003", "杭州锦程电子科技有限公司"},
    {4, "01.004", "宁波锦程进出口有限公司"},
};

struct CurrencyRow {
    int id;
    const char* number;
    const char* name;
    int scale;
    int64_t default_rate;  // home-currency units per unit, scaled by kRateScale
};
constexpr int kRateScale = 4;
constexpr int kHomeCurrencyId = 1;
constexpr int kUsDollarId = 2;
constexpr CurrencyRow kCurrencies[] = {
    {kHomeCurrencyId, "RMB", "人民币", 2, 10000},
    {kUsDollarId, "USD", "美元", 2, 71800},
    {3, "JPY", "日元", 0, 480},
};

constexpr int kPurchaseDept = 101;
constexpr int kSalesDept = 102;
constexpr CodeName kDepartments[] = {
    {kPurchaseDept, "01", "采购部"}, {kSalesDept, "02", "销售部"}, {103, "03", "仓储部"},
    {104, "04", "财务部"},           {105, "05", "生产部"},
};

struct EmpRow {
    int id;
    const char* number;
    const char* name;
    int department;
};
constexpr int kPurchaseManager = 201;
constexpr int kSalesManager = 204;
constexpr EmpRow kEmployees[] = {
    {kPurchaseManager, "001", "王建国", kPurchaseDept},
    {202, "002", "李娜", kPurchaseDept},
    {203, "003", "张伟", kPurchaseDept},
    {kSalesManager, "004", "刘洋", kSalesDept},
    {205, "005", "陈静", kSalesDept},
    {206, "006", "杨帆", kSalesDept},
    {207, "007", "赵磊", 103},
    {208, "008", "黄敏", 104},
    {209, "009", "周涛", 105},
    {210, "010", "吴芳", kSalesDept},
};
constexpr int kPurchaseStaff[] = {kPurchaseManager, 202, 203};
constexpr int kSalesStaff[] = {kSalesManager, 205, 206, 210};

struct UserRow {
    int id;
    const char* name;
    int employee;  // 0: the user is no employee
    const char* description;
};
constexpr int kPurchaseCheckerUser = 907;
constexpr int kSalesCheckerUser = 908;
constexpr UserRow kUsers[] = {
    {901, "Administrator", 0, "系统管理员"},
    {902, "李娜", 202, "采购员"},
    {903, "张伟", 203, "采购员"},
    {904, "陈静", 205, "销售员"},
    {905, "杨帆", 206, "销售员"},
    {906, "吴芳", 210, "销售员"},
    {kPurchaseCheckerUser, "王建国", kPurchaseManager, "采购经理"},
    {kSalesCheckerUser, "刘洋", kSalesManager, "销售经理"},
    {909, "黄敏", 208, "会计"},
};
constexpr int kPurchaseBillers[] = {902, 903, kPurchaseCheckerUser};
constexpr int kSalesBillers[] = {904, 905, 906};

// Group branches appear as suppliers and customers too, under the branch's own number and
// name, at these offsets plus the branch id; outside partners follow.
constexpr int kBranchSupplierBase = 300;
constexpr int kBranchCustomerBase = 400;
constexpr CodeName kOutsideSuppliers[] = {
    {311, "02.001", "无锡宏达五金制品有限公司"},
    {312, "02.002", "常州华信电气设备有限公司"},
    {313, "02.003", "昆山恒通精密轴承有限公司"},
    {314, "02.004", "天津北方钢材贸易有限公司"},
    {315, "02.005", "深圳市联创电子有限公司"},
};
constexpr CodeName kOutsideCustomers[] = {
    {411, "02.001", "南京瑞丰机电设备有限公司"},
    {412, "02.002", "合肥创新自动化有限公司"},
    {413, "02.003", "青岛海联工业装备有限公司"},
    {414, "02.004", "武汉东湖智能制造有限公司"},
    {415, "02.005", "成都西部机械有限公司"},
};

constexpr int kUnitGroupItemClass = 7;  // t_Item class of measure-unit groups
constexpr CodeName kUnitGroups[] = {
    {501, "01", "数量组"},
    {502, "02", "重量组"},
    {503, "03", "长度组"},
};

struct UnitRow {
    int id;
    int group;
    const char* number;
    const char* name;
    int coefficient;  // base units per unit
    int max_qty;      // largest quantity a line orders in this unit
    bool tenths;      // quantities may carry one decimal
};
constexpr UnitRow kUnits[] = {
    {601, 501, "PCS", "个", 1, 500, false},  {602, 501, "BOX", "盒", 10, 100, false},
    {603, 501, "CTN", "箱", 100, 20, false}, {604, 502, "KG", "千克", 1, 800, true},
    {605, 502, "T", "吨", 1000, 20, true},   {606, 503, "M", "米", 1, 1000, true},
    {607, 503, "ROLL", "卷", 50, 30, false},
};

struct ItemRow {
    int id;
    const char* number;
    const char* name;
    const char* model;  // nullptr: no model recorded
    int group;
    int base_unit;
    int64_t price_cents;  // list price per base unit in the home currency
    int units[3];         // units it is traded in; 0 ends the list
};
constexpr ItemRow kItems[] = {
    {1001, "1.01.001", "深沟球轴承", "6204-2RS", 501, 601, 1850, {601, 602, 603}},
    {1002, "1.01.002", "圆锥滚子轴承", "30205", 501, 601, 4620, {601, 602, 0}},
    {1003, "1.02.001", "六角头螺栓", "M8×30 8.8级", 501, 601, 35, {601, 602, 603}},
    {1004, "1.02.002", "不锈钢六角螺母", "M8 A2-70", 501, 601, 18, {601, 602, 603}},
    {1005, "1.02.003", "平垫圈", nullptr, 501, 601, 5, {601, 603, 0}},
    {1006, "2.01.001", "冷轧钢板", "SPCC 1.0×1250", 502, 604, 580, {604, 605, 0}},
    {1007, "2.01.002", "铝合金型材", "6063-T5 40×40", 502, 604, 2350, {604, 605, 0}},
    {1008, "2.02.001", "铜芯电力电缆", "YJV 3×2.5", 503, 606, 1260, {606, 607, 0}},
    {1009, "2.02.002", "工业同步带", "HTD 8M-30", 503, 606, 8500, {606, 0, 0}},
    {1010, "3.01.001", "交流伺服电机", "SV-0400A", 501, 601, 185000, {601, 0, 0}},
    {1011, "3.01.002", "通用变频器", "VF-0750B", 501, 601, 126000, {601, 0, 0}},
    {1012, "3.02.001", "电感式接近开关", "PX-12-4DN", 501, 601, 4500, {601, 602, 0}},
    {1013, "3.02.002", "可编程控制器", "PC-24DT", 501, 601, 98000, {601, 0, 0}},
    {1014, "3.03.001", "包装纸箱", nullptr, 501, 601, 320, {601, 603, 0}},
};

struct SubMessageRow {
    int id;
    int type;
    const char* code;
    const char* name;
};
constexpr int kSaleStyleType = 101;
constexpr int kPurchaseStyleType = 102;
constexpr SubMessageRow kSubMessages[] = {
    {801, kSaleStyleType, "XS01", "现销"},         {802, kSaleStyleType, "XS02", "赊销"},
    {803, kSaleStyleType, "XS03", "分期收款"},     {804, kSaleStyleType, "XS04", "委托代销"},
    {811, kPurchaseStyleType, "CG01", "现购"},     {812, kPurchaseStyleType, "CG02", "赊购"},
};
constexpr int kSaleStyles[] = {801, 802, 803, 804};
constexpr int kPurchaseStyles[] = {811, 812};

constexpr CodeName kSettlements[] = {
    {701, "01", "现金"}, {702, "02", "电汇"}, {703, "03", "银行承兑汇票"}, {704, "04", "转账支票"},
};

constexpr const char* kOrderExplanations[] = {"月度备货", "项目采购", "安全库存补货", "客户急单采购"};
constexpr const char* kDeliveryExplanations[] = {"按合同发货", "分批发货", "月结客户发货"};
constexpr const char* kReturnExplanations[] = {"质量问题退货", "规格不符退货", "多发退回"};
constexpr const char* kLineNotes[] = {"加急", "按图纸要求包装", "含运费", "分批交货", "质保一年",
                                      "需提供材质证明"};

// Tax rates (FCess) and discount rates (FTaxRate) of purchase-order lines, in percent, as
// decimal text; repeated entries make the common rate the likely one.
constexpr const char* kTaxRates[] = {"13", "13", "13", "13", "9", "6", "0"};
constexpr const char* kDiscountRates[] = {"0", "0", "0", "0", "2.5", "5", "10"};

// System profile rows besides the branch id.
constexpr const char* kTaxInPriceValue = "False";
constexpr const char* kPeriodStartValue = "2026-01-01";

constexpr int kPurchaseOrderType = 71;
constexpr int kSalesOrderType = 81;
constexpr int kReturnNoticeType = 82;
constexpr int kDeliveryNoticeType = 83;

constexpr const char* kPurchaseOrderPrefix = "POOR";
constexpr const char* kDeliveryNoticePrefix = "SEOUT";
constexpr const char* kReturnNoticePrefix = "SERTN";
constexpr const char* kSalesOrderPrefix = "SEORD";
constexpr const char* kCustomerOrderPrefix = "CPO2026-";

constexpr int kYear = 2026;
constexpr int kDaysInYear = 365;
constexpr int kLastHeaderDay = 334;  // leaves room for delivery dates within the year
constexpr int kMaxBills = 999999;    // bill numbers carry six digits
constexpr int kMaxLines = 9999;

// ---------------------------------------------------------------------------------------
// Statements.

constexpr const char* kBeginData = "SAVEPOINT sample_data";
constexpr const char* kCommitData = "RELEASE sample_data";
constexpr const char* kUndoData = "ROLLBACK TO sample_data; RELEASE sample_data";
constexpr const char* kBeginFile = "BEGIN";
constexpr const char* kCommitFile = "COMMIT";

constexpr const char* kInsertSonCompany =
    "INSERT INTO t_SonCompany (FItemID, FNumber, FName) VALUES (?, ?, ?)";
constexpr const char* kInsertProfile =
    "INSERT INTO t_Systemprofile (FCategory, FKey, FValue, FDescription) VALUES (?, ?, ?, ?)";
constexpr const char* kInsertCurrency =
    "INSERT INTO t_Currency (FCurrencyID, FNumber, FName, FScale, FExchangeRate) "
    "VALUES (?, ?, ?, ?, ?)";
constexpr const char* kInsertDepartment =
    "INSERT INTO t_Department (FItemID, FNumber, FName) VALUES (?, ?, ?)";
constexpr const char* kInsertEmp =
    "INSERT INTO t_Emp (FItemID, FNumber, FName, FDepartmentID) VALUES (?, ?, ?, ?)";
constexpr const char* kInsertUser =
    "INSERT INTO t_User (FUserID, FName, FEmpID, FDescription) VALUES (?, ?, ?, ?)";
constexpr const char* kInsertSupplier =
    "INSERT INTO t_Supplier (FItemID, FNumber, FName) VALUES (?, ?, ?)";
constexpr const char* kInsertCustomer =
    "INSERT INTO t_Organization (FItemID, FNumber, FName) VALUES (?, ?, ?)";
constexpr const char* kInsertUnitGroup =
    "INSERT INTO t_Item (FItemID, FItemClassID, FNumber, FName) VALUES (?, ?, ?, ?)";
constexpr const char* kInsertUnit =
    "INSERT INTO t_MeasureUnit (FItemID, FUnitGroupID, FNumber, FName, FCoefficient, FStandard) "
    "VALUES (?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertItem =
    "INSERT INTO t_ICItem (FItemID, FNumber, FName, FModel, FUnitGroupID, FUnitID) "
    "VALUES (?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertSubMessage =
    "INSERT INTO t_SubMessage (FInterID, FTypeID, FID, FName) VALUES (?, ?, ?, ?)";
constexpr const char* kInsertSettle =
    "INSERT INTO t_Settle (FItemID, FNumber, FName) VALUES (?, ?, ?)";
constexpr const char* kInsertPOOrder =
    "INSERT INTO POOrder (FInterID, FBillNo, FTranType, FDate, FSupplyID, FDeptID, FEmpID, "
    "FMangerID, FBillerID, FCheckerID, FCheckDate, FCurrencyID, FExchangeRate, FPOStyle, "
    "FRelateBrID, FStatus, FTranStatus, FOrderAffirm, FExplanation) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertPOOrderEntry =
    "INSERT INTO POOrderEntry (FInterID, FEntryID, FItemID, FUnitID, FAuxQty, FQty, FAuxPrice, "
    "FPrice, FCess, FTaxRate, FAmount, FDate, FNote) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertSEOrder =
    "INSERT INTO SEOrder (FInterID, FBillNo, FTranType, FDate, FCustID, FDeptID, FEmpID, "
    "FManagerID, FBillerID, FCurrencyID, FExchangeRate, FSalType, FSettleID, FRelateBrID, "
    "FPOOrdBillNo, FStatus, FExplanation) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertSEOrderEntry =
    "INSERT INTO SEOrderEntry (FInterID, FEntryID, FItemID, FUnitID, FAuxQty, FQty, FAuxPrice, "
    "FPrice, FAmount, FSourceEntryID, FDate, FNote) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertSEOutStock =
    "INSERT INTO SEOutStock (FInterID, FBillNo, FTranType, FDate, FCustID, FDeptID, FEmpID, "
    "FManagerID, FBillerID, FCheckerID, FCheckDate, FCurrencyID, FExchangeRate, FSalType, "
    "FSettleID, FCnnInterID, FRelateBrID, FStatus, FTranStatus, FExplanation) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertSEOutStockEntry =
    "INSERT INTO SEOutStockEntry (FInterID, FEntryID, FItemID, FUnitID, FAuxQty, FQty, "
    "FAuxPrice, FPrice, FAmount, FSourceTranType, FSourceInterID, FSourceEntryID, "
    "FSourceBillNo, FNote) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// ---------------------------------------------------------------------------------------
// Helpers.

[[noreturn]] void ThrowDatabase(sqlite3* db, std::string_view doing) {
    throw Error(ErrorCode::kDatabaseError, std::string(doing) + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const char* sql, std::string_view doing) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        ThrowDatabase(db, doing);
    }
}

// The card of a deck (below) that stands for a NULL value.
constexpr int kNullCard = -1;

// A prepared insert whose parameters are bound in order and then written by Run().
class Insert {
public:
    Insert(sqlite3* db, const char* sql) : db_(db), sql_(sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            ThrowDatabase(db, std::string("Preparing the sample-data statement \"") + sql + "\"");
        }
    }
    ~Insert() { sqlite3_finalize(stmt_); }
    Insert(const Insert&) = delete;
    Insert& operator=(const Insert&) = delete;

    Insert& Int(int64_t value) { return Check(sqlite3_bind_int64(stmt_, next_, value)); }
    Insert& Null() { return Check(sqlite3_bind_null(stmt_, next_)); }
    Insert& Text(std::string_view value) {
        return Check(sqlite3_bind_text(stmt_, next_, value.data(), static_cast<int>(value.size()),
                                       SQLITE_TRANSIENT));
    }
    Insert& Text(const std::string& value) { return Text(std::string_view(value)); }
    Insert& Text(const char* value) { return value != nullptr ? Text(std::string_view(value)) : Null(); }
    Insert& Text(const std::optional<std::string>& value) { return value ? Text(*value) : Null(); }
    // A reference to another row; 0 means none and is stored as NULL.
    Insert& Ref(int64_t id) { return id != 0 ? Int(id) : Null(); }
    // A value drawn from a deck, where the null card stands for NULL.
    Insert& Card(int card) { return card != kNullCard ? Int(card) : Null(); }

    void Run() {
        // An unbound parameter would silently become NULL; a count mismatch is a mistake here.
        if (next_ - 1 != sqlite3_bind_parameter_count(stmt_)) {
            throw Error(ErrorCode::kInvalidProcedureCall,
                        "Sample data: wrong number of values for \"" + std::string(sql_) + "\"");
        }
        if (sqlite3_step(stmt_) != SQLITE_DONE) {
            const std::string doing = "Writing sample data with \"" + std::string(sql_) + "\"";
            sqlite3_reset(stmt_);
            ThrowDatabase(db_, doing);
        }
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        next_ = 1;
    }

private:
    Insert& Check(int rc) {
        if (rc != SQLITE_OK) {
            ThrowDatabase(db_, "Binding value " + std::to_string(next_) + " of \"" + sql_ + "\"");
        }
        ++next_;
        return *this;
    }

    sqlite3* db_;
    const char* sql_;
    sqlite3_stmt* stmt_ = nullptr;
    int next_ = 1;
};

// splitmix64: small, fast and fully specified, so the same seed gives the same data with
// any compiler and standard library.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (n > 0).
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    // lo .. hi inclusive.
    int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
    bool Percent(int p) { return Below(100) < p; }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(static_cast<int>(N))];
    }

private:
    uint64_t state_;
};

// Draws from a shuffled deck and reshuffles when it is used up, so every card turns up once
// per round: a mix of statuses and missing values is guaranteed, not merely likely, while
// the order still depends on the seed.
class Deck {
public:
    explicit Deck(std::vector<int> cards) : cards_(std::move(cards)), next_(cards_.size()) {}

    int Draw(Random& random) {
        if (next_ == cards_.size()) {
            for (size_t i = cards_.size(); i > 1; --i) {
                std::swap(cards_[i - 1], cards_[static_cast<size_t>(random.Below(static_cast<int>(i)))]);
            }
            next_ = 0;
        }
        return cards_[next_++];
    }

private:
    std::vector<int> cards_;
    size_t next_;
};

int64_t Pow10(int n) {
    int64_t result = 1;
    while (n-- > 0) result *= 10;
    return result;
}

// Plain decimal text of units / 10^scale, e.g. (12345, 2) -> "123.45".
std::string DecimalText(int64_t units, int scale) {
    const bool negative = units < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
    std::string digits = std::to_string(magnitude);
    if (scale > 0) {
        if (digits.size() <= static_cast<size_t>(scale)) {
            digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
        }
        digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
    }
    return negative ? "-" + digits : digits;
}

// Rounds a non-negative value from one scale to a smaller one, halves away from zero, as
// the database rounds an amount to its currency's decimals.
int64_t RoundToScale(int64_t units, int from_scale, int to_scale) {
    const int64_t divisor = Pow10(from_scale - to_scale);
    return (units + divisor / 2) / divisor;
}

std::string DateText(int day_of_year) {
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    int day = std::clamp(day_of_year, 1, kDaysInYear);
    while (day > kMonthDays[month]) {
        day -= kMonthDays[month];
        ++month;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", kYear, month + 1, day);
    return text;
}

std::string DateTimeText(int day_of_year, int minute_of_day) {
    char time[32];
    std::snprintf(time, sizeof time, "T%02d:%02d:00", minute_of_day / 60, minute_of_day % 60);
    return DateText(day_of_year) + time;
}

std::string BillNumber(const char* prefix, int branch, int sequence) {
    char text[48];
    std::snprintf(text, sizeof text, "%s%02d-%06d", prefix, branch, sequence);
    return text;
}

const CurrencyRow& CurrencyById(int id) {
    for (const CurrencyRow& currency : kCurrencies) {
        if (currency.id == id) return currency;
    }
    return kCurrencies[0];
}

const UnitRow& UnitById(int id) {
    for (const UnitRow& unit : kUnits) {
        if (unit.id == id) return unit;
    }
    return kUnits[0];
}

void ValidateOptions(const SampleOptions& options) {
    bool known_branch = false;
    for (const CodeName& branch : kGroupBranches) known_branch |= branch.id == options.branch;
    if (!known_branch) {
        throw Error(ErrorCode::kBadInput, "Sample data: branch " + std::to_string(options.branch) +
                                              " is not one of the group's branches (1 to " +
                                              std::to_string(std::size(kGroupBranches)) + ")");
    }
    const std::pair<const char*, int> counts[] = {
        {"orders", options.orders}, {"notices", options.notices}, {"returns", options.returns}};
    for (const auto& [name, value] : counts) {
        if (value < 0 || value > kMaxBills) {
            throw Error(ErrorCode::kBadInput, std::string("Sample data: ") + name + " is " +
                                                  std::to_string(value) + ", it must be 0 to " +
                                                  std::to_string(kMaxBills));
        }
    }
    if (options.lines < 1 || options.lines > kMaxLines) {
        throw Error(ErrorCode::kBadInput, "Sample data: lines is " + std::to_string(options.lines) +
                                              ", it must be 1 to " + std::to_string(kMaxLines));
    }
}

// ---------------------------------------------------------------------------------------
// The generator.

// One generated bill line, amounts already consistent.
struct Line {
    int item;
    int unit;
    std::string aux_qty;
    std::string qty;
    std::string aux_price;
    std::string price;
    std::string amount;
    std::optional<std::string> note;
};

// The trading partner of a bill: a group branch (with its supplier or customer record) or
// an outside partner with no related branch.
struct Partner {
    int id;
    int related_branch;  // 0: none
};

struct Money {
    int currency;
    std::optional<int64_t> rate;  // bill exchange rate scaled by kRateScale; none: not recorded
    int64_t conversion_rate;      // the rate prices are converted with
};

class SampleWriter {
public:
    SampleWriter(sqlite3* db, const SampleOptions& options)
        : db_(db),
          options_(options),
          // The branch takes part in the seed, so branches of one group differ.
          random_(options.seed ^ (static_cast<uint64_t>(options.branch) * 0xD1B54A32D192ED03ULL)),
          status_deck_({0, 1, 1, 1, 2, 2, 3}),
          tran_status_deck_({kNullCard, 0, 0, 1}),
          related_deck_({1, 1, 1, 1, 1, 0}),
          rate_deck_({1, 1, 1, 1, 1, 1, 1, 0}),
          sale_style_deck_({1, 1, 1, 1, 0}),
          settle_deck_({1, 1, 1, 1, 0}),
          delivery_order_deck_({1, 1, 1, 0}),
          return_order_deck_({1, 0, 0}),
          customer_order_no_deck_({1, 1, 0}),
          drawn_line_deck_({1, 1, 1, 1, 0}),
          explanation_deck_({1, 1, 0}) {
        for (const CodeName& branch : kGroupBranches) {
            if (branch.id != options.branch) other_branches_.push_back(branch.id);
        }
        branch_deck_.emplace(other_branches_);
    }

    void Run() {
        WriteGroup();
        WriteMasterData();
        WritePurchaseOrders();
        WriteNotices();
    }

private:
    void WriteGroup() {
        Insert branches(db_, kInsertSonCompany);
        for (const CodeName& branch : kGroupBranches) {
            branches.Int(branch.id).Text(branch.number).Text(branch.name).Run();
        }
        Insert profile(db_, kInsertProfile);
        profile.Text(kIcCategory).Text(kBranchIdKey).Text(std::to_string(options_.branch))
            .Text("本机构在集团中的分支机构代码").Run();
        profile.Text(kIcCategory).Text(kTaxInPriceKey).Text(kTaxInPriceValue)
            .Text("采购订单单价是否含税").Run();
        profile.Text(kPeriodCategory).Text(kPeriodStartKey).Text(kPeriodStartValue)
            .Text("第一个会计期间的起始日期，按自然月分期").Run();
    }

    void WriteMasterData() {
        Insert currencies(db_, kInsertCurrency);
        for (const CurrencyRow& c : kCurrencies) {
            currencies.Int(c.id).Text(c.number).Text(c.name).Int(c.scale)
                .Text(DecimalText(c.default_rate, kRateScale)).Run();
        }
        Insert departments(db_, kInsertDepartment);
        for (const CodeName& d : kDepartments) departments.Int(d.id).Text(d.number).Text(d.name).Run();
        Insert employees(db_, kInsertEmp);
        for (const EmpRow& e : kEmployees) {
            employees.Int(e.id).Text(e.number).Text(e.name).Int(e.department).Run();
        }
        Insert users(db_, kInsertUser);
        for (const UserRow& u : kUsers) {
            users.Int(u.id).Text(u.name);
            if (u.employee != 0) users.Int(u.employee); else users.Null();
            users.Text(u.description).Run();
        }
        Insert suppliers(db_, kInsertSupplier);
        Insert customers(db_, kInsertCustomer);
        for (const CodeName& branch : kGroupBranches) {
            if (branch.id == options_.branch) continue;
            suppliers.Int(kBranchSupplierBase + branch.id).Text(branch.number).Text(branch.name).Run();
            customers.Int(kBranchCustomerBase + branch.id).Text(branch.number).Text(branch.name).Run();
        }
        for (const CodeName& s : kOutsideSuppliers) suppliers.Int(s.id).Text(s.number).Text(s.name).Run();
        for (const CodeName& c : kOutsideCustomers) customers.Int(c.id).Text(c.number).Text(c.name).Run();
        Insert groups(db_, kInsertUnitGroup);
        for (const CodeName& g : kUnitGroups) {
            groups.Int(g.id).Int(kUnitGroupItemClass).Text(g.number).Text(g.name).Run();
        }
        Insert units(db_, kInsertUnit);
        for (const UnitRow& u : kUnits) {
            units.Int(u.id).Int(u.group).Text(u.number).Text(u.name).Int(u.coefficient)
                .Int(u.coefficient == 1 ? 1 : 0).Run();
        }
        Insert items(db_, kInsertItem);
        for (const ItemRow& i : kItems) {
            items.Int(i.id).Text(i.number).Text(i.name).Text(i.model).Int(i.group).Int(i.base_unit).Run();
        }
        Insert messages(db_, kInsertSubMessage);
        for (const SubMessageRow& m : kSubMessages) messages.Int(m.id).Int(m.type).Text(m.code).Text(m.name).Run();
        Insert settlements(db_, kInsertSettle);
        for (const CodeName& s : kSettlements) settlements.Int(s.id).Text(s.number).Text(s.name).Run();
    }

    template <size_t N>
    Partner PickPartner(int branch_base, const CodeName (&outside)[N]) {
        if (!other_branches_.empty() && related_deck_.Draw(random_) == 1) {
            const int branch = branch_deck_->Draw(random_);
            return {branch_base + branch, branch};
        }
        return {random_.Pick(outside).id, 0};
    }

    Money PickMoney() {
        const int roll = random_.Below(10);
        const int currency = roll < 7 ? kHomeCurrencyId : roll < 9 ? kUsDollarId : 3;
        const CurrencyRow& row = CurrencyById(currency);
        Money money{currency, std::nullopt, row.default_rate};
        if (rate_deck_.Draw(random_) == 1) {
            // Within about 4% above the currency's default rate.
            const int64_t spread = std::max<int64_t>(1, row.default_rate / 25);
            money.rate = currency == kHomeCurrencyId
                             ? row.default_rate
                             : row.default_rate + static_cast<int64_t>(random_.Next() % static_cast<uint64_t>(spread));
            money.conversion_rate = *money.rate;
        }
        return money;
    }

    template <size_t N>
    std::optional<std::string> PickExplanation(const char* const (&texts)[N]) {
        if (explanation_deck_.Draw(random_) == 0) return std::nullopt;
        return std::string(random_.Pick(texts));
    }

    // Item, unit, quantity and price of one line; the amount is the unit price times the
    // quantity rounded to the currency's decimals, the base quantity the quantity times the
    // unit's coefficient, and the base price the unit price divided by it (exactly, since
    // the unit price is made from the base price).
    Line MakeLine(const Money& money) {
        const ItemRow& item = random_.Pick(kItems);
        int unit_count = 0;
        while (unit_count < 3 && item.units[unit_count] != 0) ++unit_count;
        const UnitRow& unit = UnitById(item.units[random_.Below(unit_count)]);

        constexpr int kQtyScale = 3;
        int64_t aux_qty = static_cast<int64_t>(random_.Between(1, unit.max_qty)) * 1000;
        if (unit.tenths) aux_qty += random_.Below(10) * 100;
        const int64_t qty = aux_qty * unit.coefficient;

        // List price varied by up to 10% either way, converted to the bill's currency.
        constexpr int kPriceScale = 2;
        const int64_t home_cents = std::max<int64_t>(1, item.price_cents * random_.Between(90, 110) / 100);
        const CurrencyRow& currency = CurrencyById(money.currency);
        int64_t price = home_cents * Pow10(kRateScale) / money.conversion_rate;
        if (currency.scale == 0) price = price / 100 * 100;  // whole units in such a currency
        price = std::max<int64_t>(Pow10(kPriceScale - currency.scale), price);
        const int64_t aux_price = price * unit.coefficient;
        const int64_t amount = RoundToScale(aux_price * aux_qty, kPriceScale + kQtyScale, currency.scale);

        Line line{item.id,
                  unit.id,
                  DecimalText(aux_qty, kQtyScale),
                  DecimalText(qty, kQtyScale),
                  DecimalText(aux_price, kPriceScale),
                  DecimalText(price, kPriceScale),
                  DecimalText(amount, currency.scale),
                  std::nullopt};
        if (random_.Percent(40)) line.note = random_.Pick(kLineNotes);
        return line;
    }

    void WritePurchaseOrders() {
        Insert header(db_, kInsertPOOrder);
        Insert entry(db_, kInsertPOOrderEntry);
        for (int sequence = 1; sequence <= options_.orders; ++sequence) {
            const int day = random_.Between(1, kLastHeaderDay);
            const Partner partner = PickPartner(kBranchSupplierBase, kOutsideSuppliers);
            const Money money = PickMoney();
            const int status = status_deck_.Draw(random_);
            const int tran_status = tran_status_deck_.Draw(random_);
            header.Int(sequence).Text(BillNumber(kPurchaseOrderPrefix, options_.branch, sequence))
                .Int(kPurchaseOrderType).Text(DateText(day)).Int(partner.id).Int(kPurchaseDept)
                .Int(random_.Pick(kPurchaseStaff)).Int(kPurchaseManager).Int(random_.Pick(kPurchaseBillers));
            WriteCheck(header, status, day, kPurchaseCheckerUser);
            header.Int(money.currency).Text(RateText(money)).Int(random_.Pick(kPurchaseStyles))
                .Ref(partner.related_branch).Int(status).Card(tran_status)
                .Int(tran_status == 1 && random_.Percent(50) ? 1 : 0)
                .Text(PickExplanation(kOrderExplanations)).Run();

            const int line_count = random_.Between(1, options_.lines);
            for (int entry_id = 1; entry_id <= line_count; ++entry_id) {
                const Line line = MakeLine(money);
                const int delivery_day = std::min(kDaysInYear, day + random_.Between(3, 30));
                entry.Int(sequence).Int(entry_id).Int(line.item).Int(line.unit).Text(line.aux_qty)
                    .Text(line.qty).Text(line.aux_price).Text(line.price).Text(random_.Pick(kTaxRates))
                    .Text(random_.Pick(kDiscountRates)).Text(line.amount).Text(DateText(delivery_day))
                    .Text(line.note).Run();
            }
        }
    }

    // Delivery and return notices share the notice table and one numbering; the two kinds
    // are interleaved the way they would be entered over a year.
    void WriteNotices() {
        Insert header(db_, kInsertSEOutStock);
        Insert entry(db_, kInsertSEOutStockEntry);
        Insert order_header(db_, kInsertSEOrder);
        Insert order_entry(db_, kInsertSEOrderEntry);
        int deliveries_left = options_.notices;
        int returns_left = options_.returns;
        int delivery_sequence = 0;
        int return_sequence = 0;
        int order_sequence = 0;
        for (int id = 1; deliveries_left + returns_left > 0; ++id) {
            const bool is_return = random_.Below(deliveries_left + returns_left) < returns_left;
            if (is_return) {
                --returns_left;
            } else {
                --deliveries_left;
            }
            const std::string bill_no =
                is_return ? BillNumber(kReturnNoticePrefix, options_.branch, ++return_sequence)
                          : BillNumber(kDeliveryNoticePrefix, options_.branch, ++delivery_sequence);
            const int day = random_.Between(1, kLastHeaderDay);
            const Partner partner = PickPartner(kBranchCustomerBase, kOutsideCustomers);
            const Money money = PickMoney();
            const int status = status_deck_.Draw(random_);
            const int tran_status = tran_status_deck_.Draw(random_);
            const int employee = random_.Pick(kSalesStaff);
            const int biller = random_.Pick(kSalesBillers);
            const int sale_style = sale_style_deck_.Draw(random_) == 1 ? random_.Pick(kSaleStyles) : 0;
            const int settlement = settle_deck_.Draw(random_) == 1 ? random_.Pick(kSettlements).id : 0;
            const bool has_order =
                (is_return ? return_order_deck_ : delivery_order_deck_).Draw(random_) == 1;

            // The sales order behind a notice carries the notice's own internal number: the
            // notice statement reaches the order's lines through the notice's FInterID and
            // its purchase-order number through FCnnInterID, and this way both find it.
            std::string order_no;
            bool from_customer_order = false;
            if (has_order) {
                order_no = BillNumber(kSalesOrderPrefix, options_.branch, ++order_sequence);
                from_customer_order = customer_order_no_deck_.Draw(random_) == 1;
                std::optional<std::string> customer_order_no;
                if (from_customer_order) {
                    customer_order_no = partner.related_branch != 0
                                            ? BillNumber(kPurchaseOrderPrefix, partner.related_branch,
                                                         random_.Between(1, 999))
                                            : kCustomerOrderPrefix + std::to_string(random_.Between(1000, 9999));
                }
                order_header.Int(id).Text(order_no).Int(kSalesOrderType)
                    .Text(DateText(std::max(1, day - random_.Below(15)))).Int(partner.id).Int(kSalesDept)
                    .Int(employee).Int(kSalesManager).Int(biller).Int(money.currency).Text(RateText(money))
                    .Ref(sale_style).Ref(settlement).Ref(partner.related_branch).Text(customer_order_no)
                    .Int(random_.Between(1, 2)).Null().Run();
            }

            header.Int(id).Text(bill_no).Int(is_return ? kReturnNoticeType : kDeliveryNoticeType)
                .Text(DateText(day)).Int(partner.id).Int(kSalesDept).Int(employee).Int(kSalesManager)
                .Int(biller);
            WriteCheck(header, status, day, kSalesCheckerUser);
            header.Int(money.currency).Text(RateText(money)).Ref(sale_style).Ref(settlement)
                .Int(has_order ? id : 0).Ref(partner.related_branch).Int(status).Card(tran_status)
                .Text(PickExplanation(is_return ? kReturnExplanations : kDeliveryExplanations)).Run();

            const int line_count = random_.Between(1, options_.lines);
            int order_lines = 0;
            for (int entry_id = 1; entry_id <= line_count; ++entry_id) {
                const Line line = MakeLine(money);
                const bool drawn = has_order && drawn_line_deck_.Draw(random_) == 1;
                if (drawn) {
                    WriteOrderLine(order_entry, id, ++order_lines, line, day, from_customer_order);
                    entry.Int(id).Int(entry_id).Int(line.item).Int(line.unit).Text(line.aux_qty)
                        .Text(line.qty).Text(line.aux_price).Text(line.price).Text(line.amount)
                        .Int(kSalesOrderType).Int(id).Int(order_lines).Text(order_no).Text(line.note).Run();
                } else {
                    entry.Int(id).Int(entry_id).Int(line.item).Int(line.unit).Text(line.aux_qty)
                        .Text(line.qty).Text(line.aux_price).Text(line.price).Text(line.amount)
                        .Int(0).Int(0).Int(0).Null().Text(line.note).Run();
                }
            }
            if (has_order && order_lines == 0) {
                // Nothing of the order is delivered yet; it still has a line.
                WriteOrderLine(order_entry, id, 1, MakeLine(money), day, from_customer_order);
            }
        }
    }

    // A sales-order line; when the order came from a customer's purchase order it records
    // that order's line number.
    void WriteOrderLine(Insert& order_entry, int order_id, int entry_id, const Line& line, int day,
                        bool from_customer_order) {
        order_entry.Int(order_id).Int(entry_id).Int(line.item).Int(line.unit).Text(line.aux_qty)
            .Text(line.qty).Text(line.aux_price).Text(line.price).Text(line.amount)
            .Int(from_customer_order ? random_.Between(1, options_.lines) : 0)
            .Text(DateText(day)).Text(line.note).Run();
    }

    // Checked bills (status 1 and up) record who checked them and when.
    void WriteCheck(Insert& header, int status, int day, int checker) {
        if (status == 0) {
            header.Null().Null();
        } else {
            const int check_day = std::min(kDaysInYear, day + random_.Below(3));
            const int check_minute = random_.Between(8 * 60 + 30, 18 * 60);
            header.Int(checker).Text(DateTimeText(check_day, check_minute));
        }
    }

    static std::optional<std::string> RateText(const Money& money) {
        if (!money.rate) return std::nullopt;
        return DecimalText(*money.rate, kRateScale);
    }

    sqlite3* db_;
    const SampleOptions& options_;
    Random random_;
    std::vector<int> other_branches_;
    std::optional<Deck> branch_deck_;
    Deck status_deck_;
    Deck tran_status_deck_;
    Deck related_deck_;
    Deck rate_deck_;
    Deck sale_style_deck_;
    Deck settle_deck_;
    Deck delivery_order_deck_;
    Deck return_order_deck_;
    Deck customer_order_no_deck_;
    Deck drawn_line_deck_;
    Deck explanation_deck_;
};

}  // namespace

std::vector<BranchInfo> SampleGroupBranches() {
    std::vector<BranchInfo> branches;
    for (const CodeName& branch : kGroupBranches) branches.push_back({branch.id, branch.number, branch.name});
    return branches;
}

void PopulateSampleData(sqlite3* db, const SampleOptions& options) {
    if (db == nullptr) {
        throw Error(ErrorCode::kBadInput, "Sample data: no open database was given");
    }
    ValidateOptions(options);
    // A savepoint makes the whole fill one unit, on its own or inside a caller's transaction.
    Exec(db, kBeginData, "Starting the sample data");
    try {
        SampleWriter(db, options).Run();
    } catch (...) {
        sqlite3_exec(db, kUndoData, nullptr, nullptr, nullptr);
        throw;
    }
    Exec(db, kCommitData, "Finishing the sample data");
}

void CreateSampleDatabase(const std::string& path, const SampleOptions& options) {
    ValidateOptions(options);
    // Exclusive creation: an existing file is never opened, let alone changed, even if it
    // appears between a check and the creation.
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file == nullptr) {
        const int error = errno;
        if (error == EEXIST) {
            throw Error(ErrorCode::kFileAlreadyExists,
                        "Sample database '" + path + "' already exists; it is left untouched");
        }
        throw Error(ErrorCode::kIoError,
                    "Cannot create sample database '" + path + "': " + std::strerror(error));
    }
    std::fclose(file);

    sqlite3* db = nullptr;
    try {
        // Opened by its absolute path, so a name such as ":memory:" or "file:..." reaches the
        // file just created instead of being read as a special name by SQLite.
        const std::string file_name = std::filesystem::absolute(path).string();
        if (sqlite3_open_v2(file_name.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            ThrowDatabase(db, "Opening sample database '" + path + "'");
        }
        Exec(db, kBeginFile, "Creating sample database '" + path + "'");
        CreateErpSchema(db);
        PopulateSampleData(db, options);
        Exec(db, kCommitFile, "Writing sample database '" + path + "'");
        if (sqlite3_close(db) != SQLITE_OK) {
            ThrowDatabase(db, "Closing sample database '" + path + "'");
        }
    } catch (...) {
        // Closing rolls back what is still open; the half-made file goes.
        sqlite3_close_v2(db);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw;
    }
}

}  // namespace orba::hostkit

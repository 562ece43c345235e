// The fixed master data of the sample group: its branches, currencies, departments, staff,
// partners, units and items, and the code lists and texts bills are drawn from. Identifier
// ranges differ per table, so a join on the wrong column finds nothing instead of a
// plausible wrong row.
#pragma once

#include <cstdint>

namespace orba::hostkit::sample {

// Identifier ranges: departments 1xx, employees 2xx, suppliers 3xx, customers 4xx, unit
// groups 5xx, units 6xx, settlement 7xx, code lists 8xx, users 9xx, items 1xxx.

struct CodeName {
    int id;
    const char* number;
    const char* name;
};

inline constexpr CodeName kGroupBranches[] = {
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
inline constexpr int kRateScale = 4;
inline constexpr int kHomeCurrencyId = 1;
inline constexpr int kUsDollarId = 2;
inline constexpr CurrencyRow kCurrencies[] = {
    {kHomeCurrencyId, "RMB", "人民币", 2, 10000},
    {kUsDollarId, "USD", "美元", 2, 71800},
    {3, "JPY", "日元", 0, 480},
};

inline constexpr int kPurchaseDept = 101;
inline constexpr int kSalesDept = 102;
inline constexpr CodeName kDepartments[] = {
    {kPurchaseDept, "01", "采购部"}, {kSalesDept, "02", "销售部"}, {103, "03", "仓储部"},
    {104, "04", "财务部"},           {105, "05", "生产部"},
};

struct EmpRow {
    int id;
    const char* number;
    const char* name;
    int department;
};
inline constexpr int kPurchaseManager = 201;
inline constexpr int kSalesManager = 204;
inline constexpr EmpRow kEmployees[] = {
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
inline constexpr int kPurchaseStaff[] = {kPurchaseManager, 202, 203};
inline constexpr int kSalesStaff[] = {kSalesManager, 205, 206, 210};

struct UserRow {
    int id;
    const char* name;
    int employee;  // 0: the user is no employee
    const char* description;
};
inline constexpr int kPurchaseCheckerUser = 907;
inline constexpr int kSalesCheckerUser = 908;
inline constexpr UserRow kUsers[] = {
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
inline constexpr int kPurchaseBillers[] = {902, 903, kPurchaseCheckerUser};
inline constexpr int kSalesBillers[] = {904, 905, 906};

// Group branches appear as suppliers and customers too, under the branch's own number and
// name, at these offsets plus the branch id; outside partners follow.
inline constexpr int kBranchSupplierBase = 300;
inline constexpr int kBranchCustomerBase = 400;
inline constexpr CodeName kOutsideSuppliers[] = {
    {311, "02.001", "无锡宏达五金制品有限公司"},
    {312, "02.002", "常州华信电气设备有限公司"},
    {313, "02.003", "昆山恒通精密轴承有限公司"},
    {314, "02.004", "天津北方钢材贸易有限公司"},
    {315, "02.005", "深圳市联创电子有限公司"},
};
inline constexpr CodeName kOutsideCustomers[] = {
    {411, "02.001", "南京瑞丰机电设备有限公司"},
    {412, "02.002", "合肥创新自动化有限公司"},
    {413, "02.003", "青岛海联工业装备有限公司"},
    {414, "02.004", "武汉东湖智能制造有限公司"},
    {415, "02.005", "成都西部机械有限公司"},
};

inline constexpr int kUnitGroupItemClass = 7;  // t_Item class of measure-unit groups
inline constexpr CodeName kUnitGroups[] = {
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
inline constexpr UnitRow kUnits[] = {
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
inline constexpr ItemRow kItems[] = {
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
inline constexpr int kSaleStyleType = 101;
inline constexpr int kPurchaseStyleType = 102;
inline constexpr SubMessageRow kSubMessages[] = {
    {801, kSaleStyleType, "XS01", "现销"},         {802, kSaleStyleType, "XS02", "赊销"},
    {803, kSaleStyleType, "XS03", "分期收款"},     {804, kSaleStyleType, "XS04", "委托代销"},
    {811, kPurchaseStyleType, "CG01", "现购"},     {812, kPurchaseStyleType, "CG02", "赊购"},
};
inline constexpr int kSaleStyles[] = {801, 802, 803, 804};
inline constexpr int kPurchaseStyles[] = {811, 812};

inline constexpr CodeName kSettlements[] = {
    {701, "01", "现金"}, {702, "02", "电汇"}, {703, "03", "银行承兑汇票"}, {704, "04", "转账支票"},
};

inline constexpr const char* kOrderExplanations[] = {"月度备货", "项目采购", "安全库存补货", "客户急单采购"};
inline constexpr const char* kDeliveryExplanations[] = {"按合同发货", "分批发货", "月结客户发货"};
inline constexpr const char* kReturnExplanations[] = {"质量问题退货", "规格不符退货", "多发退回"};
inline constexpr const char* kLineNotes[] = {"加急", "按图纸要求包装", "含运费", "分批交货", "质保一年",
                                      "需提供材质证明"};

// Tax rates (FCess) and discount rates (FTaxRate) of purchase-order lines, in percent, as
// decimal text; repeated entries make the common rate the likely one.
inline constexpr const char* kTaxRates[] = {"13", "13", "13", "13", "9", "6", "0"};
inline constexpr const char* kDiscountRates[] = {"0", "0", "0", "0", "2.5", "5", "10"};

// System profile rows besides the branch id.
inline constexpr const char* kTaxInPriceValue = "False";
inline constexpr const char* kPeriodStartValue = "2026-01-01";

inline constexpr int kPurchaseOrderType = 71;
inline constexpr int kSalesOrderType = 81;
inline constexpr int kReturnNoticeType = 82;
inline constexpr int kDeliveryNoticeType = 83;

inline constexpr const char* kPurchaseOrderPrefix = "POOR";
inline constexpr const char* kDeliveryNoticePrefix = "SEOUT";
inline constexpr const char* kReturnNoticePrefix = "SERTN";
inline constexpr const char* kSalesOrderPrefix = "SEORD";
inline constexpr const char* kCustomerOrderPrefix = "CPO2026-";

inline constexpr int kYear = 2026;
inline constexpr int kDaysInYear = 365;
inline constexpr int kLastHeaderDay = 334;  // leaves room for delivery dates within the year
inline constexpr int kMaxBills = 999999;    // bill numbers carry six digits
inline constexpr int kMaxLines = 9999;

}  // namespace orba::hostkit::sample

#include "hostkit/sample/sample_writer.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "hostkit/sample/master_data.h"
#include "hostkit/sample/random_deck.h"
#include "hostkit/sample/row_insert.h"
#include "hostkit/sample/sample_text.h"
#include "hostkit/sample_data.h"

namespace orba::hostkit::sample {

namespace {

// ---------------------------------------------------------------------------------------
// Statements.


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
    SampleWriter(Database& db, const SampleOptions& options)
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
        RowInsert branches(db_, kInsertSonCompany);
        for (const CodeName& branch : kGroupBranches) {
            branches.Int(branch.id).Text(branch.number).Text(branch.name).Run();
        }
        RowInsert profile(db_, kInsertProfile);
        profile.Text(kIcCategory).Text(kBranchIdKey).Text(std::to_string(options_.branch))
            .Text("本机构在集团中的分支机构代码").Run();
        profile.Text(kIcCategory).Text(kTaxInPriceKey).Text(kTaxInPriceValue)
            .Text("采购订单单价是否含税").Run();
        profile.Text(kPeriodCategory).Text(kPeriodStartKey).Text(kPeriodStartValue)
            .Text("第一个会计期间的起始日期，按自然月分期").Run();
    }

    void WriteMasterData() {
        RowInsert currencies(db_, kInsertCurrency);
        for (const CurrencyRow& c : kCurrencies) {
            currencies.Int(c.id).Text(c.number).Text(c.name).Int(c.scale)
                .Text(DecimalText(c.default_rate, kRateScale)).Run();
        }
        RowInsert departments(db_, kInsertDepartment);
        for (const CodeName& d : kDepartments) departments.Int(d.id).Text(d.number).Text(d.name).Run();
        RowInsert employees(db_, kInsertEmp);
        for (const EmpRow& e : kEmployees) {
            employees.Int(e.id).Text(e.number).Text(e.name).Int(e.department).Run();
        }
        RowInsert users(db_, kInsertUser);
        for (const UserRow& u : kUsers) {
            users.Int(u.id).Text(u.name);
            if (u.employee != 0) users.Int(u.employee); else users.Null();
            users.Text(u.description).Run();
        }
        RowInsert suppliers(db_, kInsertSupplier);
        RowInsert customers(db_, kInsertCustomer);
        for (const CodeName& branch : kGroupBranches) {
            if (branch.id == options_.branch) continue;
            suppliers.Int(kBranchSupplierBase + branch.id).Text(branch.number).Text(branch.name).Run();
            customers.Int(kBranchCustomerBase + branch.id).Text(branch.number).Text(branch.name).Run();
        }
        for (const CodeName& s : kOutsideSuppliers) suppliers.Int(s.id).Text(s.number).Text(s.name).Run();
        for (const CodeName& c : kOutsideCustomers) customers.Int(c.id).Text(c.number).Text(c.name).Run();
        RowInsert groups(db_, kInsertUnitGroup);
        for (const CodeName& g : kUnitGroups) {
            groups.Int(g.id).Int(kUnitGroupItemClass).Text(g.number).Text(g.name).Run();
        }
        RowInsert units(db_, kInsertUnit);
        for (const UnitRow& u : kUnits) {
            units.Int(u.id).Int(u.group).Text(u.number).Text(u.name).Int(u.coefficient)
                .Int(u.coefficient == 1 ? 1 : 0).Run();
        }
        RowInsert items(db_, kInsertItem);
        for (const ItemRow& i : kItems) {
            items.Int(i.id).Text(i.number).Text(i.name).Text(i.model).Int(i.group).Int(i.base_unit).Run();
        }
        RowInsert messages(db_, kInsertSubMessage);
        for (const SubMessageRow& m : kSubMessages) messages.Int(m.id).Int(m.type).Text(m.code).Text(m.name).Run();
        RowInsert settlements(db_, kInsertSettle);
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
        RowInsert header(db_, kInsertPOOrder);
        RowInsert entry(db_, kInsertPOOrderEntry);
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

    // The four statements notices are written with.
    struct NoticeRows {
        RowInsert header;
        RowInsert entry;
        RowInsert order_header;
        RowInsert order_entry;
    };

    // Delivery and return notices share the notice table and one numbering; the two kinds
    // are interleaved the way they would be entered over a year.
    void WriteNotices() {
        NoticeRows rows{RowInsert(db_, kInsertSEOutStock), RowInsert(db_, kInsertSEOutStockEntry),
                        RowInsert(db_, kInsertSEOrder), RowInsert(db_, kInsertSEOrderEntry)};
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
            WriteNotice(rows, id, is_return, bill_no, order_sequence);
        }
    }

    // What a notice shares with the sales order behind it.
    struct NoticeParty {
        int day;
        Partner partner;
        Money money;
        int employee;
        int biller;
        int sale_style;
        int settlement;
    };

    void WriteNotice(NoticeRows& rows, int id, bool is_return, const std::string& bill_no, int& order_sequence) {
        const int day = random_.Between(1, kLastHeaderDay);
        const Partner partner = PickPartner(kBranchCustomerBase, kOutsideCustomers);
        const Money money = PickMoney();
        const int status = status_deck_.Draw(random_);
        const int tran_status = tran_status_deck_.Draw(random_);
        const int employee = random_.Pick(kSalesStaff);
        const int biller = random_.Pick(kSalesBillers);
        const int sale_style = sale_style_deck_.Draw(random_) == 1 ? random_.Pick(kSaleStyles) : 0;
        const int settlement = settle_deck_.Draw(random_) == 1 ? random_.Pick(kSettlements).id : 0;
        const bool has_order = (is_return ? return_order_deck_ : delivery_order_deck_).Draw(random_) == 1;
        const NoticeParty party{day, partner, money, employee, biller, sale_style, settlement};

        // The sales order behind a notice carries the notice's own internal number: the
        // notice statement reaches the order's lines through the notice's FInterID and
        // its purchase-order number through FCnnInterID, and this way both find it.
        std::string order_no;
        bool from_customer_order = false;
        if (has_order) {
            order_no = BillNumber(kSalesOrderPrefix, options_.branch, ++order_sequence);
            from_customer_order = WriteSalesOrder(rows.order_header, id, order_no, party);
        }

        rows.header.Int(id).Text(bill_no).Int(is_return ? kReturnNoticeType : kDeliveryNoticeType)
            .Text(DateText(day)).Int(partner.id).Int(kSalesDept).Int(employee).Int(kSalesManager)
            .Int(biller);
        WriteCheck(rows.header, status, day, kSalesCheckerUser);
        rows.header.Int(money.currency).Text(RateText(money)).Ref(sale_style).Ref(settlement)
            .Int(has_order ? id : 0).Ref(partner.related_branch).Int(status).Card(tran_status)
            .Text(PickExplanation(is_return ? kReturnExplanations : kDeliveryExplanations)).Run();
        WriteNoticeLines(rows, id, has_order, order_no, from_customer_order, party);
    }

    // The sales order behind a notice; true when it came from a customer's purchase order.
    bool WriteSalesOrder(RowInsert& order_header, int id, const std::string& order_no, const NoticeParty& p) {
        const bool from_customer_order = customer_order_no_deck_.Draw(random_) == 1;
        std::optional<std::string> customer_order_no;
        if (from_customer_order) {
            customer_order_no = p.partner.related_branch != 0
                                    ? BillNumber(kPurchaseOrderPrefix, p.partner.related_branch,
                                                 random_.Between(1, 999))
                                    : kCustomerOrderPrefix + std::to_string(random_.Between(1000, 9999));
        }
        order_header.Int(id).Text(order_no).Int(kSalesOrderType)
            .Text(DateText(std::max(1, p.day - random_.Below(15)))).Int(p.partner.id).Int(kSalesDept)
            .Int(p.employee).Int(kSalesManager).Int(p.biller).Int(p.money.currency).Text(RateText(p.money))
            .Ref(p.sale_style).Ref(p.settlement).Ref(p.partner.related_branch).Text(customer_order_no)
            .Int(random_.Between(1, 2)).Null().Run();
        return from_customer_order;
    }

    void WriteNoticeLines(NoticeRows& rows, int id, bool has_order, const std::string& order_no,
                          bool from_customer_order, const NoticeParty& p) {
        const int line_count = random_.Between(1, options_.lines);
        int order_lines = 0;
        for (int entry_id = 1; entry_id <= line_count; ++entry_id) {
            const Line line = MakeLine(p.money);
            const bool drawn = has_order && drawn_line_deck_.Draw(random_) == 1;
            rows.entry.Int(id).Int(entry_id).Int(line.item).Int(line.unit).Text(line.aux_qty)
                .Text(line.qty).Text(line.aux_price).Text(line.price).Text(line.amount);
            if (drawn) {
                WriteOrderLine(rows.order_entry, id, ++order_lines, line, p.day, from_customer_order);
                rows.entry.Int(kSalesOrderType).Int(id).Int(order_lines).Text(order_no).Text(line.note).Run();
            } else {
                rows.entry.Int(0).Int(0).Int(0).Null().Text(line.note).Run();
            }
        }
        if (has_order && order_lines == 0) {
            // Nothing of the order is delivered yet; it still has a line.
            WriteOrderLine(rows.order_entry, id, 1, MakeLine(p.money), p.day, from_customer_order);
        }
    }

    // A sales-order line; when the order came from a customer's purchase order it records
    // that order's line number.
    void WriteOrderLine(RowInsert& order_entry, int order_id, int entry_id, const Line& line, int day,
                        bool from_customer_order) {
        order_entry.Int(order_id).Int(entry_id).Int(line.item).Int(line.unit).Text(line.aux_qty)
            .Text(line.qty).Text(line.aux_price).Text(line.price).Text(line.amount)
            .Int(from_customer_order ? random_.Between(1, options_.lines) : 0)
            .Text(DateText(day)).Text(line.note).Run();
    }

    // Checked bills (status 1 and up) record who checked them and when.
    void WriteCheck(RowInsert& header, int status, int day, int checker) {
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

    Database& db_;
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

void WriteSampleData(Database& db, const SampleOptions& options) { SampleWriter(db, options).Run(); }

}  // namespace orba::hostkit::sample

#include "hostkit/schema/erp_schema.h"

#include <fmt/format.h>

#include <string>

#include "hostkit/database.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;

const std::string_view kErpSchemaSql = R"sql(
-- The branches of the company group. Every branch database holds the same list, so a
-- branch finds another one by number and name.
CREATE TABLE t_SonCompany (
    FItemID         INTEGER PRIMARY KEY,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(255) NOT NULL
);
CREATE UNIQUE INDEX ix_t_SonCompany_FNumber ON t_SonCompany (FNumber);

-- System options by category and key. FValue is text with TEXT affinity; compared with an
-- INTEGER column (t_SonCompany.FItemID = (SELECT FValue ...)) SQLite converts the text to
-- a number first, so a branch id kept as '2' matches FItemID 2.
CREATE TABLE t_Systemprofile (
    FCategory       VARCHAR(30)   NOT NULL,
    FKey            VARCHAR(50)   NOT NULL,
    FValue          NVARCHAR(255),
    FDescription    NVARCHAR(255),
    PRIMARY KEY (FCategory, FKey)
);

CREATE TABLE t_Currency (
    FCurrencyID     INTEGER PRIMARY KEY,
    FNumber         VARCHAR(30)   NOT NULL,
    FName           NVARCHAR(80)  NOT NULL,
    FScale          INTEGER       NOT NULL DEFAULT 2,   -- decimals of an amount
    FExchangeRate   DECIMAL(19,6) NOT NULL DEFAULT 1    -- default rate to the home currency
);
CREATE UNIQUE INDEX ix_t_Currency_FNumber ON t_Currency (FNumber);

CREATE TABLE t_Department (
    FItemID         INTEGER PRIMARY KEY,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(255) NOT NULL
);
CREATE UNIQUE INDEX ix_t_Department_FNumber ON t_Department (FNumber);

CREATE TABLE t_Emp (
    FItemID         INTEGER PRIMARY KEY,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(255) NOT NULL,
    FDepartmentID   INTEGER
);
CREATE UNIQUE INDEX ix_t_Emp_FNumber ON t_Emp (FNumber);

-- Users of the client application; a bill's preparer and checker are users.
CREATE TABLE t_User (
    FUserID         INTEGER PRIMARY KEY,
    FName           NVARCHAR(80)  NOT NULL,
    FEmpID          INTEGER,
    FDescription    NVARCHAR(255)
);
CREATE UNIQUE INDEX ix_t_User_FName ON t_User (FName);

CREATE TABLE t_Supplier (
    FItemID         INTEGER PRIMARY KEY,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(255) NOT NULL
);
CREATE UNIQUE INDEX ix_t_Supplier_FNumber ON t_Supplier (FNumber);

-- Customers.
CREATE TABLE t_Organization (
    FItemID         INTEGER PRIMARY KEY,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(255) NOT NULL
);
CREATE UNIQUE INDEX ix_t_Organization_FNumber ON t_Organization (FNumber);

-- General master-data items by class; measure-unit groups live here.
CREATE TABLE t_Item (
    FItemID         INTEGER PRIMARY KEY,
    FItemClassID    INTEGER       NOT NULL,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(255) NOT NULL
);
CREATE UNIQUE INDEX ix_t_Item_Class_FNumber ON t_Item (FItemClassID, FNumber);

-- Measure units; a quantity in a unit times FCoefficient is the quantity in the group's
-- base unit (the one with FStandard 1).
CREATE TABLE t_MeasureUnit (
    FItemID         INTEGER PRIMARY KEY,
    FUnitGroupID    INTEGER        NOT NULL,
    FNumber         VARCHAR(80)    NOT NULL,
    FName           NVARCHAR(80)   NOT NULL,
    FCoefficient    DECIMAL(28,10) NOT NULL DEFAULT 1,
    FStandard       INTEGER        NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX ix_t_MeasureUnit_FNumber ON t_MeasureUnit (FNumber);
CREATE INDEX ix_t_MeasureUnit_FUnitGroupID ON t_MeasureUnit (FUnitGroupID);

-- Stock items: FUnitID is the base unit, FUnitGroupID the group of units it is traded in.
CREATE TABLE t_ICItem (
    FItemID         INTEGER PRIMARY KEY,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(255) NOT NULL,
    FModel          NVARCHAR(255),
    FUnitGroupID    INTEGER       NOT NULL,
    FUnitID         INTEGER       NOT NULL
);
CREATE UNIQUE INDEX ix_t_ICItem_FNumber ON t_ICItem (FNumber);

-- Small code lists by type: sale styles, purchase styles.
CREATE TABLE t_SubMessage (
    FInterID        INTEGER PRIMARY KEY,
    FTypeID         INTEGER       NOT NULL,
    FID             VARCHAR(50)   NOT NULL,
    FName           NVARCHAR(80)  NOT NULL
);
CREATE UNIQUE INDEX ix_t_SubMessage_Type_FID ON t_SubMessage (FTypeID, FID);

-- Settlement methods.
CREATE TABLE t_Settle (
    FItemID         INTEGER PRIMARY KEY,
    FNumber         VARCHAR(80)   NOT NULL,
    FName           NVARCHAR(80)  NOT NULL
);
CREATE UNIQUE INDEX ix_t_Settle_FNumber ON t_Settle (FNumber);

-- Purchase orders (FTranType 71). FRelateBrID names the group branch the order is placed
-- with; FTranStatus 0 or NULL means not yet transmitted to it, 1 transmitted. The manager
-- column is spelt FMangerID in this table.
CREATE TABLE POOrder (
    FInterID        INTEGER PRIMARY KEY,
    FBillNo         VARCHAR(50)   NOT NULL,
    FTranType       INTEGER       NOT NULL DEFAULT 71,
    FDate           DATETIME      NOT NULL,
    FSupplyID       INTEGER       NOT NULL,
    FDeptID         INTEGER       NOT NULL,
    FEmpID          INTEGER       NOT NULL,
    FMangerID       INTEGER       NOT NULL,
    FBillerID       INTEGER       NOT NULL,
    FCheckerID      INTEGER,
    FCheckDate      DATETIME,
    FCurrencyID     INTEGER       NOT NULL,
    FExchangeRate   DECIMAL(19,6),
    FPOStyle        INTEGER,
    FRelateBrID     INTEGER,
    FStatus         INTEGER       NOT NULL DEFAULT 0,
    FTranStatus     INTEGER       DEFAULT 0,
    FOrderAffirm    INTEGER       NOT NULL DEFAULT 0,
    FCancellation   INTEGER       NOT NULL DEFAULT 0,
    FExplanation    NVARCHAR(255)
);
CREATE UNIQUE INDEX ix_POOrder_FBillNo ON POOrder (FBillNo);
CREATE INDEX ix_POOrder_Transmit ON POOrder (FRelateBrID, FTranStatus, FStatus);
CREATE INDEX ix_POOrder_FDate ON POOrder (FDate);
CREATE INDEX ix_POOrder_FSupplyID ON POOrder (FSupplyID);

-- Purchase order lines. FCess is the tax rate and FTaxRate the discount rate, both in
-- percent; FAuxQty/FAuxPrice are in the line's unit, FQty/FPrice in the base unit; FDate is
-- the delivery date.
CREATE TABLE POOrderEntry (
    FInterID        INTEGER        NOT NULL,
    FEntryID        INTEGER        NOT NULL,
    FItemID         INTEGER        NOT NULL,
    FUnitID         INTEGER        NOT NULL,
    FAuxQty         DECIMAL(28,10) DEFAULT 0,
    FQty            DECIMAL(28,10) DEFAULT 0,
    FAuxPrice       DECIMAL(28,10) DEFAULT 0,
    FPrice          DECIMAL(28,10) DEFAULT 0,
    FCess           DECIMAL(28,10) DEFAULT 0,
    FTaxRate        DECIMAL(28,10) DEFAULT 0,
    FAmount         DECIMAL(20,2)  DEFAULT 0,
    FDate           DATETIME,
    FNote           NVARCHAR(255),
    PRIMARY KEY (FInterID, FEntryID)
);
CREATE INDEX ix_POOrderEntry_FItemID ON POOrderEntry (FItemID);

-- Sales orders (FTranType 81). FPOOrdBillNo is the customer's purchase-order number.
CREATE TABLE SEOrder (
    FInterID        INTEGER PRIMARY KEY,
    FBillNo         VARCHAR(50)   NOT NULL,
    FTranType       INTEGER       NOT NULL DEFAULT 81,
    FDate           DATETIME      NOT NULL,
    FCustID         INTEGER       NOT NULL,
    FDeptID         INTEGER       NOT NULL,
    FEmpID          INTEGER       NOT NULL,
    FManagerID      INTEGER       NOT NULL,
    FBillerID       INTEGER       NOT NULL,
    FCurrencyID     INTEGER       NOT NULL,
    FExchangeRate   DECIMAL(19,6),
    FSalType        INTEGER,
    FSettleID       INTEGER,
    FRelateBrID     INTEGER,
    FPOOrdBillNo    VARCHAR(50),
    FStatus         INTEGER       NOT NULL DEFAULT 0,
    FCancellation   INTEGER       NOT NULL DEFAULT 0,
    FExplanation    NVARCHAR(255)
);
CREATE UNIQUE INDEX ix_SEOrder_FBillNo ON SEOrder (FBillNo);
CREATE INDEX ix_SEOrder_FPOOrdBillNo ON SEOrder (FPOOrdBillNo);
CREATE INDEX ix_SEOrder_FCustID ON SEOrder (FCustID);

-- Sales order lines. FSourceEntryID is the line of the customer's purchase order.
CREATE TABLE SEOrderEntry (
    FInterID        INTEGER        NOT NULL,
    FEntryID        INTEGER        NOT NULL,
    FItemID         INTEGER        NOT NULL,
    FUnitID         INTEGER        NOT NULL,
    FAuxQty         DECIMAL(28,10) DEFAULT 0,
    FQty            DECIMAL(28,10) DEFAULT 0,
    FAuxPrice       DECIMAL(28,10) DEFAULT 0,
    FPrice          DECIMAL(28,10) DEFAULT 0,
    FAmount         DECIMAL(20,2)  DEFAULT 0,
    FSourceEntryID  INTEGER        DEFAULT 0,
    FDate           DATETIME,
    FNote           NVARCHAR(255),
    PRIMARY KEY (FInterID, FEntryID)
);
CREATE INDEX ix_SEOrderEntry_FItemID ON SEOrderEntry (FItemID);

-- Delivery notices (FTranType 83) and return notices (FTranType 82). FCnnInterID is the
-- sales order the notice was drawn from (0 when none). FRelateBrID and FTranStatus as in
-- POOrder; the manager column is spelt FManagerID here.
CREATE TABLE SEOutStock (
    FInterID        INTEGER PRIMARY KEY,
    FBillNo         VARCHAR(50)   NOT NULL,
    FTranType       INTEGER       NOT NULL,
    FDate           DATETIME      NOT NULL,
    FCustID         INTEGER       NOT NULL,
    FDeptID         INTEGER       NOT NULL,
    FEmpID          INTEGER       NOT NULL,
    FManagerID      INTEGER       NOT NULL,
    FBillerID       INTEGER       NOT NULL,
    FCheckerID      INTEGER,
    FCheckDate      DATETIME,
    FCurrencyID     INTEGER       NOT NULL,
    FExchangeRate   DECIMAL(19,6),
    FSalType        INTEGER,
    FSettleID       INTEGER,
    FCnnInterID     INTEGER       DEFAULT 0,
    FRelateBrID     INTEGER,
    FStatus         INTEGER       NOT NULL DEFAULT 0,
    FTranStatus     INTEGER       DEFAULT 0,
    FCancellation   INTEGER       NOT NULL DEFAULT 0,
    FExplanation    NVARCHAR(255)
);
CREATE UNIQUE INDEX ix_SEOutStock_FBillNo ON SEOutStock (FBillNo);
CREATE INDEX ix_SEOutStock_Transmit ON SEOutStock (FRelateBrID, FTranStatus, FStatus);
CREATE INDEX ix_SEOutStock_Type_FDate ON SEOutStock (FTranType, FDate);
CREATE INDEX ix_SEOutStock_FCnnInterID ON SEOutStock (FCnnInterID);
CREATE INDEX ix_SEOutStock_FCustID ON SEOutStock (FCustID);

-- Notice lines. FSourceTranType/FSourceInterID/FSourceEntryID/FSourceBillNo name the
-- sales-order line a line was drawn from (0 and NULL when it was not).
CREATE TABLE SEOutStockEntry (
    FInterID        INTEGER        NOT NULL,
    FEntryID        INTEGER        NOT NULL,
    FItemID         INTEGER        NOT NULL,
    FUnitID         INTEGER        NOT NULL,
    FAuxQty         DECIMAL(28,10) DEFAULT 0,
    FQty            DECIMAL(28,10) DEFAULT 0,
    FAuxPrice       DECIMAL(28,10) DEFAULT 0,
    FPrice          DECIMAL(28,10) DEFAULT 0,
    FAmount         DECIMAL(20,2)  DEFAULT 0,
    FSourceTranType INTEGER        DEFAULT 0,
    FSourceInterID  INTEGER        DEFAULT 0,
    FSourceEntryID  INTEGER        DEFAULT 0,
    FSourceBillNo   VARCHAR(50),
    FNote           NVARCHAR(255),
    PRIMARY KEY (FInterID, FEntryID)
);
CREATE INDEX ix_SEOutStockEntry_FItemID ON SEOutStockEntry (FItemID);
CREATE INDEX ix_SEOutStockEntry_Source ON SEOutStockEntry (FSourceInterID, FSourceEntryID);
)sql";

const std::pair<std::string_view, std::string_view> kErpServerTypes[2] = {{"DATETIME", "TIMESTAMP(0)"},
                                                                          {"DECIMAL", "NUMERIC"}};

bool HasErpSchema(Database& db) { return db.HasTable("t_SonCompany"); }

void CreateErpSchema(Database& db) {
    // Texts compare and decimals are bounded as on the server.
    const std::string script = db.SchemaPrologue() + db.TableScript(kErpSchemaSql, kErpServerTypes);
    try {
        AsOneUnit(db, [&] { db.Exec(script); });
    } catch (const Error& e) {
        throw Error(e.Number(), "Creating the ERP schema: " + e.Description());
    }
}

const NameSpellings& ErpSchemaNames() {
    static const NameSpellings names(kErpSchemaSql);
    return names;
}

}  // namespace orba::hostkit

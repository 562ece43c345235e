#include "ui/browse/frm_browse_base.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <fmt/format.h>

#include <memory>

#include "data/bill_records.h"
#include "facade/browse_entry.h"
#include "host/login_props.h"
#include "host/modpub.h"
#include "host/user_messages.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/ui_services.h"
#include "ui/browse/bill_kinds.h"
#include "ui/browse/browse_tools.h"
#include "ui/list/frm_list.h"


namespace orba::ui {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Object;
using platform::Ref;
using platform::Variant;
namespace key = data::key;

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kCheckedRole = Qt::UserRole + 1;
constexpr int16_t kShowForModeExt = 2;
constexpr int16_t kTheSaleMode = 0;
constexpr int16_t kShowMode = 2;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

size_t Index(int kind) { return static_cast<size_t>(kind); }

// Rows and fields of objects that are reached by name, as every outside object is.
int32_t UpperBound(const Ref<Object>& vector) { return platform::GetProperty(vector, "UpperBound").ToLong(); }
Ref<Object> ItemAt(const Ref<Object>& vector, int32_t i) {
    return platform::GetProperty(vector, "Item", {Variant(i)}).ToObject();
}
Variant RecordValue(const Ref<Object>& record, std::string_view name) {
    return platform::GetProperty(record, "Value", {Variant(name)});
}
Variant FieldValue(const Ref<Object>& record_set, std::string_view name) {
    return platform::GetProperty(record_set, "Fields", {Variant(name)}).Resolved();
}
// A Null joins a row's text as nothing.
std::string CellOf(const Variant& v) { return v.IsNull() ? std::string() : v.ToText(); }
std::string DateCellOf(const Variant& v) {
    if (v.IsNull()) return {};
    const platform::Date d = v.ToDate();
    return fmt::format("{:04}-{:02}-{:02}", d.Year(), d.Month(), d.Day());
}

int ShiftBits(Qt::KeyboardModifiers m) {
    int shift = 0;
    if (m & Qt::ShiftModifier) shift |= kShiftMask;
    if (m & Qt::ControlModifier) shift |= kCtrlMask;
    if (m & Qt::AltModifier) shift |= kAltMask;
    return shift;
}

}  // namespace

FrmBrowseBase::FrmBrowseBase(QWidget* parent) : QDialog(parent) {
    BuildControls();
    qApp->installEventFilter(this);
}

FrmBrowseBase::~FrmBrowseBase() {
    if (qApp) qApp->removeEventFilter(this);
}

void FrmBrowseBase::BuildControls() {
    setObjectName("FrmBrowseBase");
    setModal(true);
    setSizeGripEnabled(true);
    setFont(QFont(Q("宋体"), 9));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    bar_ = new ToolBarControl(this);
    layout->addWidget(bar_);
    client_ = new QWidget(this);
    client_->setObjectName("Client");
    layout->addWidget(client_, 1);
    client_->installEventFilter(this);

    for (size_t i = 0; i < line3_.size(); ++i) {
        line3_[i] = new QFrame(client_);
        line3_[i]->setObjectName(QString("Line3%1").arg(i));
        line3_[i]->setAutoFillBackground(true);
        line3_[i]->setBackgroundRole(i == 0 ? QPalette::Mid : QPalette::Light);
    }
    auto title = [this](std::string_view name, std::string_view caption) {
        auto* label = new QLabel(Q(caption), client_);
        label->setObjectName(Q(name));
        label->setFrameStyle(QFrame::Panel | QFrame::Raised);
        label->setAlignment(Qt::AlignCenter);
        return label;
    };
    title_class_ = title("SSPTitleClass", kTreeTitle);
    title_item_ = title("SSPTitleItem", kTabTitle);

    tvw_base_ = new QTreeWidget(client_);
    tvw_base_->setObjectName("tvwBase");
    tvw_base_->setHeaderHidden(true);
    tvw_base_->setRootIsDecorated(false);
    // Image 1 of the image list for a node, image 2 while it is selected.
    const QStyle* s = style();
    node_icon_.addPixmap(s->standardIcon(QStyle::SP_DirClosedIcon).pixmap(16), QIcon::Normal);
    node_icon_.addPixmap(s->standardIcon(QStyle::SP_DirOpenIcon).pixmap(16), QIcon::Selected);
    connect(tvw_base_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* node, int) {
        if (filling_tree_) return;
        const bool checked = node->checkState(0) == Qt::Checked;
        if (node->data(0, kCheckedRole).toBool() == checked) return;
        node->setData(0, kCheckedRole, checked);
        try {
            OnNodeCheck(node);
        } catch (const std::exception& e) {
            host::ReportFailure(kListFailed, e);
        }
    });

    img_split_ = new QWidget(client_);
    img_split_->setObjectName("imgSplitVer");
    img_split_->setCursor(Qt::SplitHCursor);
    img_split_->installEventFilter(this);
    for (size_t i = 0; i < line1_.size(); ++i) {
        line1_[i] = new QFrame(client_);
        line1_[i]->setObjectName(QString("Line1%1").arg(i));
        line1_[i]->setAutoFillBackground(true);
        line1_[i]->setBackgroundRole(i == 0 ? QPalette::Mid : QPalette::Light);
    }

    tab_strip_ = new TabStripControl(client_);
    connect(tab_strip_, &TabStripControl::Clicked, this, [this] { OnTabClick(); });
    for (size_t i = 0; i < frames_.size(); ++i) {
        frames_[i] = new QFrame(client_);
        frames_[i]->setObjectName(QString("picFrame%1").arg(i));
        grids_[i] = new BillGrid(frames_[i]);
        grids_[i]->setObjectName(QString("ldgBill%1").arg(i));
        const int kind = static_cast<int>(i);
        connect(grids_[i], &BillGrid::Activated, this, [this, kind] {
            try {
                OnGridActivate(kind);
            } catch (const std::exception& e) {
                host::ReportFailure(kListFailed, e);
            }
        });
    }

    pic_split_ = new QFrame(client_);
    pic_split_->setObjectName("picSplitVer");
    pic_split_->setAutoFillBackground(true);
    pic_split_->setBackgroundRole(QPalette::Dark);
    pic_split_->hide();

    status_bar_ = new QStatusBar(client_);
    status_bar_->setObjectName("sbStatusBar");
    status_bar_->setSizeGripEnabled(false);
    for (const char* panel : {"Status", "Passtime", "wait"}) {
        auto* label = new QLabel(status_bar_);
        label->setObjectName(panel);
        status_bar_->addWidget(label, panel == std::string_view("Status") ? 1 : 0);
    }

    connect(bar_, &ToolBarControl::ToolClick, this, [this](const QString& name) {
        try {
            OnToolClick(name.toStdString());
        } catch (const std::exception& e) {
            host::ReportFailure(kListFailed, e);
        }
    });

    const int bar_height = bar_->sizeHint().height();
    resize(ToPixels(geometry_.client_width, DpiX()), ToPixels(geometry_.client_height, DpiY()) + bar_height);
    client_->resize(ToPixels(geometry_.client_width, DpiX()), ToPixels(geometry_.client_height, DpiY()));
    ArrangeControls(geometry_.client_width, geometry_.client_height, kArrangeWhole);
}

double FrmBrowseBase::DpiX() const { return logicalDpiX() > 0 ? logicalDpiX() : 96; }
double FrmBrowseBase::DpiY() const { return logicalDpiY() > 0 ? logicalDpiY() : 96; }

// ---- Load, show, unload -------------------------------------------------------------

void FrmBrowseBase::Load() {
    if (loaded_) return;
    InitWindow();
    loaded_ = true;
}

void FrmBrowseBase::ShowModal() {
    Load();
    exec();
}

void FrmBrowseBase::Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    if (isVisible()) done(QDialog::Rejected);
    data_.Reset();
    list_field_vect_.Reset();
}

void FrmBrowseBase::InitWindow() {
    data_ = MakeRef<data::DataTrans>();
    list_field_vect_ = GetListRSFieldVect();
    if (facade::BrowseMode() != 0) {
        bar_->SetToolEnabled(band::kFile, tool::kFileSend, false);
        bar_->SetToolEnabled(band::kToolBar, tool::kFileSend, false);
        bar_->SetToolEnabled(band::kFile, tool::kFileFilter, false);
        bar_->SetToolEnabled(band::kToolBar, tool::kFileFilter, false);
        setWindowTitle(Q(kDownloadCaption));
    } else {
        bar_->SetToolEnabled(band::kFile, tool::kFileDownLoad, false);
        bar_->SetToolEnabled(band::kToolBar, tool::kFileDownLoad, false);
        setWindowTitle(Q(kSendCaption));
    }
    for (size_t i = 0; i < grids_.size(); ++i) {
        frames_[i]->hide();
        BillGrid* grid = grids_[i];
        grid->SetMaxCols(6);
        grid->SetMaxRows(1);
        grid->SetFixedRows(1);
        grid->SetSheetColor(0xFFFFFF);
        // Transaction type and internal number are for the program, not for the user.
        grid->SetProgramColumn(1, true);
        grid->SetProgramColumn(2, true);
        grid->SetRowText(1, kBillKinds[i].header);
    }
    tab_strip_->Clear();
    tab_strip_->hide();
    SetTreeView();
}

Ref<VariantVector> FrmBrowseBase::GetListRSFieldVect() const {
    auto fields = MakeRef<VariantVector>();
    for (auto [primary, name] : {std::pair<int16_t, const char*>{1, "FInterID"}, {3, "FTranType"}}) {
        auto field = MakeRef<VariantDictionary>();
        field->Let("FISPrimary", Variant(primary));
        field->Let("FColName", Variant(name));
        fields->Add(Variant(field));
    }
    return fields;
}

bool FrmBrowseBase::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) platform::Ui()->SetMousePointer(platform::MousePointer::kDefault);
    return QDialog::event(event);
}

// ---- Layout ---------------------------------------------------------------------------

void FrmBrowseBase::ArrangeControls(double x, double y, int mode) {
    geometry_.status_visible = !status_bar_->isHidden();
    geometry_.status_height = ToTwips(status_bar_->sizeHint().height(), DpiY());
    if (mode == kArrangeWhole) {
        ArrangeWhole(geometry_, x, y);
    } else if (mode == kArrangeColumns) {
        geometry_.client_width = ToTwips(client_->width(), DpiX());
        geometry_.client_height = ToTwips(client_->height(), DpiY());
        ArrangeColumns(geometry_, x);
    } else {
        return;
    }
    ApplyGeometry();
    PlaceBillFrames();
}

void FrmBrowseBase::ApplyGeometry() {
    const double dx = DpiX(), dy = DpiY();
    auto place = [dx, dy](QWidget* w, const TwipsRect& r) {
        w->setGeometry(ToPixels(r.left, dx), ToPixels(r.top, dy), ToPixels(r.width, dx),
                       ToPixels(r.height, dy));
    };
    place(tvw_base_, geometry_.tvwBase);
    place(img_split_, geometry_.imgSplitVer);
    place(tab_strip_, geometry_.TabStrip);
    place(title_class_, geometry_.SSPTitleClass);
    place(title_item_, geometry_.SSPTitleItem);
    place(pic_split_, geometry_.picSplitVer);
    pic_split_->setVisible(geometry_.picSplitVer_visible);
    if (geometry_.picSplitVer_visible) pic_split_->raise();
    for (size_t i = 0; i < line1_.size(); ++i) {
        const TwipsLine& l = geometry_.Line1[i];
        line1_[i]->setGeometry(ToPixels(l.x1, dx), ToPixels(l.y1, dy), 1,
                               std::max(0, ToPixels(l.y2 - l.y1, dy)));
    }
    for (size_t i = 0; i < line3_.size(); ++i) {
        const TwipsLine& l = geometry_.Line3[i];
        line3_[i]->setGeometry(ToPixels(l.x1, dx), ToPixels(l.y1, dy),
                               std::max(0, ToPixels(l.x2 - l.x1, dx)), 1);
    }
    const int status_height = status_bar_->sizeHint().height();
    status_bar_->setGeometry(0, client_->height() - status_height, client_->width(), status_height);
}

void FrmBrowseBase::PlaceBillFrames() {
    const double dx = DpiX(), dy = DpiY();
    const TwipsRect frame = BillFrameRect(geometry_);
    const TwipsRect grid = BillGridRect(frame);
    for (size_t i = 0; i < frames_.size(); ++i) {
        frames_[i]->setGeometry(ToPixels(frame.left, dx), ToPixels(frame.top, dy),
                                ToPixels(frame.width, dx), ToPixels(frame.height, dy));
        grids_[i]->setGeometry(0, 0, ToPixels(grid.width, dx), ToPixels(grid.height, dy));
    }
}

void FrmBrowseBase::SplitterPress() {
    PressSplitter(geometry_);
    dragging_ = true;
    ApplyGeometry();
}

void FrmBrowseBase::SplitterMove(int mouse_x_pixels) {
    if (!dragging_) return;
    geometry_.picSplitVer.left = SplitterBarLeft(geometry_, ToTwips(mouse_x_pixels, DpiX()),
                                                 ToTwips(frameGeometry().width(), DpiX()));
    ApplyGeometry();
}

void FrmBrowseBase::SplitterRelease() {
    // Only a release that ends a press on the handle moves the columns; without a press
    // the drag bar has no place of its own.
    if (!dragging_) return;
    geometry_.client_width = ToTwips(client_->width(), DpiX());
    geometry_.client_height = ToTwips(client_->height(), DpiY());
    geometry_.status_visible = !status_bar_->isHidden();
    ReleaseSplitter(geometry_);
    dragging_ = false;
    ApplyGeometry();
    PlaceBillFrames();
}

bool FrmBrowseBase::RouteKeyDown(int& key_code, int& shift) {
    if (!bar_->OnKeyDown(key_code, shift)) return false;
    key_code = 0;
    shift = 0;
    return true;
}

bool FrmBrowseBase::RouteKeyUp(int& key_code, int& shift) {
    if (!bar_->OnKeyUp(key_code, shift)) return false;
    key_code = 0;
    shift = 0;
    return true;
}

bool FrmBrowseBase::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
            if (watched == client_) {
                ArrangeControls(ToTwips(client_->width(), DpiX()), ToTwips(client_->height(), DpiY()),
                                kArrangeWhole);
            }
            break;
        case QEvent::MouseButtonPress:
            if (watched == img_split_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                SplitterPress();
                return true;
            }
            break;
        case QEvent::MouseMove:
            if (watched == img_split_ && dragging_) {
                SplitterMove(static_cast<int>(static_cast<QMouseEvent*>(event)->position().x()));
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (watched == img_split_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                SplitterRelease();
                return true;
            }
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (!widget || widget->window() != this) break;
            auto* key_event = static_cast<QKeyEvent*>(event);
            int key_code = key_event->key();
            int shift = ShiftBits(key_event->modifiers());
            const bool handled = event->type() == QEvent::KeyPress ? RouteKeyDown(key_code, shift)
                                                                   : RouteKeyUp(key_code, shift);
            if (handled) return true;
            break;
        }
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Tree and tabs --------------------------------------------------------------------

void FrmBrowseBase::SetTreeView() {
    filling_tree_ = true;
    tvw_base_->clear();
    const int32_t mode = facade::BrowseMode();
    if (mode == 0 || mode == 1) {
        for (const BillKind& k : kBillKinds) {
            const std::string_view node_key = mode == 0 ? k.send_key : k.down_key;
            const std::string_view text = mode == 0 ? k.send_text : k.down_text;
            auto* node = new QTreeWidgetItem(tvw_base_, QStringList(Q(text)));
            node->setData(0, kKeyRole, Q(node_key));
            node->setData(0, kCheckedRole, false);
            node->setIcon(0, node_icon_);
            node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            node->setCheckState(0, Qt::Unchecked);
        }
    }
    filling_tree_ = false;
}

QTreeWidgetItem* FrmBrowseBase::Node(std::string_view node_key) const {
    for (int i = 0; i < tvw_base_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = tvw_base_->topLevelItem(i);
        if (node->data(0, kKeyRole).toString() == Q(node_key)) return node;
    }
    return nullptr;
}

bool FrmBrowseBase::NodeChecked(std::string_view node_key) const {
    const QTreeWidgetItem* node = Node(node_key);
    return node && node->checkState(0) == Qt::Checked;
}

void FrmBrowseBase::SetNodeChecked(std::string_view node_key, bool checked) {
    QTreeWidgetItem* node = Node(node_key);
    if (!node) throw Error(ErrorCode::kItemNotFound, fmt::format("The tree has no node '{}'", node_key));
    node->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void FrmBrowseBase::OnNodeCheck(QTreeWidgetItem* node) {
    // In download mode the check boxes only record what to download.
    if (facade::BrowseMode() != 0) return;
    const std::string node_key = node->data(0, kKeyRole).toString().toStdString();
    if (KindOfKey(node_key) >= 0) {
        if (node->checkState(0) == Qt::Checked) {
            tab_strip_->AddTab(node_key, TabCaption(node_key));
        } else {
            tab_strip_->RemoveTab(node_key);
        }
    }
    if (tab_strip_->Count() > 0) {
        tab_strip_->show();
        ShowBillFrame(tab_strip_->SelectedKey());
    } else {
        tab_strip_->hide();
        for (QFrame* frame : frames_) frame->hide();
    }
}

void FrmBrowseBase::ShowBillFrame(std::string_view node_key) {
    const int kind = KindOfKey(node_key);
    if (kind < 0) return;
    for (size_t i = 0; i < frames_.size(); ++i) frames_[i]->setVisible(static_cast<int>(i) == kind);
}

void FrmBrowseBase::OnTabClick() { ShowBillFrame(tab_strip_->SelectedKey()); }

// ---- Commands -------------------------------------------------------------------------

void FrmBrowseBase::OnToolClick(std::string_view name) {
    if (name == tool::kFileFilter) {
        if (facade::BrowseMode() != 0) return;
        if (tab_strip_->isHidden()) {
            platform::ShowInfoMessage(kNoTypeToFilter, host::kMessageTitle);
            return;
        }
        try {
            SelectBills(tab_strip_->SelectedKey());
        } catch (const std::exception& e) {
            host::ReportFailure(kListFailed, e);
        }
    } else if (name == tool::kFileDownLoad) {
        bool any = false;
        for (const BillKind& k : kBillKinds) any = NodeChecked(k.down_key) || any;
        if (!any) {
            platform::ShowInfoMessage(kNoTypeToDownload, host::kMessageTitle);
            return;
        }
        Finish(GetDownBillVect());
    } else if (name == tool::kFileSend) {
        for (size_t i = 0; i < kBillKinds.size(); ++i) {
            if (grids_[i]->MaxRows() == grids_[i]->FixedRows() && NodeChecked(kBillKinds[i].send_key)) {
                platform::ShowInfoMessage(kBillKinds[i].send_missing, host::kMessageTitle);
                return;
            }
        }
        Finish(GetSendBillVect());
    } else if (name == tool::kFileExit) {
        facade::SetSelectionResult({});
        done(QDialog::Rejected);
    }
}

void FrmBrowseBase::Finish(Ref<VariantVector> result) {
    facade::SetSelectionResult(result);
    if (result) done(QDialog::Accepted);
}

// ---- Bill lists -----------------------------------------------------------------------

void FrmBrowseBase::SelectBills(std::string_view tab_key) {
    const ListLogin login = CutListLogin(host::GetPropsString());
    const std::string local_cnn = host::GetLocalCnn();
    const int kind = KindOfKey(tab_key);
    if (kind < 0 || tab_key != kBillKinds[Index(kind)].send_key) {
        throw Error(ErrorCode::kInvalidProcedureCall, fmt::format("'{}' is not a bill type to send", tab_key));
    }
    const BillKind& k = kBillKinds[Index(kind)];
    FrmList dialog(this);
    dialog.BaseInfo(BaseInfoText(login));
    dialog.ListID(k.list_id);
    dialog.TranType(k.tran_type);
    dialog.ListShowStatus(2);
    dialog.Filter(std::string(k.filter));
    dialog.LocalCnn(local_cnn);
    dialog.SystemName(std::string(k.list_system_name));
    dialog.MultiSelect(true);
    dialog.CanSelectMultiRow(true);
    try {
        dialog.InitData();
        dialog.ShowModal();
        if (dialog.OK()) FillBillGrid(dialog.Selected());
    } catch (...) {
        dialog.Unload();
        throw;
    }
    dialog.Unload();
}

void FrmBrowseBase::FillBillGrid(const Ref<Object>& selection) {
    BillGrid* grid = nullptr;
    for (size_t i = 0; i < frames_.size() && !grid; ++i) {
        if (!frames_[i]->isHidden()) grid = grids_[i];
    }
    if (!grid) throw Error(ErrorCode::kInvalidProcedureCall, "No bill list is shown to take the chosen bills");
    grid->SetMaxRows(1);
    int32_t last_id = 0;
    const int32_t upper = UpperBound(selection);
    for (int32_t i = 1; i <= upper; ++i) {
        const Ref<Object> record = ItemAt(selection, i);
        const Variant id = RecordValue(record, "FInterID");
        // Records of one bill that follow one another (one per line) give one row.
        if (id.ToLong() == last_id) continue;
        last_id = id.ToLong();
        const Ref<Object> info = data_->GetBillInfo(RecordValue(record, "FTranType").ToLong(), last_id);
        const std::string row = GridRowText({CellOf(FieldValue(info, "FTranType")), std::to_string(last_id),
                                             CellOf(FieldValue(info, "FBillNo")), DateCellOf(FieldValue(info, "FDate")),
                                             CellOf(FieldValue(info, "FRelateBrName")),
                                             CellOf(FieldValue(info, "FCompanyName"))});
        grid->SetMaxRows(grid->MaxRows() + 1);
        grid->SetRowText(grid->MaxRows(), row);
    }
    grid->resizeColumnsToContents();
}

Ref<VariantVector> FrmBrowseBase::CollectBills(int kind) {
    BillGrid* grid = grids_.at(Index(kind));
    std::string ids;
    for (int32_t row = grid->FixedRows() + 1; row <= grid->MaxRows(); ++row) ids += grid->CellText(row, 2) + ",";
    if (ids.empty()) return {};
    ids.pop_back();
    switch (kind) {
        case 0: return data_->GetPOOrdVect(ids, false, {});
        case 1: return data_->GetSEOutVect(ids, false, {});
        default: return data_->GetSEInVect(ids, false, {});
    }
}

Ref<VariantVector> FrmBrowseBase::GetPOOrdBills() { return CollectBills(0); }
Ref<VariantVector> FrmBrowseBase::GetSEOutBills() { return CollectBills(1); }
Ref<VariantVector> FrmBrowseBase::GetSEInBills() { return CollectBills(2); }

Ref<platform::RecordSet> FrmBrowseBase::GetListRS(int16_t index) const {
    const BillGrid* grid = grids_.at(static_cast<size_t>(index));
    auto rs = MakeRef<platform::RecordSet>();
    rs->AppendField("FInterID", platform::FieldType::kInteger, 0, -1);
    rs->AppendField("FTranType", platform::FieldType::kInteger, 0, -1);
    rs->Open();
    for (int32_t row = grid->FixedRows() + 1; row <= grid->MaxRows(); ++row) {
        rs->AddNew();
        rs->SetValue("FInterID", Variant(grid->CellText(row, 2)));
        rs->SetValue("FTranType", Variant(grid->CellText(row, 1)));
        rs->Update();
    }
    if (rs->RecordCount() > 0) {
        rs->MoveFirst();
        rs->Move(grid->SelectionRow() - grid->FixedRows() - 1);
    }
    return rs;
}

// ---- Sending, downloading, viewing ---------------------------------------------------

Ref<VariantVector> FrmBrowseBase::GetSendBillVect() {
    try {
        auto result = MakeRef<VariantVector>();
        for (size_t i = 0; i < kBillKinds.size(); ++i) {
            const BillKind& k = kBillKinds[i];
            if (grids_[i]->MaxRows() <= grids_[i]->FixedRows() || !NodeChecked(k.send_key)) continue;
            auto package = MakeRef<VariantDictionary>();
            package->Let(key::kBillType, Variant(k.bill_type));
            package->Let(key::kBillName, Variant(k.bill_name));
            package->Set(key::kBillsData, CollectBills(static_cast<int>(i)));
            result->Add(Variant(package));
        }
        return result;
    } catch (const std::exception& e) {
        host::ReportFailure(kReadFailed, e);
        return {};
    }
}

Ref<VariantVector> FrmBrowseBase::GetDownBillVect() {
    try {
        auto result = MakeRef<VariantVector>();
        for (const BillKind& k : kBillKinds) {
            if (!NodeChecked(k.down_key)) continue;
            auto package = MakeRef<VariantDictionary>();
            package->Let(key::kBillType, Variant(k.bill_type));
            package->Let(key::kBillName, Variant(k.bill_name));
            package->Set(key::kBillsData, Ref<Object>());
            result->Add(Variant(package));
        }
        return result;
    } catch (const std::exception& e) {
        host::ReportFailure(kReadFailed, e);
        return {};
    }
}

void FrmBrowseBase::OnGridActivate(int index) {
    if (grids_.at(Index(index))->ActivationRow() > 1) ViewBills(static_cast<int16_t>(index));
}

void FrmBrowseBase::ViewBills(int16_t index) {
    Ref<platform::RecordSet> rs = GetListRS(index);
    const BillKind& k = kBillKinds.at(static_cast<size_t>(index));
    OpenBills(rs, list_field_vect_, kShowForModeExt, kTheSaleMode, static_cast<int16_t>(k.tran_type), k.show_code,
              kShowMode, k.viewer_system_name);
}

void FrmBrowseBase::OpenBills(const Ref<Object>& list_rs, const Ref<Object>& field_vect, int16_t show_for_mode_ext,
                              int16_t the_sale_mode, int16_t tran_type, int16_t show_code, int16_t show_mode,
                              std::string_view system_name) {
    auto ui = platform::Ui();
    ui->SetMousePointer(platform::MousePointer::kHourglass);
    try {
        host::ParseProps(host::GetPropsString());
        if (show_mode != 0 && platform::GetProperty(list_rs, "RecordCount").ToLong() < 1) {
            ui->SetMousePointer(platform::MousePointer::kDefault);
            return;
        }
        Ref<Object> viewer = platform::CreateObject(kViewerProgId);
        platform::LetProperty(viewer, "LocalCnn", {}, Variant(host::GetLocalCnn()));
        platform::SetProperty(viewer, "ListRecordset", {}, list_rs);
        platform::LetProperty(viewer, "NewBillTransType", {}, Variant(std::to_string(tran_type)));
        platform::LetProperty(viewer, "SystemName", {}, Variant(system_name));
        platform::SetProperty(viewer, "ListRSFieldVect", {}, field_vect);
        platform::LetProperty(viewer, "ShowForModeExt", {}, Variant(show_for_mode_ext));
        platform::Call(viewer, "SetOpt", {Variant(host::GetUserID()), Variant(host::GetUserName())});
        platform::LetProperty(viewer, "TheSaleMode", {}, Variant(the_sale_mode));
        std::vector<Variant> show_args{Variant(show_code), Variant(show_mode)};
        platform::CallByName(viewer, "Show", platform::CallKind::kMethod, show_args);
    } catch (const std::exception& e) {
        const std::string description = host::FailureDescription(e);
        try {
            host::ShowAssistantNote(description);
        } catch (const std::exception&) {
            // Without a help assistant the user still learns why nothing was shown.
            platform::ShowInfoMessage(description, host::kMessageTitle);
        }
    }
    ui->SetMousePointer(platform::MousePointer::kDefault);
}

// ---- Entry from the facade -----------------------------------------------------------

void ShowBrowseWindow() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        throw Error(ErrorCode::kCannotCreateObject,
                    "The browse window needs a window application, and this process has none");
    }
    auto window = std::make_unique<FrmBrowseBase>(QApplication::activeWindow());
    window->Load();
    window->ShowModal();
    window->Unload();
}

}  // namespace orba::ui

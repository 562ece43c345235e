#include "ui/browse/frm_browse_base.h"

#include <QApplication>
#include <QStyle>
#include <QVBoxLayout>

#include <memory>

#include "facade/browse_entry.h"
#include "host/user_messages.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"
#include "platform/ui_services.h"
#include "ui/browse/bill_kinds.h"
#include "ui/browse/browse_tools.h"
#include "ui/qt_text.h"

namespace orba::ui {

using host::VariantDictionary;
using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;

FrmBrowseBase::FrmBrowseBase(QWidget* parent) : QDialog(parent) {
    BuildControls();
    qApp->installEventFilter(this);
}

FrmBrowseBase::~FrmBrowseBase() {
    if (qApp) qApp->removeEventFilter(this);
    // The grids show lists this window owns: they go before the lists do.
    for (BillGrid*& grid : grids_) {
        delete grid;
        grid = nullptr;
    }
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

    // Sunken rules: the dark one first, the light one beside it.
    auto rules = [this](std::array<QFrame*, 2>& lines, const char* name) {
        for (size_t i = 0; i < lines.size(); ++i) {
            lines[i] = new QFrame(client_);
            lines[i]->setObjectName(QString("%1%2").arg(name).arg(i));
            lines[i]->setAutoFillBackground(true);
            lines[i]->setBackgroundRole(i == 0 ? QPalette::Mid : QPalette::Light);
            // A rule is drawn only: the mouse goes through it to the splitter beneath, where
            // a user aims at the bar.
            lines[i]->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
    };
    rules(line3_, "Line3");
    auto title = [this](std::string_view name, std::string_view caption) {
        auto* label = new QLabel(Q(caption), client_);
        label->setObjectName(Q(name));
        label->setFrameStyle(QFrame::Panel | QFrame::Raised);
        label->setAlignment(Qt::AlignCenter);
        return label;
    };
    title_class_ = title("SSPTitleClass", kTreeTitle);
    title_item_ = title("SSPTitleItem", kTabTitle);
    BuildTree();

    img_split_ = new QWidget(client_);
    img_split_->setObjectName("imgSplitVer");
    img_split_->setCursor(Qt::SplitHCursor);
    img_split_->installEventFilter(this);
    rules(line1_, "Line1");

    tab_strip_ = new TabStripControl(client_);
    connect(tab_strip_, &TabStripControl::Clicked, this, [this] { FollowSelectedTab(); });
    connect(tab_strip_, &TabStripControl::SelectionChanged, this, [this] { FollowSelectedTab(); });
    BuildBillFrames();

    pic_split_ = new QFrame(client_);
    pic_split_->setObjectName("picSplitVer");
    pic_split_->setAutoFillBackground(true);
    pic_split_->setBackgroundRole(QPalette::Dark);
    pic_split_->hide();
    BuildStatusBar();

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

void FrmBrowseBase::BuildTree() {
    tvw_base_ = new QTreeWidget(client_);
    tvw_base_->setObjectName("tvwBase");
    tvw_base_->setHeaderHidden(true);
    tvw_base_->setRootIsDecorated(false);
    // Image 1 of the image list for a node, image 2 while it is selected.
    const QStyle* s = style();
    node_icon_.addPixmap(s->standardIcon(QStyle::SP_DirClosedIcon).pixmap(16), QIcon::Normal);
    node_icon_.addPixmap(s->standardIcon(QStyle::SP_DirOpenIcon).pixmap(16), QIcon::Selected);
    connect(tvw_base_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* node, int) { OnNodeChanged(node); });
}

void FrmBrowseBase::BuildBillFrames() {
    for (size_t i = 0; i < frames_.size(); ++i) {
        frames_[i] = new QFrame(client_);
        frames_[i]->setObjectName(QString("picFrame%1").arg(i));
        grids_[i] = new BillGrid(chosen_[i], frames_[i]);
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
}

void FrmBrowseBase::BuildStatusBar() {
    status_bar_ = new QStatusBar(client_);
    status_bar_->setObjectName("sbStatusBar");
    status_bar_->setSizeGripEnabled(false);
    for (const char* panel : {"Status", "Passtime", "wait"}) {
        auto* label = new QLabel(status_bar_);
        label->setObjectName(panel);
        status_bar_->addWidget(label, panel == std::string_view("Status") ? 1 : 0);
    }
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

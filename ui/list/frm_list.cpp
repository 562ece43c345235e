#include "ui/list/frm_list.h"

#include <fmt/format.h>

#include <QCloseEvent>
#include <QFont>
#include <QResizeEvent>
#include <QStringList>

#include <array>

#include "host/variant_dictionary.h"
#include "platform/containers.h"
#include "platform/dispatch.h"
#include "platform/registry.h"
#include "platform/visual_control.h"
#include "ui/list/frm_list_logic.h"

namespace orba::ui {

using platform::CallKind;
using platform::Ref;
using platform::Variant;

namespace {

// Receives the control's events and hands them to the dialog while it is loaded.
class FrmListEvents : public platform::Object {
public:
    explicit FrmListEvents(FrmList* form) : form_(form) {}
    void Detach() { form_ = nullptr; }

    Variant Invoke(std::string_view name, CallKind, std::span<Variant> args) override {
        if (!platform::EqualsIgnoreCase(name, list_member::kCommandEvent)) {
            platform::ThrowMemberNotFound(ClassName(), name);
        }
        if (form_ && !args.empty()) form_->OnCommand(args[0].ToText());
        return {};
    }
    std::string_view ClassName() const override { return "frmListEvents"; }

private:
    FrmList* form_;
};

// A selection from a control whose containers are not this library's is copied into them,
// so callers can always read it as a VariantVector of VariantDictionary records.
Variant ToHostValue(const Variant& value) {
    if (!value.IsObject() || value.IsNothing()) return value;
    if (platform::ObjectAs<host::VariantVector>(value) || platform::ObjectAs<host::VariantDictionary>(value)) return value;
    if (auto list = platform::ObjectAs<platform::ListContainer>(value)) {
        auto out = platform::MakeRef<host::VariantVector>();
        for (int32_t i = 1; i <= list->Count(); ++i) out->Append(ToHostValue(list->At(i)));
        return Variant(out);
    }
    if (auto map = platform::ObjectAs<platform::MapContainer>(value)) {
        auto out = platform::MakeRef<host::VariantDictionary>();
        for (size_t i = 0; i < map->Size(); ++i) out->Put(map->KeyAt(i), ToHostValue(map->ValueAt(i)));
        return Variant(out);
    }
    return value;
}

}  // namespace

FrmList::FrmList(QWidget* parent) : QDialog(parent) {
    setModal(true);
    setSizeGripEnabled(true);
}

FrmList::~FrmList() { Unload(); }

void FrmList::EnsureLoaded() {
    if (control_) return;
    control_ = platform::CreateObject(kListControlProgId);
    auto sink = platform::MakeRef<FrmListEvents>(this);
    sink_ = Ref<platform::Object>(sink);
    if (auto* visual = dynamic_cast<platform::VisualControl*>(control_.Get())) {
        visual->Advise(sink_);
        control_widget_ = visual->Widget();
        if (control_widget_) {
            QFont font;
            font.setFamilies(QStringList{QString::fromUtf8(kControlFontFamily.data(), kControlFontFamily.size()),
                                         "SimSun", "WenQuanYi Zen Hei"});
            font.setPointSize(kControlFontPoints);
            control_widget_->setFont(font);
            control_widget_->setParent(this);
            control_widget_->show();
        }
    }
    const int dpi = Dpi();
    resize(TwipsToPixels(kInitialClientWidthTwips, dpi), TwipsToPixels(kInitialClientHeightTwips, dpi));
    platform::LetProperty(control_, "Left", {}, Variant(int32_t{0}));
    platform::LetProperty(control_, "Top", {}, Variant(int32_t{0}));
    platform::LetProperty(control_, list_member::kStartUp, {}, Variant(true));
    ClientResized(width(), height());
    ok_ = false;
}

void FrmList::PassOn(std::string_view member, Variant value) {
    EnsureLoaded();
    std::array<Variant, 1> args{std::move(value)};
    platform::CallByName(control_, member, CallKind::kLet, args);
}

void FrmList::ListShowStatus(int32_t value) { PassOn("ListShowStatus", Variant(value)); }
void FrmList::DestBillTransType(const std::string& value) { PassOn("DestBillTransType", Variant(value)); }
void FrmList::ListID(int32_t value) { PassOn("ListID", Variant(value)); }
void FrmList::TranType(int32_t value) { PassOn("TranType", Variant(value)); }
void FrmList::BaseInfo(const std::string& value) { PassOn("BaseInfo", Variant(value)); }
// Passed by value as a 32-bit number, True being -1.
void FrmList::MultiSelect(bool value) { PassOn("MultiSelect", Variant(int32_t{value ? -1 : 0})); }
void FrmList::CanSelectMultiRow(bool value) { PassOn("CanSelectMultiRow", Variant(value)); }
void FrmList::Filter(const std::string& value) { PassOn("Filter", Variant(value)); }
void FrmList::LocalCnn(const std::string& value) { PassOn("LocalCnn", Variant(value)); }
void FrmList::SystemName(const std::string& value) { PassOn("SystemName", Variant(value)); }
void FrmList::SelectFlag(int32_t value) { PassOn("SelectFlag", Variant(value)); }

Ref<host::VariantVector> FrmList::Selected() {
    EnsureLoaded();
    Variant selection = ToHostValue(platform::Call(control_, list_member::kSelection));
    if (selection.IsEmpty() || selection.IsNothing()) return {};
    Ref<host::VariantVector> vector = platform::ObjectAs<host::VariantVector>(selection);
    if (!vector) {
        throw platform::Error(platform::ErrorCode::kTypeMismatch,
                              fmt::format("The list control's selection is a {}, not a list", selection.TypeName()));
    }
    return vector;
}

void FrmList::InitData() {
    EnsureLoaded();
    if (!platform::Call(control_, list_member::kPrepare).ToBoolean()) return;
    ok_ = platform::Call(control_, list_member::kLoad).ToBoolean();
    Ref<platform::Object> info = platform::GetProperty(control_, list_member::kListInfo).ToObject();
    Ref<platform::Object> first = platform::GetProperty(info, "Item", {Variant(int16_t{1})}).ToObject();
    Variant name = platform::GetProperty(first, "Value", {Variant("FName")});
    setWindowTitle(QString::fromStdString(ListCaption(name)));
}

// Activation comes to a shown dialog, which is visible already when ready; one that is not
// ready goes away.
void FrmList::Activate() {
    if (!ok_) Unload();
}

void FrmList::ShowModal() {
    EnsureLoaded();
    // A dialog that is not ready closes the moment it would become active, so the user never
    // sees it and the modal show returns at once.
    if (!ok_) {
        Unload();
        return;
    }
    exec();
}

void FrmList::Unload() {
    ok_ = false;
    // Unloading always completes, whatever a step of it raises: the dialog is let go either way.
    try {
        hide();
    } catch (...) {
    }
    if (!control_) return;
    if (auto* events = dynamic_cast<FrmListEvents*>(sink_.Get())) events->Detach();
    try {
        platform::Call(control_, list_member::kRelease);
    } catch (...) {
        // Unloading always completes.
    }
    if (auto* visual = dynamic_cast<platform::VisualControl*>(control_.Get())) {
        try {
            visual->Advise({});
        } catch (...) {
            // As above: unloading always completes.
        }
    }
    if (control_widget_) {
        control_widget_->hide();
        control_widget_->setParent(nullptr);
        control_widget_ = nullptr;
    }
    control_.Reset();
    sink_.Reset();
}

void FrmList::OnCommand(const std::string& name) {
    const CommandAction action = ActionForCommand(name);
    if (action == CommandAction::kNone || !control_) return;
    const bool confirmable = action == CommandAction::kConfirmIfPossible &&
                             platform::GetProperty(control_, list_member::kConfirmable).ToBoolean();
    const CommandOutcome outcome = ApplyCommand(name, ok_, confirmable);
    if (outcome.hide) hide();
    ok_ = outcome.ok;
}

void FrmList::ClientResized(int width_px, int height_px) {
    if (!control_) return;
    const int dpi = Dpi();
    const ControlSize size = ControlSizeFor(PixelsToTwips(width_px, dpi), PixelsToTwips(height_px, dpi));
    if (size.height_twips) {
        platform::LetProperty(control_, "Height", {}, Variant(int32_t{*size.height_twips}));
    }
    if (size.width_twips) {
        platform::LetProperty(control_, "Width", {}, Variant(int32_t{*size.width_twips}));
    }
}

int FrmList::Dpi() const { return logicalDpiY() > 0 ? logicalDpiY() : 96; }

bool FrmList::event(QEvent* e) {
    // Activation can arrive after a command hid the dialog; only a shown dialog reacts to it.
    if (e->type() == QEvent::WindowActivate && control_ && isVisible()) Activate();
    return QDialog::event(e);
}

void FrmList::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    ClientResized(e->size().width(), e->size().height());
}

void FrmList::closeEvent(QCloseEvent* e) {
    Unload();
    e->accept();
}

// Escape closes the dialog as the close box does.
void FrmList::reject() { Unload(); }

}  // namespace orba::ui

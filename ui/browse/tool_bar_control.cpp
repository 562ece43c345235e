#include "ui/browse/tool_bar_control.h"

#include <QStyle>
#include <QVBoxLayout>

#include <fmt/format.h>

#include "platform/error.h"
#include "ui/browse/browse_tools.h"
#include "ui/qt_text.h"

namespace orba::ui {
namespace {

// The letter after "&" in a caption, upper case; 0 when there is none.
int MnemonicKey(const QString& caption) {
    const qsizetype amp = caption.indexOf('&');
    if (amp < 0 || amp + 1 >= caption.size()) return 0;
    return caption.at(amp + 1).toUpper().unicode();
}

}  // namespace

ToolBarControl::ToolBarControl(QWidget* parent) : QWidget(parent) {
    setObjectName("Bar");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const BandDef& b : BrowseBands()) {
        switch (b.kind) {
            case BandKind::kMenuBar:
                menu_bar_ = new QMenuBar(this);
                menu_bar_->setObjectName(Q(b.name));
                menu_bar_->setAccessibleName(Q(b.caption));
                layout->addWidget(menu_bar_);
                break;
            case BandKind::kDropDown: {
                auto* menu = new QMenu(Q(b.caption), this);
                menu->setObjectName(Q(b.name));
                menus_[std::string(b.name)] = menu;
                break;
            }
            case BandKind::kToolBar:
                tool_bar_ = new QToolBar(Q(b.caption), this);
                tool_bar_->setObjectName(Q(b.name));
                tool_bar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
                layout->addWidget(tool_bar_);
                break;
        }
    }
    for (const ToolDef& t : BrowseTools()) {
        QAction* action = nullptr;
        if (!t.opens.empty()) {
            QMenu* menu = menus_.at(std::string(t.opens));
            menu->setTitle(Q(t.caption));
            action = menu_bar_->addMenu(menu);
        } else if (t.band == band::kToolBar) {
            action = tool_bar_->addAction(Q(t.caption));
        } else {
            action = menus_.at(std::string(t.band))->addAction(Q(t.caption));
        }
        action->setObjectName(Q(t.name));
        action->setProperty("band", Q(t.band));
        action->setProperty("category", Q(t.category));
        if (!t.help.empty()) {
            action->setToolTip(Q(t.help));
            action->setStatusTip(Q(t.help));
        }
        if (t.checked) {
            // The view tools only show their state; choosing one changes nothing.
            action->setCheckable(true);
            action->setChecked(true);
            connect(action, &QAction::toggled, action, [action] { action->setChecked(true); });
        }
        if (t.opens.empty()) {
            const QString name = Q(t.name);
            connect(action, &QAction::triggered, this, [this, name] { emit ToolClick(name); });
        }
        tools_[{std::string(t.band), std::string(t.name)}] = action;
    }
    const QStyle* s = style();
    Tool(band::kToolBar, tool::kFileSend)->setIcon(s->standardIcon(QStyle::SP_ArrowUp));
    Tool(band::kToolBar, tool::kFileDownLoad)->setIcon(s->standardIcon(QStyle::SP_ArrowDown));
    Tool(band::kToolBar, tool::kFileFilter)->setIcon(s->standardIcon(QStyle::SP_FileDialogContentsView));
    Tool(band::kToolBar, tool::kFileExit)->setIcon(s->standardIcon(QStyle::SP_DialogCloseButton));
}

QAction* ToolBarControl::Tool(std::string_view band, std::string_view name) const {
    auto it = tools_.find({std::string(band), std::string(name)});
    if (it == tools_.end()) {
        throw platform::Error(platform::ErrorCode::kItemNotFound,
                              fmt::format("The bar has no tool '{}' in band '{}'", name, band));
    }
    return it->second;
}

void ToolBarControl::SetToolEnabled(std::string_view band, std::string_view name, bool enabled) {
    QAction* action = Tool(band, name);
    action->setEnabled(enabled);
    action->setVisible(enabled);
}

bool ToolBarControl::ToolEnabled(std::string_view band, std::string_view name) const {
    const QAction* action = Tool(band, name);
    return action->isEnabled() && action->isVisible();
}

void ToolBarControl::Click(std::string_view band, std::string_view name) {
    QAction* action = Tool(band, name);
    if (action->isEnabled()) action->trigger();
}

QMenu* ToolBarControl::MenuWithMnemonic(int key_code, int shift) const {
    if (shift != kAltMask || key_code <= 0) return nullptr;
    for (QAction* a : menu_bar_->actions()) {
        if (a->menu() && MnemonicKey(a->text()) == key_code) return a->menu();
    }
    return nullptr;
}

bool ToolBarControl::OnKeyDown(int& key_code, int& shift) {
    QMenu* menu = MenuWithMnemonic(key_code, shift);
    if (!menu) return false;
    menu_bar_->setActiveAction(menu->menuAction());
    return true;
}

bool ToolBarControl::OnKeyUp(int& key_code, int& shift) { return MenuWithMnemonic(key_code, shift) != nullptr; }

}  // namespace orba::ui

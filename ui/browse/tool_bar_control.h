// The browse window's menu bar and toolbar as one control ("Bar"): bands of tools built
// from the tool table, tools found by band and name, one click signal for every copy of a
// tool, and the routing of keys that are the bar's own shortcuts.
#pragma once

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QWidget>

#include <map>
#include <string>
#include <string_view>

namespace orba::ui {

// Shift state bits of the key routing: shift, control, alt.
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;

class ToolBarControl : public QWidget {
    Q_OBJECT
public:
    explicit ToolBarControl(QWidget* parent = nullptr);

    QMenuBar* MenuBar() const { return menu_bar_; }
    QToolBar* ToolBar() const { return tool_bar_; }
    // The tool `name` of band `band`; raises an Error naming both when there is none.
    QAction* Tool(std::string_view band, std::string_view name) const;
    // Switches a tool on or off; a switched-off tool is hidden and cannot be chosen.
    void SetToolEnabled(std::string_view band, std::string_view name, bool enabled);
    bool ToolEnabled(std::string_view band, std::string_view name) const;

    // Key routing: true when the key (a Qt key code and the shift bits above) is one of the
    // bar's shortcuts, which the bar has acted on; the window then keeps it from every
    // other control.
    bool OnKeyDown(int& key_code, int& shift);
    bool OnKeyUp(int& key_code, int& shift);

    // Raises the tool-click for a tool, as a click on it does.
    void Click(std::string_view band, std::string_view name);

signals:
    void ToolClick(const QString& name);

private:
    QMenu* MenuWithMnemonic(int key_code, int shift) const;

    QMenuBar* menu_bar_ = nullptr;
    QToolBar* tool_bar_ = nullptr;
    std::map<std::pair<std::string, std::string>, QAction*> tools_;
    std::map<std::string, QMenu*> menus_;
};

}  // namespace orba::ui

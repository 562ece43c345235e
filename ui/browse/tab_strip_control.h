// The tab strip ("TabStrip") of the browse window: a row of tabs, each found by key, over a
// bordered page area in which the window places the frame of the selected tab.
#pragma once

#include <QFrame>
#include <QTabBar>

#include <string>
#include <string_view>

namespace orba::ui {

class TabStripControl : public QFrame {
    Q_OBJECT
public:
    explicit TabStripControl(QWidget* parent = nullptr);

    // Appends a tab; it becomes the selected one only when the strip was empty.
    void AddTab(std::string_view key, std::string_view caption);
    // Removes the tab of `key`; raises an Error when there is none.
    void RemoveTab(std::string_view key);
    void Clear();
    int Count() const { return bar_->count(); }
    std::string KeyAt(int index) const;
    std::string CaptionAt(int index) const;
    // The selected tab's key (empty when there is no tab).
    std::string SelectedKey() const;
    void Select(std::string_view key);
    QTabBar* Bar() const { return bar_; }

signals:
    // The user clicked a tab.
    void Clicked();
    // Another tab is selected (or none is): by a click, a key, the mouse wheel or a call; not
    // while AddTab adds the first tab.
    void SelectionChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int IndexOf(std::string_view key) const;
    void LayoutParts();

    QTabBar* bar_;
    QFrame* page_;
};

}  // namespace orba::ui

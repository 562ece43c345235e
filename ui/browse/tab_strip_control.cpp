#include "ui/browse/tab_strip_control.h"

#include <fmt/format.h>

#include "platform/error.h"
#include "ui/qt_text.h"

namespace orba::ui {

TabStripControl::TabStripControl(QWidget* parent) : QFrame(parent), bar_(new QTabBar(this)), page_(new QFrame(this)) {
    setObjectName("TabStrip");
    bar_->setObjectName("TabStripTabs");
    bar_->setExpanding(false);
    bar_->setDrawBase(false);
    page_->setFrameShape(QFrame::StyledPanel);
    page_->setFrameShadow(QFrame::Raised);
    connect(bar_, &QTabBar::tabBarClicked, this, [this](int index) {
        // The click selects the tab first; the window then follows the selection.
        if (index >= 0) bar_->setCurrentIndex(index);
        emit Clicked();
    });
    // Keys and the mouse wheel change the selection without a click.
    connect(bar_, &QTabBar::currentChanged, this, [this](int) { emit SelectionChanged(); });
}

void TabStripControl::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    LayoutParts();
}

void TabStripControl::LayoutParts() {
    const int tab_height = bar_->sizeHint().height();
    bar_->setGeometry(0, 0, width(), tab_height);
    page_->setGeometry(0, tab_height - 1, width(), std::max(0, height() - tab_height + 1));
}

int TabStripControl::IndexOf(std::string_view key) const {
    for (int i = 0; i < bar_->count(); ++i) {
        if (bar_->tabData(i).toString() == Q(key)) return i;
    }
    return -1;
}

void TabStripControl::AddTab(std::string_view key, std::string_view caption) {
    const QSignalBlocker quiet(bar_);
    const int index = bar_->addTab(Q(caption));
    bar_->setTabData(index, Q(key));
    LayoutParts();
}

void TabStripControl::RemoveTab(std::string_view key) {
    const int index = IndexOf(key);
    if (index < 0) {
        throw platform::Error(platform::ErrorCode::kItemNotFound, fmt::format("The tab strip has no tab '{}'", key));
    }
    bar_->removeTab(index);
}

void TabStripControl::Clear() {
    while (bar_->count() > 0) bar_->removeTab(0);
}

std::string TabStripControl::KeyAt(int index) const { return bar_->tabData(index).toString().toStdString(); }

std::string TabStripControl::CaptionAt(int index) const { return bar_->tabText(index).toStdString(); }

std::string TabStripControl::SelectedKey() const {
    const int index = bar_->currentIndex();
    return index < 0 ? std::string() : KeyAt(index);
}

void TabStripControl::Select(std::string_view key) {
    const int index = IndexOf(key);
    if (index >= 0) bar_->setCurrentIndex(index);
}

}  // namespace orba::ui

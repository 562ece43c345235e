#include "ui/browse/browse_tools.h"

#include <array>

namespace orba::ui {
namespace {

constexpr std::string_view kFileCategory = "文件";
constexpr std::string_view kViewCategory = "视图";
constexpr std::string_view kHelpCategory = "帮助";

constexpr std::array kBands{
    BandDef{band::kMain, "主菜单", BandKind::kMenuBar},
    BandDef{band::kFile, "文件", BandKind::kDropDown},
    BandDef{band::kView, "视图", BandKind::kDropDown},
    BandDef{band::kHelp, "帮助", BandKind::kDropDown},
    BandDef{band::kToolBar, "工具栏", BandKind::kToolBar},
};

constexpr std::array kTools{
    ToolDef{band::kMain, "mnuFile", "文件(&F)", kFileCategory, "", band::kFile},
    ToolDef{band::kMain, "mnuView", "视图(&V)", kViewCategory, "", band::kView},
    ToolDef{band::kMain, "mnuHelp", "帮助(&H)", kHelpCategory, "", band::kHelp},
    ToolDef{band::kFile, tool::kFileSend, "发送(&S)", kFileCategory, "发送", ""},
    ToolDef{band::kFile, tool::kFileDownLoad, "下载", kFileCategory, "下载", ""},
    ToolDef{band::kFile, tool::kFileFilter, "过滤传输单据(&L)", kFileCategory, "过滤单据", ""},
    ToolDef{band::kFile, tool::kFileExit, "退出(&E)", kFileCategory, "退出", ""},
    ToolDef{band::kView, "mnuViewStatusbar", "状态条(&S)", kViewCategory, "", "", true},
    ToolDef{band::kView, "mnuViewToolBar", "工具条(&T)", kViewCategory, "", "", true},
    ToolDef{band::kView, "mnuToolbarLabel", "工具条标签(&L)", kViewCategory, "", "", true},
    ToolDef{band::kHelp, "mnuHelpContents", "目录(&C)", kHelpCategory, "", ""},
    ToolDef{band::kHelp, "mnuHelpSearchForHelpOn", "搜索帮助主题(&S)...", kHelpCategory, "", ""},
    ToolDef{band::kToolBar, tool::kFileSend, "发送", kFileCategory, "发送", ""},
    ToolDef{band::kToolBar, tool::kFileDownLoad, "下载", kFileCategory, "下载", ""},
    ToolDef{band::kToolBar, tool::kFileFilter, "过滤", kFileCategory, "过滤单据", ""},
    ToolDef{band::kToolBar, tool::kFileExit, "退出", kFileCategory, "退出", ""},
};

}  // namespace

std::span<const BandDef> BrowseBands() { return kBands; }
std::span<const ToolDef> BrowseTools() { return kTools; }

}  // namespace orba::ui

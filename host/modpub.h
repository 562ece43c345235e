// System services of the browse window: finding the local system database and checking that
// it opens (its connection string goes to the list dialog and the bill viewer), and short
// notices through the host's help assistant.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace orba::host {

inline constexpr std::string_view kLocalDbFileName = "Drovane.sss";
inline constexpr std::string_view kLocalDbSubfolder = "erpSystem/";
inline constexpr std::string_view kAssistantProgId = "NimoAssistant.Assistant";
inline constexpr std::string_view kUtilityAppProgId = "Varnick.Application";

inline constexpr std::string_view kJet351Head = "PROVIDER=Microsoft.Jet.OLEDB.3.51;Data Source=";
inline constexpr std::string_view kJet40Head = "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";

inline constexpr std::string_view kOpenFailHeading = "Zelto提示";
inline constexpr std::string_view kOpenFailDescription = "系统初始化失败。";
inline constexpr std::string_view kOpenFailLineHead = "由于你的ODBC有误，系统不能与文件:'";
inline constexpr std::string_view kOpenFailLineTail = "'建立连接。";
inline constexpr std::string_view kOpenFailAdvice = "你可以在系统安装目录中找到文件'Mdac_typ.exe',运行它进行ODBC的重新安装。";

// The connection string of the local system database, or empty text when no database file
// is found or it cannot be opened. `path` Empty means: look in the system directory that the
// utility library names, then in its "erpSystem" folder. A read-only file is made writable
// first. A given path that does not exist, or a failing utility library, raises an Error.
std::string GetLocalCnn(const platform::Variant& path = platform::Variant());

// Opens the file with the 3.51 provider form, then the 4.0 form, and returns the opened
// connection's complete string; when neither opens, shows the failure notice and returns
// empty text. Never raises.
std::string OpenLocalCnn(const std::string& path);

// Shows `text` through the help assistant; raises when the assistant cannot be created.
void ShowAssistantNote(const std::string& text);

// File attributes on this platform: a file is hidden when its name starts with "."; a
// "system" file is anything that is not a regular file (device, socket, pipe, folder); it is
// read-only when its owner may not write it.
bool IsPlainVisibleFile(const std::filesystem::path& path);
bool IsReadOnlyFile(const std::filesystem::path& path);
// Gives the owner write permission back and leaves the other bits as they are; raises an
// Error naming the file when that is refused.
void ClearReadOnly(const std::filesystem::path& path);

}  // namespace orba::host

// The program's message table and the system texts of the codes the program produces.
#include <cerrno>
#include <cstring>

#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/platform/system.h"

namespace kestrel {

namespace {

struct TableEntry {
    std::uint32_t code;
    std::string_view text;
};

// Program texts are formats: `%s` and `%d` take the report's arguments.
constexpr TableEntry kProgramTable[] = {
    {0x00040000u, "无错误。\r\n"},
    {0x00040400u, "无错误。\r\n"},
    {0xC0040001u, "路径 %s 无效。\r\n"},
    {0xC0040002u, "窗口创建失败。\r\n"},
    {0xC0040003u, "值未被设置。\r\n"},
    {0xC0040004u, "无法载入图象文件 %s 。\r\n"},
    {0xC0040005u, "无法编辑图象文件 %s 。\r\n"},
    {0xC0040006u, "目录 '%s' 不存在。\r\n"},
    {0xC0040007u, "文件 '%s' 不存在。\r\n"},
    {0xC0040008u, "模板无效。请重新安装软件并再次尝试。\r\n"},
    {0xC0040009u, "文件 '%s' 无法删除。\r\n"},
    {0xC004000Au, "文件 '%s' 无法复制到 '%s' 。\r\n确认目标文件不是只读并且未打开。\r\n"},
    {0xC004000Bu, "反编译 '%s' 时发生错误。\r\n"},
    {0xC004000Cu, "预编译 '%s' 时发生错误。\r\n"},
    {0xC004000Du, "编译 '%s' 时发生错误。\r\n"},
    {0xC004000Eu, "重命名色彩方案时发生错误。\r\n确认色彩方案中的所有文件已关闭并再次尝试。\r\n"},
    {0xC0040010u, "一个风格必须有至少一种颜色方案。\r\n"},
    {0xC0040011u, "无法重命名色彩方案为 \"%s\" 。名称已存在。\r\n"},
    {0xC0040012u, "必须为此项目指定一个名称。\r\n"},
    {0xC0040013u, "必须为命名为 '%s' 的项目指定一个有效的程序。\r\n"},
    {0xC0040014u, "项目必须有独立的名称。\r\n"},
    {0xC0040015u, "试图添加新色彩方案时发生错误。\r\n"},
    {0xC0040016u, "没有为此风格指定一个名称。\r\n"},
    {0xC0040017u, "复制色彩方案时发生错误。\r\n"},
    {0xC0040018u, "处理文件 %s 时发生错误。\r\n"},
    {0xC0040019u, "这个 %s 色彩方案包含错误。此风格必须重新载入。\r\n"},
    {0xC004001Au, "这个 %s 色彩方案包含错误。\r\n此风格无法编译直到色彩方案被修复。\r\n"},
    {0xC004001Bu, "此风格包含无效色彩方案并且无法载入。\r\n"},
    {0xC004001Cu, "一个色彩方案名称必须由数字和字母组成，并且最多不超过 9 个字符。\r\n"},
    {0xC004001Du, "复制一个风格时发生错误。\r\n"},
    {0xC004001Eu, "创建 '%s' 目录时发生错误。\r\n"},
    {0xC004001Fu, "保存风格 '%s' 时发生错误。\r\n"},
    {0xC0040020u, "主题界面(接口)功能调用失败。  界面='%s' 功能='%s' 。\r\n"},
    {0xC0040021u, "创建这个值时发生错误。\r\n"},
    {0xC0040022u, "保存这个 '%s' 色彩方案时发生错误。\r\n"},
    {0xC0040023u, "载入这个 '%s' 色彩方案时发生错误。\r\n"},
    {0xC0040024u,
     "Another desktop skinning program is running. Close it and try again.\r\n"
     "另一个桌面换肤程序正在运行。请先关闭它，然后再次尝试。\r\n"},
    {0xC0040025u,
     "这个 '%s' 文件包含错误。\r\n如果你在一个网页上打开此文件可以看到这个错误。\r\n你想在你的浏览器上打开此"
     "文件吗？\r\n"},
    {0xC0040026u, "尝试打开这个 '%s' 文件时发生错误。\r\n"},
};

// System texts are shown verbatim, never formatted.
constexpr TableEntry kSystemTable[] = {
    {0x00000000u, "操作成功完成。\r\n"},
    {0x80004003u, "无效指针。\r\n"},
    {0x80004005u, "未指定的错误。\r\n"},
    {0x80070002u, "系统找不到指定的文件。\r\n"},
    {0x80070003u, "系统找不到指定的路径。\r\n"},
    {0x80070004u, "系统无法打开文件：打开的文件过多。\r\n"},
    {0x80070005u, "拒绝访问。\r\n"},
    {0x80070006u, "句柄无效。\r\n"},
    {0x8007000Eu, "内存不足，无法完成此操作。\r\n"},
    {0x80070011u, "系统无法将文件移到不同的磁盘上。\r\n"},
    {0x80070013u, "介质受写保护。\r\n"},
    {0x80070020u, "另一个程序正在使用此文件，进程无法访问。\r\n"},
    {0x80070026u, "已到达文件结尾。\r\n"},
    {0x80070050u, "文件已存在。\r\n"},
    {0x80070057u, "参数错误。\r\n"},
    {0x80070070u, "磁盘空间不足。\r\n"},
    {0x80070091u, "目录不是空的。\r\n"},
    {0x800700B7u, "文件已存在时，无法创建该文件。\r\n"},
    {0x800700CEu, "文件名或扩展名太长。\r\n"},
    {0x800700DFu, "文件大小超出允许的限制，无法保存。\r\n"},
    {0x8007010Bu, "目录名称无效。\r\n"},
    {0x800703EEu, "文件无效：文件为空，或其所在的卷已被外部更改。\r\n"},
    {0x8007045Du, "由于输入/输出设备错误，无法完成请求。\r\n"},
    {0x80070781u, "无法解析文件名：符号链接的层数过多。\r\n"},
};

std::optional<std::string_view> find(std::span<const TableEntry> table, std::uint32_t code) {
    for (const auto& entry : table)
        if (entry.code == code) return entry.text;
    return std::nullopt;
}

}  // namespace

std::optional<std::string_view> ProgramMessageText(HResult code) {
    if (auto text = find(kProgramTable, code.value())) return Localized(*text);
    return std::nullopt;
}

std::optional<std::string> SystemMessageText(HResult code) {
    if (auto text = find(kSystemTable, code.value())) return std::string(Localized(*text));
    if (isErrnoCode(code)) {
        int err = static_cast<int>(code.value() & 0xFFFu);
        if (err == 0) return std::nullopt;  // would read "Success"
        const std::string text = ErrorNumberText(err);
        if (text.empty()) return std::nullopt;
        return text + "\r\n";
    }
    return std::nullopt;
}

MessageText LookupMessageText(HResult code) {
    if (auto text = ProgramMessageText(code)) return {std::string(*text), MessageOrigin::kProgramTable};
    if (auto text = SystemMessageText(code)) return {std::move(*text), MessageOrigin::kSystem};
    return {safeFormat("Unknown error 0x%08X\r\n", {code.value()}), MessageOrigin::kUnknown};
}

}  // namespace kestrel

// The English counterparts of the program's Chinese texts, one home for all of them. Each entry
// keeps the line ends and printf placeholders of its Chinese text, in the same order; a test
// checks that every Chinese text of src/core and src/app has exactly one entry here, and that
// no entry outlives its text. A text that goes into a stored file (pe.xml, STRINGS.XML, a project
// file, anything read back later) must not depend on the language: it gets no entry, and its line
// carries the comment `// stored text` so that the check passes it by.
#include "core/errors/language.h"

namespace kestrel {

namespace {

constexpr TextPair kEnglishTexts[] = {
    // Message table: the program's own codes.
    {"无错误。\r\n", "No error.\r\n"},
    {"路径 %s 无效。\r\n", "The path %s is invalid.\r\n"},
    {"窗口创建失败。\r\n", "The window could not be created.\r\n"},
    {"值未被设置。\r\n", "The value is not set.\r\n"},
    {"无法载入图象文件 %s 。\r\n", "Cannot load the image file %s.\r\n"},
    {"无法编辑图象文件 %s 。\r\n", "Cannot edit the image file %s.\r\n"},
    {"目录 '%s' 不存在。\r\n", "The folder '%s' does not exist.\r\n"},
    {"文件 '%s' 不存在。\r\n", "The file '%s' does not exist.\r\n"},
    {"模板无效。请重新安装软件并再次尝试。\r\n",
     "The template is invalid. Reinstall the program and try again.\r\n"},
    {"文件 '%s' 无法删除。\r\n", "The file '%s' cannot be deleted.\r\n"},
    {"文件 '%s' 无法复制到 '%s' 。\r\n确认目标文件不是只读并且未打开。\r\n",
     "The file '%s' cannot be copied to '%s'.\r\nMake sure the target file is not read-only and not "
     "open.\r\n"},
    {"反编译 '%s' 时发生错误。\r\n", "Error while decompiling '%s'.\r\n"},
    {"预编译 '%s' 时发生错误。\r\n", "Error while precompiling '%s'.\r\n"},
    {"编译 '%s' 时发生错误。\r\n", "Error while compiling '%s'.\r\n"},
    {"重命名色彩方案时发生错误。\r\n确认色彩方案中的所有文件已关闭并再次尝试。\r\n",
     "Error while renaming the color scheme.\r\nMake sure every file of the color scheme is closed and try "
     "again.\r\n"},
    {"一个风格必须有至少一种颜色方案。\r\n", "A style must have at least one color scheme.\r\n"},
    {"无法重命名色彩方案为 \"%s\" 。名称已存在。\r\n",
     "Cannot rename the color scheme to \"%s\". The name exists already.\r\n"},
    {"必须为此项目指定一个名称。\r\n", "This entry needs a name.\r\n"},
    {"必须为命名为 '%s' 的项目指定一个有效的程序。\r\n", "The entry named '%s' needs a valid program.\r\n"},
    {"项目必须有独立的名称。\r\n", "Entries need distinct names.\r\n"},
    {"试图添加新色彩方案时发生错误。\r\n", "Error while adding a new color scheme.\r\n"},
    {"没有为此风格指定一个名称。\r\n", "No name was given for this style.\r\n"},
    {"复制色彩方案时发生错误。\r\n", "Error while copying the color scheme.\r\n"},
    {"处理文件 %s 时发生错误。\r\n", "Error while processing the file %s.\r\n"},
    {"这个 %s 色彩方案包含错误。此风格必须重新载入。\r\n",
     "The %s color scheme has errors. The style must be reloaded.\r\n"},
    {"这个 %s 色彩方案包含错误。\r\n此风格无法编译直到色彩方案被修复。\r\n",
     "The %s color scheme has errors.\r\nThe style cannot be compiled until the color scheme is fixed.\r\n"},
    {"此风格包含无效色彩方案并且无法载入。\r\n",
     "The style has an invalid color scheme and cannot be loaded.\r\n"},
    {"一个色彩方案名称必须由数字和字母组成，并且最多不超过 9 个字符。\r\n",
     "A color scheme name must consist of letters and digits, 9 characters at most.\r\n"},
    {"复制一个风格时发生错误。\r\n", "Error while copying a style.\r\n"},
    {"创建 '%s' 目录时发生错误。\r\n", "Error while creating the folder '%s'.\r\n"},
    {"保存风格 '%s' 时发生错误。\r\n", "Error while saving the style '%s'.\r\n"},
    {"主题界面(接口)功能调用失败。  界面='%s' 功能='%s' 。\r\n",
     "A theme interface call failed.  Interface='%s' function='%s'.\r\n"},
    {"创建这个值时发生错误。\r\n", "Error while creating this value.\r\n"},
    {"保存这个 '%s' 色彩方案时发生错误。\r\n", "Error while saving the '%s' color scheme.\r\n"},
    {"载入这个 '%s' 色彩方案时发生错误。\r\n", "Error while loading the '%s' color scheme.\r\n"},
    {"Another desktop skinning program is running. Close it and try again.\r\n"
     "另一个桌面换肤程序正在运行。请先关闭它，然后再次尝试。\r\n",
     "Another desktop skinning program is running.\r\nClose it and try again.\r\n"},
    {"这个 '%s' "
     "文件包含错误。\r\n如果你在一个网页上打开此文件可以看到这个错误。\r\n你想在你的浏览器上打开此文件吗？\r"
     "\n",
     "The file '%s' has errors.\r\nOpening it as a web page shows the error.\r\nOpen the file in your "
     "browser?\r\n"},
    {"尝试打开这个 '%s' 文件时发生错误。\r\n", "Error while opening the file '%s'.\r\n"},

    // Message table: the system codes the program produces.
    {"操作成功完成。\r\n", "The operation completed successfully.\r\n"},
    {"无效指针。\r\n", "Invalid pointer.\r\n"},
    {"未指定的错误。\r\n", "Unspecified error.\r\n"},
    {"系统找不到指定的文件。\r\n", "The system cannot find the file specified.\r\n"},
    {"系统找不到指定的路径。\r\n", "The system cannot find the path specified.\r\n"},
    {"系统无法打开文件：打开的文件过多。\r\n", "The system cannot open the file: too many open files.\r\n"},
    {"拒绝访问。\r\n", "Access is denied.\r\n"},
    {"句柄无效。\r\n", "The handle is invalid.\r\n"},
    {"内存不足，无法完成此操作。\r\n", "Not enough memory to complete this operation.\r\n"},
    {"系统无法将文件移到不同的磁盘上。\r\n", "The system cannot move the file to a different disk.\r\n"},
    {"介质受写保护。\r\n", "The medium is write-protected.\r\n"},
    {"另一个程序正在使用此文件，进程无法访问。\r\n",
     "The file is in use by another process and cannot be accessed.\r\n"},
    {"已到达文件结尾。\r\n", "Reached the end of the file.\r\n"},
    {"文件已存在。\r\n", "The file exists.\r\n"},
    {"参数错误。\r\n", "The parameter is incorrect.\r\n"},
    {"磁盘空间不足。\r\n", "There is not enough space on the disk.\r\n"},
    {"目录不是空的。\r\n", "The folder is not empty.\r\n"},
    {"文件已存在时，无法创建该文件。\r\n", "Cannot create a file that already exists.\r\n"},
    {"文件名或扩展名太长。\r\n", "The file name or extension is too long.\r\n"},
    {"文件大小超出允许的限制，无法保存。\r\n", "The file is larger than allowed and cannot be saved.\r\n"},
    {"目录名称无效。\r\n", "The folder name is invalid.\r\n"},
    {"文件无效：文件为空，或其所在的卷已被外部更改。\r\n",
     "The file is invalid: it is empty, or its volume was changed from outside.\r\n"},
    {"由于输入/输出设备错误，无法完成请求。\r\n",
     "The request could not be performed because of an I/O device error.\r\n"},
    {"无法解析文件名：符号链接的层数过多。\r\n",
     "Cannot resolve the file name: too many levels of symbolic links.\r\n"},

    // Platform: text files.
    {"文本第 %d 行有不成对的代理项 U+%04X，无法以文件的编码 (%s) 保存。",
     "Line %d of the text has an unpaired surrogate U+%04X, which cannot be saved in the file's encoding "
     "(%s)."},
    {"文本第 %d 行的字符“%s”(U+%04X) 无法以文件的编码 (%s) 保存。",
     "Line %d of the text: the character \"%s\" (U+%04X) cannot be saved in the file's encoding (%s)."},
    {"系统缺少到文件的编码 (%s) 的转换，无法保存。",
     "The system has no conversion to the file's encoding (%s); cannot save."},

    // Images: the icon group listing and the BMP to PNG converter's log.
    {" 图象数: %d\n ID    大小    BPP   字节\n", " Images: %d\n ID    Size    BPP   Bytes\n"},
    {"跳过: 无着类文件或目录 - %s\n", "Skipped: no such file or folder - %s\n"},
    {"跳过: 无法建立 - %s\n", "Skipped: cannot create - %s\n"},
    {"跳过: 内存溢出 - %s\n", "Skipped: out of memory - %s\n"},
    {"跳过: 读取操作失败 - %s\n", "Skipped: read failed - %s\n"},
    {"跳过: Premature end of BMP file - %s\n", "Skipped: premature end of BMP file - %s\n"},
    {"跳过: 不是 BMP 文件 - %s\n", "Skipped: not a BMP file - %s\n"},
    {"跳过: 无效头部大小位于 BMP 文件 - %s\n", "Skipped: invalid header size in BMP file - %s\n"},
    {"跳过: 无效的图象大小 (宽度小于一个) - %s\n", "Skipped: invalid image size (width below one) - %s\n"},
    {"跳过: 无效的图象大小 (高度小于一个) - %s\n", "Skipped: invalid image size (height below one) - %s\n"},
    {"跳过: 无效的图象大小 - %s\n", "Skipped: invalid image size - %s\n"},
    {"跳过: 被压缩过或被分割过的 BMP - %s\n", "Skipped: compressed or segmented BMP - %s\n"},
    {"跳过: 16 或 32 位/像素 BMP - %s\n", "Skipped: 16 or 32 bits/pixel BMP - %s\n"},
    {"跳过: 无效的位深度于 BMP 文件 - %s\n", "Skipped: invalid bit depth in BMP file - %s\n"},

    // Import.
    {"未能写入到文件 %s\n", "Could not write to the file %s\n"},
    {"当 dumping 资源 (.rsrc) 部分的时候发生错误\n", "Error while dumping the resource (.rsrc) section\n"},
    {"未能建立文件 %s", "Could not create the file %s"},
    {"未能建立目录 %s", "Could not create the folder %s"},
    {"写入文件时错误 0x%.8x\n", "Error 0x%.8x while writing the file\n"},
    {"关闭文件时错误 0x%.8x\n", "Error 0x%.8x while closing the file\n"},
    {"未能写入 STRINGS.XML 错误  0x%.8x\n", "Could not write STRINGS.XML, error  0x%.8x\n"},
    {"警告: %d 个位域 (BI_BITFIELDS) 位图保留为 BMP 文件。",
     "Warning: %d bit-field (BI_BITFIELDS) bitmaps kept as BMP files."},
    {"导入的文件 %s 位于工作目录中，会被同名的输出文件覆盖。请选择其他目录。",
     "The imported file %s lies in the working folder and would be overwritten by an output file of the same "
     "name. Choose another folder."},
    {"文件 %s 的格式无法被识别。", "The format of the file %s is not recognized."},

    // Compile: the description, the resource section and the rebuilt image.
    {"STRINGS.XML 的根元素必须是 ROOT。", "The root element of STRINGS.XML must be ROOT."},
    {"字串 %d 超过 65535 个字符。", "String %d is longer than 65535 characters."},
    {"这个资源包含双重字串资源 IDs 。一些字串将丢失。",
     "The resources contain duplicate string IDs. Some strings will be lost."},
    {"pe.xml 中的 %s 无效：%s。", "Invalid %s in pe.xml: %s."},
    {"Named_Entries 和 ID_Entries 必须是 0 到 65535 之间的数字",
     "Named_Entries and ID_Entries must be numbers from 0 to 65535"},
    {"目录说明有 %d 个条目，但是有 %d 个 Entry 元素",
     "the directory declares %d entries but has %d Entry elements"},
    {"命名条目必须有 Name 属性（命名条目在 ID 条目之前）",
     "a named entry needs a Name attribute (named entries come before ID entries)"},
    {"名称太长", "the name is too long"},
    {"ID 条目不能有 Name 属性（命名条目在 ID 条目之前）",
     "an ID entry cannot have a Name attribute (named entries come before ID entries)"},
    {"ID 必须是 0 到 65535 之间的数字", "the ID must be a number from 0 to 65535"},
    {"Directory 属性必须是 0 或 1", "the Directory attribute must be 0 or 1"},
    {"Tail 必须是成对的十六进制数字", "Tail must be pairs of hexadecimal digits"},
    {"条目有多个 Directory 元素", "the entry has more than one Directory element"},
    {"条目有多个 File 元素", "the entry has more than one File element"},
    {"Directory='1' 的条目没有 Directory 元素", "an entry with Directory='1' has no Directory element"},
    {"Directory='1' 的条目不能有 File 元素", "an entry with Directory='1' cannot have a File element"},
    {"资源目录最多有三层", "a resource directory has at most three levels"},
    {"Directory='0' 的条目不能有 Directory 元素",
     "an entry with Directory='0' cannot have a Directory element"},
    {"File 元素没有 Name 属性", "the File element has no Name attribute"},
    {"pe.xml 的根元素必须是 Directory。", "The root element of pe.xml must be Directory."},
    {"类型 %d   命名  %d  ID %d\n", "Type %d   named  %d  ID %d\n"},
    {"资源部分太大（%u 字节）。", "The resource section is too large (%u bytes)."},
    {"资源部分的大小与测量的不一致。", "The size of the resource section differs from the measured size."},
    {"未能打开 %s", "Could not open %s"},
    {"文件 %s 太短（%u 字节），不是有效的 %s 文件。",
     "The file %s is too short (%u bytes) to be a valid %s file."},
    {"未能传送文件 %s 到编译目录。\n", "Could not transfer the file %s to the compile folder.\n"},
    {"编译失败", "Compile failed"},
    {"文件对齐 0x%X 或节对齐 0x%X 无效。", "File alignment 0x%X or section alignment 0x%X is invalid."},
    {"这个文件有多个资源部分。", "The file has more than one resource section."},
    {"节 %s 的原始数据从 0x%X 开始，位于文件头 (到 0x%X) 之内：无法安全地重新排列，编译被拒绝。",
     "The raw data of section %s starts at 0x%X, inside the headers (up to 0x%X): it cannot be rearranged "
     "safely; compile refused."},
    {"节 %s 的原始数据位于 0x%X，但是前面的数据已经写到 0x%X。",
     "The raw data of section %s lies at 0x%X, but the data before it already reaches 0x%X."},
    {"输出文件太大。", "The output file is too large."},
    {"资源数据目录 (0x%X) 不在资源部分 %s (0x%X) 的开头。",
     "The resource data directory (0x%X) is not at the start of the resource section %s (0x%X)."},
    {"资源部分的大小改变了 0x%X 字节的内存，但是其后的节 %s 既不是 .reloc "
     "也不可丢弃：它的代码和数据引用无法修正，"
     "编译被拒绝。",
     "The resource section changes size in memory by 0x%X bytes, but the section after it, %s, is neither "
     ".reloc nor discardable: its code and data references cannot be fixed; compile refused."},
    {"数据目录 %d 指向需要在内存中移动的节 %s，编译被拒绝。",
     "Data directory %d points into section %s, which would have to move in memory; compile refused."},
    {"节 %s 无法移动。", "Section %s cannot be moved."},
    {"DOS 头中的 NT 头偏移 (e_lfanew = 0x%X) 不在文件 (%u 字节) 之内。",
     "The NT header offset in the DOS header (e_lfanew = 0x%X) lies outside the file (%u bytes)."},
    {"位于 0x%X 的 NT 头无效：没有 \"PE\" 签名、PE32 或 PE32+ 可选头，或者它的大小不对。",
     "The NT headers at 0x%X are invalid: no \"PE\" signature, no PE32 or PE32+ optional header, or wrong "
     "sizes."},
    {"SizeOfHeaders (0x%X) 大于文件 (0x%X 字节)。",
     "SizeOfHeaders (0x%X) is larger than the file (0x%X bytes)."},
    {"节表 (%u 个节，到 0x%X) 超出 SizeOfHeaders (0x%X)。",
     "The section table (%u sections, up to 0x%X) runs past SizeOfHeaders (0x%X)."},
    {"节 %s 的原始数据 (0x%X 到 0x%X) 位于文件 (0x%X 字节) 之外。",
     "The raw data of section %s (0x%X to 0x%X) lies outside the file (0x%X bytes)."},
    {"无法导入这个 PE 文件：%s", "This PE file cannot be imported: %s"},
    {"资源 %s %s (%d) 的数据位于资源节之外（0x%X，%u 字节）；文件可能被压缩。",
     "The data of resource %s %s (%d) lies outside the resource section (0x%X, %u bytes); the file may be "
     "packed."},
    {"%s (文件偏移 0x%X) 指向被重建的资源节的原始数据，编译被拒绝。",
     "%s (file offset 0x%X) points into the raw data of the rebuilt resource section; compile refused."},
    {"调试目录项 %d 的数据 (文件偏移 0x%X) 位于被重建的资源节中，编译被拒绝。",
     "The data of debug directory entry %d (file offset 0x%X) lies in the rebuilt resource section; compile "
     "refused."},
    {"节 %s 在内存中位于资源部分之后，但在节表中位于它之前，编译被拒绝。",
     "Section %s follows the resource section in memory but precedes it in the section table; compile "
     "refused."},
    {"这个文件没有资源数据目录，无法添加资源部分。",
     "The file has no resource data directory; no resource section can be added."},
    {"文件头中节表之后没有空间再放一个节头（%d 字节）：无法为添加的资源建立 .rsrc 节，编译被拒绝。",
     "The headers have no room after the section table for one more section header (%d bytes): no .rsrc "
     "section can be made for the added resources; compile refused."},
    {"成功的编译。\r\n\r\n你想要复制已编译的文件：\r\n\r\n--> '%s'\r\n\r\n 到它初始的位置：\r\n\r\n--> '%s' "
     "？\r\n\r\n这项操作无法撤消。",
     "Compiled successfully.\r\n\r\nCopy the compiled file:\r\n\r\n--> '%s'\r\n\r\n to its original "
     "place:\r\n\r\n--> '%s' ?\r\n\r\nThis cannot be undone."},
    {"一个错误发生于复制\r\n\r\n%s\r\n文件到\r\n%s", "An error occurred while copying\r\n\r\n%s\r\nto\r\n%s"},
    {"成功的编译为：\r\n\r\n'%s'", "Compiled successfully as:\r\n\r\n'%s'"},

    // Adding, replacing and deleting resources; one-shot edits.
    {"类型 %s、名称 %s、语言 %d", "type %s, name %s, language %d"},
    {"资源说明 pe.xml 中没有 Directory 元素。", "The resource description pe.xml has no Directory element."},
    {"%s 不是有效的 PNG 文件。", "%s is not a valid PNG file."},
    {"文件 %s 是 %s 图象，不是 BMP 文件。", "The file %s is a %s image, not a BMP file."},
    {"文件 %s 不是 BMP 文件：它以 %s 开头，而不是 \"BM\"。",
     "The file %s is not a BMP file: it starts with %s, not \"BM\"."},
    {"文件 %s 太短（%s 字节），不是有效的 BMP 文件。",
     "The file %s is too short (%s bytes) to be a valid BMP file."},
    {"BMP 文件 %s 的像素偏移 %s 位于文件之外或文件头之内。",
     "The BMP file %s has its pixel offset %s outside the file or inside its headers."},
    {"BMP 文件 %s 的位图信息头无效（头大小 %s）。",
     "The bitmap information header of the BMP file %s is invalid (header size %s)."},
    {"%s 不是有效的 %s 文件。", "%s is not a valid %s file."},
    {"%s 有 %d 个图象；单个%s资源只能有一个图象，请作为%s组 (%d) 添加。",
     "%s has %d images; a single %s resource holds one image only, add it as a %s group (%d)."},
    {"光标", "cursor"},
    {"图标", "icon"},
    {"没有足够的未用 ID 给 %d 个图象。", "Not enough unused IDs for %d images."},
    {"资源类型不能是空的名称或 0。", "The resource type cannot be an empty name or 0."},
    {"资源名称不能是空的。", "The resource name cannot be empty."},
    {"字串表 (类型 6) 保存在 STRINGS.XML 中，不能作为文件添加。",
     "String tables (type 6) live in STRINGS.XML and cannot be added as files."},
    {"资源 (%s) 已经存在。", "The resource (%s) already exists."},
    {"位图 %s 已经有一种语言；每个位图只能保存一种语言。",
     "Bitmap %s already has a language; each bitmap is stored in one language only."},
    {"所选的条目不是图标组或光标组 (类型 14 或 12)。",
     "The selected item is not an icon group or cursor group (type 14 or 12)."},
    {"所选的条目不是一个资源的语言条目。", "The selected item is not a language entry of a resource."},
    {"字串表 (类型 6) 由 STRINGS.XML 生成，不能在这里删除。",
     "String tables (type 6) are made from STRINGS.XML and cannot be deleted here."},
    {"版本资源 (文件 '%s') 是空的或无法读取。",
     "The version resource (file '%s') is empty or cannot be read."},
    {"版本资源超过 65535 字节。", "The version resource is larger than 65535 bytes."},
    {"未能写入文件 %s", "Could not write the file %s"},
    {"未能建立临时目录。", "Could not create a temporary folder."},
    {"未能编辑文件 %s；%s 没有改变。", "Could not edit the file %s; %s is unchanged."},

    // Application: start-up, command line, documents, editors.
    {"未能反编译文件\n%s\n\n错误 0x%.8x", "Could not decompile the file\n%s\n\nError 0x%.8x"},
    {"无法获取应用的版本。", "Cannot get the program's version."},
    {"Kestrel Beta 版本 ", "Kestrel Beta version "},
    {"取消", "Cancel"},
    {"终止", "Abort"},
    {"重试", "Retry"},
    {"忽略", "Ignore"},
    {"是", "Yes"},
    {"否", "No"},
    {"详细", "Details"},
    {"发送报告", "Send report"},
    {"检查用户是否是管理员是发生错误。", "Error while checking whether the user is an administrator."},
    {"获取某个路径时发生错误。", "Error while getting a path."},
    {"无法读取设置文件 %s。", "Cannot read the settings file %s."},
    {"无法写入设置文件 %s。", "Cannot write the settings file %s."},
    {"尝试编辑 '%s' 文件时发生一个错误。\r\n\r\n在工具->选项中设置任意的 Hex "
     "编辑器，或设置一个与此文件相关联的扩展程序。",
     "Error while trying to edit the file '%s'.\r\n\r\nSet up a hex editor in Tools->Options, or associate a "
     "program with this kind of file."},
    {"尝试编辑 '%s' 文件时发生一个错误。\r\n\r\n在工具->选项中设置任意的文本编辑器，"
     "或设置一个与此文件相关联的扩展程序。",
     "Error while trying to edit the file '%s'.\r\n\r\nSet up a text editor in Tools->Options, or associate "
     "a "
     "program with this kind of file."},
    {"是否保存对 %s 的更改？", "Save the changes to %s?"},
    {"编译的文件不能保存为 Kestrel 项目文件 (*.kestrel)。\r\n\r\n请选择一个 .exe、.dll 或 .msstyles 文件名。",
     "The compiled file cannot be saved as a Kestrel project file (*.kestrel).\r\n\r\nChoose a .exe, .dll or "
     ".msstyles file name."},
    {"另存为", "Save As"},
    {"保存副本", "Save a Copy"},
    {"打开 Kestrel 文件", "Open Kestrel File"},
    {"无标题", "Untitled"},
    {"无法打开文件 %s。", "Cannot open the file %s."},
    {"未能清空工作目录 %s。", "The working folder %s could not be emptied."},
};

}  // namespace

std::span<const TextPair> EnglishTextTable() {
    return kEnglishTexts;
}

}  // namespace kestrel

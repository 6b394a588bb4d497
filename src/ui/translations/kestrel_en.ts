<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>FilePane</name>
    <message>
        <source>与你正替换那个相比，你选定的是一个不同扩展名的文件名。<byte value="xd"/>
更改文件类型可能有不利的副作用。<byte value="xd"/>
<byte value="xd"/>
你希望要继续吗？</source>
        <translation>The file you chose has a different extension from the one you are replacing.<byte value="xd"/>
Changing the file type may have unwanted side effects.<byte value="xd"/>
<byte value="xd"/>
Do you want to continue?</translation>
    </message>
    <message>
        <source>文件 &apos;%s&apos; 已存在并被其他资源使用。<byte value="xd"/>
<byte value="xd"/>
要覆盖它吗？</source>
        <translation>The file &apos;%s&apos; already exists and is used by another resource.<byte value="xd"/>
<byte value="xd"/>
Do you want to overwrite it?</translation>
    </message>
    <message>
        <source>字串表由 STRINGS.XML 编译，所有字串表项共用这个文件。<byte value="xd"/>
<byte value="xd"/>
要用 &apos;%s&apos; 覆盖 STRINGS.XML 吗？</source>
        <translation>String tables are compiled from STRINGS.XML, which all string-table entries share.<byte value="xd"/>
<byte value="xd"/>
Overwrite STRINGS.XML with &apos;%s&apos;?</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>定制编辑器 ...</source>
        <translation>Customize Editors...</translation>
    </message>
</context>
<context>
    <name>Pane</name>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>图象</source>
        <translation>Image</translation>
    </message>
    <message>
        <source>对话框</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>菜单</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>版本信息</source>
        <translation>Version</translation>
    </message>
    <message>
        <source> 字节</source>
        <translation> bytes</translation>
    </message>
    <message>
        <source>文件不存在</source>
        <translation>File not found</translation>
    </message>
</context>
<context>
    <name>QtUiSink</name>
    <message>
        <source>放弃(&amp;D)</source>
        <translation>&amp;Discard</translation>
    </message>
    <message>
        <source>编译(&amp;C)</source>
        <translation>&amp;Compile</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>终止(&amp;A)</source>
        <translation>&amp;Abort</translation>
    </message>
    <message>
        <source>重试(&amp;R)</source>
        <translation>&amp;Retry</translation>
    </message>
    <message>
        <source>忽略(&amp;I)</source>
        <translation>&amp;Ignore</translation>
    </message>
    <message>
        <source>是(&amp;Y)</source>
        <translation>&amp;Yes</translation>
    </message>
    <message>
        <source>否(&amp;N)</source>
        <translation>&amp;No</translation>
    </message>
</context>
<context>
    <name>TranslationCommands</name>
    <message>
        <source>导出翻译</source>
        <translation>Export Translations</translation>
    </message>
    <message>
        <source>gettext 模板 (*.pot *.po);;所有文件 (*)</source>
        <translation>gettext templates (*.pot *.po);;All files (*)</translation>
    </message>
    <message>
        <source>导入翻译</source>
        <translation>Import Translations</translation>
    </message>
    <message>
        <source>gettext 翻译 (*.po);;所有文件 (*)</source>
        <translation>gettext translations (*.po);;All files (*)</translation>
    </message>
    <message>
        <source>目标语言 (例如 de、de_DE、pt-BR 或 0x407):</source>
        <translation>Target language (for example de, de_DE, pt-BR or 0x407):</translation>
    </message>
    <message>
        <source>“%1” 不是一种语言。</source>
        <translation>“%1” is not a language.</translation>
    </message>
</context>
<context>
    <name>UrlOpener</name>
    <message>
        <source>没有能打开这个链接的浏览器或邮件程序。<byte value="xd"/>
<byte value="xd"/>
请手动使用这个地址：<byte value="xd"/>
%s</source>
        <translation>No web browser or mail program could open this link.<byte value="xd"/>
<byte value="xd"/>
Please use this address yourself:<byte value="xd"/>
%s</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::AboutDlg</name>
    <message>
        <source>关于 Kestrel</source>
        <translation>About Kestrel</translation>
    </message>
    <message>
        <source>&lt;b&gt;Kestrel&lt;/b&gt;&lt;br&gt;%1&lt;br&gt;&lt;br&gt;PE 文件资源编辑器</source>
        <translation>&lt;b&gt;Kestrel&lt;/b&gt;&lt;br&gt;%1&lt;br&gt;&lt;br&gt;Resource editor for PE files</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::CAddResourceDlg</name>
    <message>
        <source>添加资源</source>
        <translation>Add Resource</translation>
    </message>
    <message>
        <source>类型(&amp;T):</source>
        <translation>&amp;Type:</translation>
    </message>
    <message>
        <source>名称或 ID(&amp;N):</source>
        <translation>&amp;Name or ID:</translation>
    </message>
    <message>
        <source>语言(&amp;L):</source>
        <translation>&amp;Language:</translation>
    </message>
    <message>
        <source>文件(&amp;F):</source>
        <translation>&amp;File:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>选择资源文件</source>
        <translation>Choose Resource File</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All Files (*)</translation>
    </message>
    <message>
        <source>请输入资源类型：标准类型、1 到 65535 的数字或名称。</source>
        <translation>Enter a resource type: a standard type, a number from 1 to 65535 or a name.</translation>
    </message>
    <message>
        <source>请输入资源名称或 1 到 65535 的 ID。</source>
        <translation>Enter a resource name or an ID from 1 to 65535.</translation>
    </message>
    <message>
        <source>语言必须是 0 到 65535 的数字。</source>
        <translation>The language must be a number from 0 to 65535.</translation>
    </message>
    <message>
        <source>请选择资源的文件。</source>
        <translation>Choose the resource&apos;s file.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::CImportDlg</name>
    <message>
        <source>无法在文件夹 %s 中写入文件：<byte value="xd"/>
%s<byte value="xd"/>
<byte value="xd"/>
请选择另一个文件夹。</source>
        <translation>Files cannot be written in the folder %s:<byte value="xd"/>
%s<byte value="xd"/>
<byte value="xd"/>
Choose another folder.</translation>
    </message>
    <message>
        <source>插入资源文件</source>
        <translation>Import Resource File</translation>
    </message>
    <message>
        <source>选择从哪里插入一个资源文件(&amp;C)</source>
        <translation>&amp;Choose the file to import</translation>
    </message>
    <message>
        <source>选择一个被插入的资源文件的解压目录(&amp;D)</source>
        <translation>Choose the &amp;destination folder for its resources</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>浏览插入文件</source>
        <translation>Choose File to Import</translation>
    </message>
    <message>
        <source>选择一个位置以解压被插入的文件</source>
        <translation>Choose the Folder to Unpack the File Into</translation>
    </message>
    <message>
        <source>你必须指定一个要插入的文件。</source>
        <translation>You must name a file to import.</translation>
    </message>
    <message>
        <source>文件 %s 并不存在。</source>
        <translation>The file %s does not exist.</translation>
    </message>
    <message>
        <source>文件 &apos;%s&apos; 不是 Kestrel 能够拆开的 PE 文件。</source>
        <translation>The file &apos;%s&apos; is not a PE file that Kestrel can take apart.</translation>
    </message>
    <message>
        <source>你必须指定一个  dump 的目录。</source>
        <translation>You must name a folder to unpack into.</translation>
    </message>
    <message>
        <source>这个 &apos;%s&apos; 目录不存在。<byte value="xd"/>
<byte value="xd"/>
你想要创建它吗？</source>
        <translation>The folder &apos;%s&apos; does not exist.<byte value="xd"/>
<byte value="xd"/>
Do you want to create it?</translation>
    </message>
    <message>
        <source>%s 并不是一个目录</source>
        <translation>%s is not a folder</translation>
    </message>
    <message>
        <source>%s 是临时工作目录，请选择其他目录。</source>
        <translation>%s is the temporary working folder. Please choose another folder.</translation>
    </message>
    <message>
        <source>你选择的目录内已有一个 kestrel 文件存在。<byte value="xd"/>
<byte value="xd"/>
你想挑选一个不同的目标吗？</source>
        <translation>The folder you chose already holds a kestrel file.<byte value="xd"/>
<byte value="xd"/>
Do you want to choose a different destination?</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::CKsFrame</name>
    <message>
        <source>在资源中查找(&amp;F)…</source>
        <translation>&amp;Find in Resources…</translation>
    </message>
    <message>
        <source>在项目的全部资源中查找文本或字节。</source>
        <translation>Find text or bytes in every resource of the project.</translation>
    </message>
    <message>
        <source>导出(&amp;E)...</source>
        <translation>&amp;Export...</translation>
    </message>
    <message>
        <source>全部导出(&amp;L)...</source>
        <translation>Export A&amp;ll...</translation>
    </message>
    <message>
        <source>当前窗格的更改未能写入文件。<byte value="xd"/>
<byte value="xd"/>
放弃这些更改并关闭吗？</source>
        <translation>The changes in the current pane could not be written to the file.<byte value="xd"/>
<byte value="xd"/>
Discard the changes and close?</translation>
    </message>
    <message>
        <source>打开(&amp;O)...</source>
        <translation>&amp;Open...</translation>
    </message>
    <message>
        <source>保存(&amp;S)</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>另存为(&amp;A)</source>
        <translation>Save &amp;As</translation>
    </message>
    <message>
        <source>导入(&amp;I)...</source>
        <translation>&amp;Import...</translation>
    </message>
    <message>
        <source>编译(&amp;C)</source>
        <translation>&amp;Compile</translation>
    </message>
    <message>
        <source>退出(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>新建</source>
        <translation>New</translation>
    </message>
    <message>
        <source>剪切(&amp;T)</source>
        <translation>Cu&amp;t</translation>
    </message>
    <message>
        <source>复制(&amp;C)</source>
        <translation>&amp;Copy</translation>
    </message>
    <message>
        <source>粘贴(&amp;P)</source>
        <translation>&amp;Paste</translation>
    </message>
    <message>
        <source>撤消(&amp;U)</source>
        <translation>&amp;Undo</translation>
    </message>
    <message>
        <source>重做(&amp;R)</source>
        <translation>&amp;Redo</translation>
    </message>
    <message>
        <source>删除资源(&amp;D)</source>
        <translation>&amp;Delete Resource</translation>
    </message>
    <message>
        <source>从资源组删除指定的资源。</source>
        <translation>Delete the selected resource from the group.</translation>
    </message>
    <message>
        <source>添加资源(&amp;A)...</source>
        <translation>&amp;Add Resource...</translation>
    </message>
    <message>
        <source>添加一个新的资源到组内。</source>
        <translation>Add a new resource to the group.</translation>
    </message>
    <message>
        <source>选项(&amp;O)...</source>
        <translation>&amp;Options...</translation>
    </message>
    <message>
        <source>Kestrel 在线(&amp;T)</source>
        <translation>Kestrel &amp;Online</translation>
    </message>
    <message>
        <source>关于 Kestrel(&amp;A)...</source>
        <translation>&amp;About Kestrel...</translation>
    </message>
    <message>
        <source>插入/改写</source>
        <translation>Insert/Overwrite</translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>导出翻译(&amp;R)...</source>
        <translation>Expo&amp;rt Translations...</translation>
    </message>
    <message>
        <source>导入翻译(&amp;L)...</source>
        <translation>Import Trans&amp;lations...</translation>
    </message>
    <message>
        <source>最近的文件</source>
        <translation>Recent Files</translation>
    </message>
    <message>
        <source>编辑(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>工具(&amp;T)</source>
        <translation>&amp;Tools</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>工具栏</source>
        <translation>Toolbar</translation>
    </message>
    <message>
        <source>打开...</source>
        <translation>Open...</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>剪切</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>撤消</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>删除资源</source>
        <translation>Delete Resource</translation>
    </message>
    <message>
        <source>添加资源</source>
        <translation>Add Resource</translation>
    </message>
    <message>
        <source>打开 Kestrel 文件</source>
        <translation>Open Kestrel File</translation>
    </message>
    <message>
        <source>已签名</source>
        <translation>Signed</translation>
    </message>
    <message>
        <source>签名不再匹配</source>
        <translation>Signature no longer matches</translation>
    </message>
    <message>
        <source>未签名</source>
        <translation>Unsigned</translation>
    </message>
    <message>
        <source>编译后的文件保留了原文件的签名，但签名已不再匹配。

要删除这个签名吗？</source>
        <translation>The compiled file keeps the signature of the original, but the signature no longer matches.

Remove the signature?</translation>
    </message>
    <message>
        <source>添加语言(&amp;L)...</source>
        <translation>Add &amp;Language...</translation>
    </message>
    <message>
        <source>把一种语言的全部资源复制为新的语言。</source>
        <translation>Copies every resource of one language to a new language.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::CKsView</name>
    <message>
        <source>更改语言</source>
        <translation>Change Language</translation>
    </message>
    <message>
        <source>重命名资源</source>
        <translation>Rename Resource</translation>
    </message>
    <message>
        <source>新的语言(&amp;L):</source>
        <translation>New &amp;language:</translation>
    </message>
    <message>
        <source>新的名称或 ID(&amp;N):</source>
        <translation>New &amp;name or ID:</translation>
    </message>
    <message>
        <source>重命名(&amp;M)...</source>
        <translation>Re&amp;name...</translation>
    </message>
    <message>
        <source>更改语言(&amp;G)...</source>
        <translation>Chan&amp;ge Language...</translation>
    </message>
    <message>
        <source>&apos;%s&apos; 不是有效的名称或 ID。</source>
        <translation>&apos;%s&apos; is not a valid name or ID.</translation>
    </message>
    <message>
        <source>&apos;%s&apos; 不是有效的语言。</source>
        <translation>&apos;%s&apos; is not a valid language.</translation>
    </message>
    <message>
        <source>导出资源</source>
        <translation>Export Resource</translation>
    </message>
    <message>
        <source>导出到文件夹</source>
        <translation>Export to Folder</translation>
    </message>
    <message>
        <source>已导出 %d 个文件到 %s</source>
        <translation>Exported %d files to %s</translation>
    </message>
    <message>
        <source>有些资源未能完整导出：<byte value="xd"/>
<byte value="xd"/>
%s</source>
        <translation>Some resources could not be exported whole:<byte value="xd"/>
<byte value="xd"/>
%s</translation>
    </message>
    <message>
        <source>导出(&amp;E)...</source>
        <translation>&amp;Export...</translation>
    </message>
    <message>
        <source>全部导出(&amp;L)...</source>
        <translation>Export A&amp;ll...</translation>
    </message>
    <message>
        <source>替换(&amp;R)...</source>
        <translation>&amp;Replace...</translation>
    </message>
    <message>
        <source>删除资源(&amp;D)</source>
        <translation>&amp;Delete Resource</translation>
    </message>
    <message>
        <source>添加资源(&amp;A)...</source>
        <translation>&amp;Add Resource...</translation>
    </message>
    <message>
        <source>十六进制查看(&amp;H)</source>
        <translation>View as &amp;Hex</translation>
    </message>
    <message>
        <source>用外部编辑器编辑(&amp;X)</source>
        <translation>Edit in E&amp;xternal Editor</translation>
    </message>
    <message>
        <source>复制名称(&amp;C)</source>
        <translation>&amp;Copy Name</translation>
    </message>
    <message>
        <source>未能建立文件 %s</source>
        <translation>Could not create the file %s</translation>
    </message>
    <message>
        <source>顺利插入。<byte value="xd"/>
<byte value="xd"/>
你想要现在就打开这个文件吗？</source>
        <translation>The file was imported.<byte value="xd"/>
<byte value="xd"/>
Do you want to open it now?</translation>
    </message>
    <message>
        <source>要从描述中删除资源 %s 吗？<byte value="xd"/>
<byte value="xd"/>
文件留在磁盘上。</source>
        <translation>Delete the resource %s from the description?<byte value="xd"/>
<byte value="xd"/>
The file stays on the disk.</translation>
    </message>
    <message>
        <source>已复制 %d 个资源、%d 个字串块（%d 个字串）；%d 个位图保留原来的语言。</source>
        <translation>Copied %d resources and %d string blocks (%d strings); %d bitmaps keep their language.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::COptionsDlg</name>
    <message>
        <source>保存覆盖原文件时保留一个备份 (&lt;文件名&gt;.bak)</source>
        <translation>Keep a backup when a save replaces the original file (&lt;file name&gt;.bak)</translation>
    </message>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>图象编辑器</source>
        <translation>Image Editors</translation>
    </message>
    <message>
        <source>文本编辑器</source>
        <translation>Text Editors</translation>
    </message>
    <message>
        <source>Hex 编辑器</source>
        <translation>Hex Editors</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::ColorizeWnd</name>
    <message>
        <source>色调+%d%%</source>
        <translation>Hue +%d%%</translation>
    </message>
    <message>
        <source>色调%d%%</source>
        <translation>Hue %d%%</translation>
    </message>
    <message>
        <source>色调---</source>
        <translation>Hue ---</translation>
    </message>
    <message>
        <source>亮度 +%d%%</source>
        <translation>Brightness +%d%%</translation>
    </message>
    <message>
        <source>亮度 %d%%</source>
        <translation>Brightness %d%%</translation>
    </message>
    <message>
        <source>饱和度 +%d%%</source>
        <translation>Saturation +%d%%</translation>
    </message>
    <message>
        <source>饱和度 %d%%</source>
        <translation>Saturation %d%%</translation>
    </message>
    <message>
        <source>饱和度 %d</source>
        <translation>Saturation %d</translation>
    </message>
    <message>
        <source>色调+0%</source>
        <translation>Hue +0%</translation>
    </message>
    <message>
        <source>亮度 +0%</source>
        <translation>Brightness +0%</translation>
    </message>
    <message>
        <source>饱和度 +0%</source>
        <translation>Saturation +0%</translation>
    </message>
    <message>
        <source>重置色调</source>
        <translation>Reset Hue</translation>
    </message>
    <message>
        <source>重置亮度</source>
        <translation>Reset Brightness</translation>
    </message>
    <message>
        <source>锁定亮度</source>
        <translation>Lock RGB</translation>
    </message>
    <message>
        <source>光源亮度</source>
        <translation>Light Source</translation>
    </message>
    <message>
        <source>咖玛亮度</source>
        <translation>Gamma</translation>
    </message>
    <message>
        <source>重置饱和度</source>
        <translation>Reset Saturation</translation>
    </message>
    <message>
        <source>预览着色...</source>
        <translation>Preview Colouring...</translation>
    </message>
    <message>
        <source>挑选预置色彩:</source>
        <translation>Preset colours:</translation>
    </message>
    <message>
        <source>应用着色...</source>
        <translation>Apply Colouring...</translation>
    </message>
    <message>
        <source>仅适用当前图象</source>
        <translation>Current image only</translation>
    </message>
    <message>
        <source>适用所有图象</source>
        <translation>All images</translation>
    </message>
    <message>
        <source>单击以在上面的窗口预览当前着色。</source>
        <translation>Click to preview the current colouring in the window above.</translation>
    </message>
    <message>
        <source>复选以同时移动 R G B 亮度水平。不选则独立移动。</source>
        <translation>Check to move the R, G and B brightness levels together. Uncheck to move them one by one.</translation>
    </message>
    <message>
        <source>复选以在源色彩上应用亮度，在改变 RGB 之间。</source>
        <translation>Check to apply the brightness to the source colours, before the RGB change.</translation>
    </message>
    <message>
        <source>复选应用一个咖玛曲线到明亮水平。不选则是直线更改。</source>
        <translation>Check to apply a gamma curve to the brightness levels. Uncheck for a linear change.</translation>
    </message>
    <message>
        <source>复选仅着色当前位图。</source>
        <translation>Check to colour the current image only.</translation>
    </message>
    <message>
        <source>复选以便当&lt;应用着色&gt;点击后，所有的图象文件将被着色。</source>
        <translation>Check to colour every image file when &lt;Apply Colouring&gt; is clicked.</translation>
    </message>
    <message>
        <source>单击应用当前的着色为不同的文件和色彩属性。</source>
        <translation>Click to apply the current colouring to the files chosen below.</translation>
    </message>
    <message>
        <source>单击重置色彩色调。</source>
        <translation>Click to reset the hue.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::ExeCmdWidget</name>
    <message>
        <source>为你的图象添加一个供编辑的程序。<byte value="xd"/>
列表中的第一个将会是默认的程序。</source>
        <translation>Add the programs that edit your images.<byte value="xd"/>
The first in the list is the default.</translation>
    </message>
    <message>
        <source>为你的文本添加一个供编辑的程序。<byte value="xd"/>
列表中的第一个将会是默认的程序。</source>
        <translation>Add the programs that edit your text files.<byte value="xd"/>
The first in the list is the default.</translation>
    </message>
    <message>
        <source>名称:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>程序:</source>
        <translation>Program:</translation>
    </message>
    <message>
        <source>新建</source>
        <translation>New</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>上移(&amp;U)</source>
        <translation>Move &amp;Up</translation>
    </message>
    <message>
        <source>下移(&amp;D)</source>
        <translation>Move &amp;Down</translation>
    </message>
    <message>
        <source>新项目</source>
        <translation>New Item</translation>
    </message>
    <message>
        <source>浏览</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All Files (*)</translation>
    </message>
    <message>
        <source>文件 &apos;%s&apos; 不是可执行文件，无法作为编辑器启动。</source>
        <translation>The file &apos;%s&apos; is not executable and cannot be started as an editor.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::FeedbackLink</name>
    <message>
        <source>点击发送反馈</source>
        <translation>Send feedback</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::FindDlg</name>
    <message>
        <source>查找文本</source>
        <translation>Find Text</translation>
    </message>
    <message>
        <source>查找什么(&amp;N):</source>
        <translation>Fi&amp;nd what:</translation>
    </message>
    <message>
        <source>替换为(&amp;P):</source>
        <translation>Re&amp;place with:</translation>
    </message>
    <message>
        <source>仅仅匹配完整字句(&amp;W)</source>
        <translation>Match &amp;whole word only</translation>
    </message>
    <message>
        <source>区分大小写(&amp;C)</source>
        <translation>Match &amp;case</translation>
    </message>
    <message>
        <source>查找下一个(&amp;F)</source>
        <translation>&amp;Find Next</translation>
    </message>
    <message>
        <source>替换(&amp;R)</source>
        <translation>&amp;Replace</translation>
    </message>
    <message>
        <source>全部替换(&amp;A)</source>
        <translation>Replace &amp;All</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::HexEdit</name>
    <message>
        <source>剪切(&amp;T)	Shift+Del</source>
        <translation>Cu&amp;t	Shift+Del</translation>
    </message>
    <message>
        <source>复制(&amp;C)	Ctrl+Ins</source>
        <translation>&amp;Copy	Ctrl+Ins</translation>
    </message>
    <message>
        <source>粘贴(&amp;P)	Shift+Ins</source>
        <translation>&amp;Paste	Shift+Ins</translation>
    </message>
    <message>
        <source>全选(&amp;A)	Ctrl+A</source>
        <translation>Select &amp;All	Ctrl+A</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::HexWnd</name>
    <message>
        <source>浏览文件</source>
        <translation>Choose File</translation>
    </message>
    <message>
        <source>查看 文本</source>
        <translation>View Text</translation>
    </message>
    <message>
        <source> 查看图象 </source>
        <translation> View Image </translation>
    </message>
    <message>
        <source> 替 换 ...</source>
        <translation>Replace...</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::ImageWnd</name>
    <message>
        <source>文件名称: %s%s</source>
        <translation>File name: %s%s</translation>
    </message>
    <message>
        <source>文件大小: %d 字节</source>
        <translation>File size: %d bytes</translation>
    </message>
    <message>
        <source>图象大小: %dx%d</source>
        <translation>Image size: %dx%d</translation>
    </message>
    <message>
        <source>应用之前请选择复选框其中的一个。</source>
        <translation>Check one of the boxes before applying.</translation>
    </message>
    <message>
        <source>警告：应用将覆盖文件

%s

你无法撤消此项操作。<byte value="xd"/>
<byte value="xd"/>
你确定要这么做吗？</source>
        <translation>Warning: applying overwrites the file

%s

You cannot undo this.<byte value="xd"/>
<byte value="xd"/>
Are you sure?</translation>
    </message>
    <message>
        <source>警告：应用将覆盖所有文件于目录:

%s

你无法撤消此项操作。<byte value="xd"/>
<byte value="xd"/>
你确定要这么做吗？</source>
        <translation>Warning: applying overwrites every image file in the folder:

%s

You cannot undo this.<byte value="xd"/>
<byte value="xd"/>
Are you sure?</translation>
    </message>
    <message>
        <source>正在着色图象文件...</source>
        <translation>Colouring image files...</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>已着色 %d 个文件，共 %d 个。</source>
        <translation>Coloured %d of %d files.</translation>
    </message>
    <message>
        <source>浏览图形文件</source>
        <translation>Choose Image File</translation>
    </message>
    <message>
        <source>像素深度/色彩: 1/2</source>
        <translation>Bits per pixel/colours: 1/2</translation>
    </message>
    <message>
        <source>像素深度/色彩: 4/16</source>
        <translation>Bits per pixel/colours: 4/16</translation>
    </message>
    <message>
        <source>像素深度/色彩: 8/256</source>
        <translation>Bits per pixel/colours: 8/256</translation>
    </message>
    <message>
        <source>像素深度/色彩: 16/65536</source>
        <translation>Bits per pixel/colours: 16/65536</translation>
    </message>
    <message>
        <source>像素深度/色彩: 24/16m</source>
        <translation>Bits per pixel/colours: 24/16m</translation>
    </message>
    <message>
        <source>像素深度/色彩: 24+8Alpha/16m</source>
        <translation>Bits per pixel/colours: 24+8Alpha/16m</translation>
    </message>
    <message>
        <source> 替 换 ...</source>
        <translation>Replace...</translation>
    </message>
    <message>
        <source>查看 Hex</source>
        <translation>View Hex</translation>
    </message>
    <message>
        <source>真实 大小</source>
        <translation>Actual Size</translation>
    </message>
    <message>
        <source>复 制 到 剪 贴 板</source>
        <translation>Copy to Clipboard</translation>
    </message>
    <message>
        <source>图标文件</source>
        <translation>Icon Files</translation>
    </message>
    <message>
        <source>光标文件</source>
        <translation>Cursor Files</translation>
    </message>
    <message>
        <source>所有文件</source>
        <translation>All Files</translation>
    </message>
    <message>
        <source>无法将 &apos;%s&apos; 读取为图象：%s</source>
        <translation>&apos;%s&apos; cannot be read as a picture: %s</translation>
    </message>
    <message>
        <source>&apos;%s&apos; 已转换为 %d 位 BMP 图象。</source>
        <translation>&apos;%s&apos; was converted to a %d-bit BMP picture.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::PreviewWnd</name>
    <message>
        <source>未能打开文件： <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</source>
        <translation>Could not open the file: <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</translation>
    </message>
    <message>
        <source>查看 Hex</source>
        <translation>View Hex</translation>
    </message>
    <message>
        <source>编辑脚本</source>
        <translation>Edit script</translation>
    </message>
    <message>
        <source>脚本第 %d 行，第 %d 列：%s</source>
        <translation>Script line %d, column %d: %s</translation>
    </message>
    <message>
        <source>此资源不能显示为脚本。</source>
        <translation>This resource cannot be shown as a script.</translation>
    </message>
    <message>
        <source>脚本有错误，没有保存到 &apos;%s&apos;。</source>
        <translation>The script has an error and was not saved to &apos;%s&apos;.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::TextWnd</name>
    <message>
        <source>未能打开文件： <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</source>
        <translation>Could not open the file: <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</translation>
    </message>
    <message>
        <source>文本未找到</source>
        <translation>Text not found</translation>
    </message>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>浏览文件</source>
        <translation>Choose File</translation>
    </message>
    <message>
        <source>二进制数据，只读</source>
        <translation>Binary data, read-only</translation>
    </message>
    <message>
        <source> 替 换 ...</source>
        <translation>Replace...</translation>
    </message>
    <message>
        <source>查看 Hex</source>
        <translation>View Hex</translation>
    </message>
    <message>
        <source> 更改字体的大小 </source>
        <translation> Font Size </translation>
    </message>
    <message>
        <source>查找...</source>
        <translation>Find...</translation>
    </message>
    <message>
        <source>脚本第 %d 行，第 %d 列：%s</source>
        <translation>Script line %d, column %d: %s</translation>
    </message>
    <message>
        <source>脚本有错误，没有保存到 &apos;%s&apos;。</source>
        <translation>The script has an error and was not saved to &apos;%s&apos;.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::VersionForm</name>
    <message>
        <source>文件版本</source>
        <translation>File version</translation>
    </message>
    <message>
        <source>产品版本</source>
        <translation>Product version</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::VersionWnd</name>
    <message>
        <source>未能打开文件： <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</source>
        <translation>Could not open the file: <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</translation>
    </message>
    <message>
        <source>未能保存文件： <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</source>
        <translation>Could not save the file: <byte value="xd"/>
<byte value="xd"/>
&apos;%s&apos;</translation>
    </message>
    <message>
        <source>%1 &quot;%2&quot; 无效：应为四个 0 到 65535 之间的数，以逗号分隔，例如 5,1,2600,0。</source>
        <translation>%1 &quot;%2&quot; is not valid: it must be four numbers from 0 to 65535 separated by commas, for example 5,1,2600,0.</translation>
    </message>
    <message>
        <source>%1 &quot;%2&quot; 无效：应为一个 32 位的数，例如 0x0000003f。</source>
        <translation>%1 &quot;%2&quot; is not valid: it must be a 32-bit number, for example 0x0000003f.</translation>
    </message>
    <message>
        <source>文件版本</source>
        <translation>File version</translation>
    </message>
    <message>
        <source>产品版本</source>
        <translation>Product version</translation>
    </message>
    <message>
        <source>翻译 &quot;%1&quot; 无效：应为一个 32 位的数，低 16 位是语言，高 16 位是代码页，例如 0x04b00409。</source>
        <translation>Translation &quot;%1&quot; is not valid: it must be a 32-bit number with the language in the low 16 bits and the code page in the high 16 bits, for example 0x04b00409.</translation>
    </message>
    <message>
        <source>第 %1 行的字符串有值但没有名称。</source>
        <translation>The string in row %1 has a value but no name.</translation>
    </message>
    <message>
        <source>查看 Hex</source>
        <translation>View Hex</translation>
    </message>
    <message>
        <source>版本信息超过 65535 字节，无法保存。</source>
        <translation>The version information is larger than 65535 bytes and cannot be saved.</translation>
    </message>
    <message>
        <source>版本信息无法保存。</source>
        <translation>The version information cannot be saved.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::CAddLanguageDlg</name>
    <message>
        <source>中性</source>
        <translation>Neutral</translation>
    </message>
    <message>
        <source>添加语言</source>
        <translation>Add Language</translation>
    </message>
    <message>
        <source>名称或数字，如 0x0407</source>
        <translation>A name or a number, such as 0x0407</translation>
    </message>
    <message>
        <source>复制的语言(&amp;S):</source>
        <translation>&amp;Source language:</translation>
    </message>
    <message>
        <source>新语言(&amp;N):</source>
        <translation>&amp;New language:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>请选择要复制的语言。</source>
        <translation>Choose the language to copy.</translation>
    </message>
    <message>
        <source>新语言必须是列表中的语言或 0 到 65535 的数字。</source>
        <translation>The new language must be a language from the list or a number from 0 to 65535.</translation>
    </message>
    <message>
        <source>新语言不能与复制的语言相同。</source>
        <translation>The new language cannot be the language copied.</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::LanguageNames</name>
    <message>
        <source>语言中立</source>
        <translation>Language neutral</translation>
    </message>
</context>
<context>
    <name>kestrel::ui::ResourceSearchDock</name>
    <message>
        <source>在资源中查找</source>
        <translation>Find in Resources</translation>
    </message>
    <message>
        <source>要查找的文本</source>
        <translation>Text to find</translation>
    </message>
    <message>
        <source>区分大小写(&amp;C)</source>
        <translation>Match &amp;case</translation>
    </message>
    <message>
        <source>十六进制字节(&amp;X)</source>
        <translation>He&amp;x bytes</translation>
    </message>
    <message>
        <source>资源</source>
        <translation>Resource</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>位置</source>
        <translation>Place</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>请以十六进制写出整字节，如 4D 5A</source>
        <translation>Write whole bytes in hex, such as 4D 5A</translation>
    </message>
    <message>
        <source>正在查找…</source>
        <translation>Searching…</translation>
    </message>
    <message>
        <source>没有找到。</source>
        <translation>Not found.</translation>
    </message>
    <message>
        <source>找到 %1 处。</source>
        <translation>%1 found.</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>字符串 %1</source>
        <translation>String %1</translation>
    </message>
    <message>
        <source>标题</source>
        <translation>Caption</translation>
    </message>
    <message>
        <source>控件 %1 (ID %2)</source>
        <translation>Control %1 (ID %2)</translation>
    </message>
    <message>
        <source>菜单项 %1</source>
        <translation>Menu item %1</translation>
    </message>
    <message>
        <source>偏移 0x%1</source>
        <translation>Offset 0x%1</translation>
    </message>
    <message>
        <source>这个资源已不在项目中。</source>
        <translation>This resource is no longer in the project.</translation>
    </message>
</context>
</TS>

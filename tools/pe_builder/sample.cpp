// The demonstration resource set of sample.dll.
#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {
namespace {

ByteVector riffStub(std::string_view form) {
    // A short RIFF container with an empty list: enough for a viewer to recognise the type.
    std::string text = "RIFF";
    text += std::string("\x1C\x00\x00\x00", 4);
    text += form;
    text += "LIST";
    text += std::string("\x04\x00\x00\x00", 4);
    text += "hdrl";
    text += "JUNK";
    text += std::string("\x08\x00\x00\x00", 4);
    text += "kestrel!";
    return bytesOf(text);
}

}  // namespace

std::vector<Resource> sampleResources() {
    std::vector<Resource> resources;

    // Bitmaps: one ID in three languages, 32-bit with alpha, bit fields, top-down, V5 header.
    resources.push_back({kRtBitmap, 101, kLangEnUs, makeDib({32, 24, 8, false, false, false, 1})});
    resources.push_back({kRtBitmap, 101, kLangZhCn, makeDib({32, 24, 8, false, false, false, 2})});
    resources.push_back({kRtBitmap, 101, kLangDeDe, makeDib({32, 24, 8, false, false, false, 3})});
    resources.push_back({kRtBitmap, 102, kLangEnUs, makeDib({48, 48, 32, false, false, false, 4})});
    resources.push_back({kRtBitmap, 103, kLangEnUs, makeDib({40, 20, 32, true, false, false, 5})});
    resources.push_back({kRtBitmap, 104, kLangEnUs, makeDib({17, 9, 24, false, true, false, 6})});
    resources.push_back({kRtBitmap, 105, kLangEnUs, makeDib({16, 16, 32, true, false, true, 7})});
    resources.push_back({kRtBitmap, 106, kLangEnUs, makeDib({13, 7, 4, false, false, false, 8})});
    resources.push_back({kRtBitmap, 107, kLangEnUs, makeDib({9, 5, 1, false, false, false, 9})});
    resources.push_back(
        {kRtBitmap, u"TOOLBAR_STRIP", kLangEnUs, makeDib({64, 16, 8, false, false, false, 10})});
    resources.push_back({kRtBitmap, u"中文_图片", kLangZhCn, makeDib({24, 24, 32, false, false, false, 11})});
    // Underscores in bitmap names stand for a dot and for folders in the working folder.
    resources.push_back({kRtBitmap, u"NORMAL_BMP", kLangEnUs, makeDib({8, 8, 8, false, false, false, 12})});
    resources.push_back(
        {kRtBitmap, u"BLUE_ARROW_BMP", kLangEnUs, makeDib({12, 12, 24, false, false, false, 13})});

    // Icons: a group with four images including a PNG-compressed 256-pixel one, and a named group.
    addIconGroup(resources, 1, kLangEnUs, 1,
                 {makeIconImage(16, 4, 1), makeIconImage(32, 8, 2), makeIconImage(48, 32, 3),
                  makePngIconImage(256, 4)});
    addIconGroup(resources, u"APP_ICON", kLangEnUs, 5, {makeIconImage(16, 32, 5), makeIconImage(32, 32, 6)});

    // Cursors.
    addCursorGroup(resources, 200, kLangEnUs, 1,
                   {makeCursorImage(32, 1, 5, 7, 1), makeCursorImage(32, 32, 16, 16, 2)});
    addCursorGroup(resources, u"HAND_CURSOR", kLangEnUs, 3, {makeCursorImage(32, 4, 9, 0, 3)});

    // Strings in two languages (blocks 1, 2 and 7).
    addStrings(resources, kLangEnUs,
               {{1, u"Kestrel sample"},
                {2, u"Open a file & go"},
                {3, u"Say \"hello\""},
                {17, u"Line one\r\nLine two"},
                {100, u"Café crème"}});
    addStrings(
        resources, kLangZhCn,
        {{1, u"红隼示例"}, {2, u"打开文件"}, {3, u"说“你好”"}, {17, u"第一行\r\n第二行"}, {100, u"中文 é"}});

    resources.push_back({kRtVersion, 1, kLangEnUs, makeVersionInfo(defaultVersionPlan())});
    resources.push_back({kRtDialog, 100, kLangEnUs, makeDialog(u"Sample dialog")});
    resources.push_back({kRtDialog, 101, kLangZhCn, makeDialogEx(u"示例对话框")});
    resources.push_back({kRtMenu, 100, kLangEnUs, makeMenu()});
    resources.push_back({kRtHtml, u"ABOUT.HTML", kLangEnUs, makeHtml("About Kestrel sample")});
    resources.push_back({kRtManifest, 2, kLangEnUs, makeManifest()});
    resources.push_back({kRtRcData, 1, kLangEnUs, bytesOf("raw data \x01\x02\x03"), 1252});

    resources.push_back({u"AVI", 150, kLangEnUs, riffStub("AVI ")});
    resources.push_back(
        {u"UIFILE", 1000, kLangEnUs, bytesOf("<duixml><element id=\"atom(root)\"/></duixml>\r\n")});

    // A named type whose entries carry characters that need escaping or conversion.
    const ResourceId custom{u"MY_DATA"};
    resources.push_back({custom, u"A&B", kLangEnUs, bytesOf("ampersand")});
    resources.push_back({custom, u"SAY_\"HI\"", kLangEnUs, bytesOf("quotes")});
    resources.push_back({custom, u"CAFÉ_é", kLangEnUs, bytesOf("latin")});
    resources.push_back({custom, u"中文名", kLangZhCn, bytesOf("chinese")});
    resources.push_back({custom, 7, 0, bytesOf("neutral language")});
    resources.push_back({custom, 8, kLangEnUs, {}});  // a data entry of size 0
    return resources;
}

ImagePlan sampleImagePlan() {
    ImagePlan plan;
    plan.resources = sampleResources();
    SectionPlan data;
    data.name = ".data";
    data.data = bytesOf("Kestrel sample data section");
    data.characteristics = 0xC0000040;  // initialized, read, write
    plan.sectionsBeforeResources.push_back(std::move(data));
    return plan;
}

ByteVector buildSampleImage() {
    return buildImage(sampleImagePlan());
}

}  // namespace kestrel::pebuilder

// Resource payloads: bitmaps, icon and cursor images and groups, string blocks, version blocks,
// dialog and menu templates, and a few text resources.
#include <cstdio>

#include "core/platform/byte_reader.h"
#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {
namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

std::uint32_t rowStride(std::int64_t width, std::uint32_t bitCount) {
    return static_cast<std::uint32_t>((width * bitCount + 31) / 32 * 4);
}

// Deterministic pseudo-random bytes, so that every build writes the same sample.
std::uint8_t patternByte(std::uint32_t seed, std::uint32_t index) {
    std::uint32_t value = (seed + 1) * 2654435761u ^ index * 40503u;
    value ^= value >> 13;
    value *= 0x5BD1E995u;
    value ^= value >> 15;
    return static_cast<std::uint8_t>(value);
}

void writeUtf16z(ByteWriter& out, std::u16string_view text) {
    for (char16_t unit : text)
        out.u16(unit);
    out.u16(0);
}

// BITMAPINFOHEADER (40 bytes) or BITMAPV5HEADER (124 bytes) fields shared by all our images.
void writeInfoHeader(ByteWriter& out, const DibPlan& plan, std::int32_t headerHeight,
                     std::uint32_t imageSize) {
    const bool masks = plan.bitfields && (plan.bitCount == 16 || plan.bitCount == 32);
    out.u32(plan.v5Header ? 124 : 40);
    out.u32(static_cast<std::uint32_t>(plan.width));
    out.u32(static_cast<std::uint32_t>(headerHeight));
    out.u16(1);
    out.u16(plan.bitCount);
    out.u32(masks ? kBiBitfields : kBiRgb);
    out.u32(imageSize);
    out.u32(2835);  // 72 dpi
    out.u32(2835);
    out.u32(0);  // colours used: all of the bit depth
    out.u32(0);
    const std::uint32_t red = plan.bitCount == 16 ? 0xF800 : 0x00FF0000;
    const std::uint32_t green = plan.bitCount == 16 ? 0x07E0 : 0x0000FF00;
    const std::uint32_t blue = plan.bitCount == 16 ? 0x001F : 0x000000FF;
    if (plan.v5Header) {
        out.u32(masks ? red : 0);
        out.u32(masks ? green : 0);
        out.u32(masks ? blue : 0);
        out.u32(masks && plan.bitCount == 32 ? 0xFF000000u : 0);
        out.u32(0x73524742);  // LCS_sRGB
        out.zeros(36 + 12);   // end points, gamma
        out.u32(4);           // LCS_GM_IMAGES
        out.u32(0);           // profile data
        out.u32(0);           // profile size
        out.u32(0);
    } else if (masks) {
        out.u32(red);
        out.u32(green);
        out.u32(blue);
    }
}

void writePalette(ByteWriter& out, std::uint16_t bitCount, std::uint32_t seed) {
    if (bitCount > 8) return;
    const std::uint32_t colours = 1u << bitCount;
    for (std::uint32_t i = 0; i < colours; ++i) {
        out.u8(patternByte(seed, i * 3));
        out.u8(patternByte(seed, i * 3 + 1));
        out.u8(patternByte(seed, i * 3 + 2));
        out.u8(0);
    }
}

// Colour rows: palette indexes in bands; 16/24/32 bits a gradient (32 bits with varying alpha).
// 16-bit pixels are 5-6-5 with bit fields and 5-5-5 without.
void writePixels(ByteWriter& out, std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                 std::uint32_t seed, bool bitfields = false) {
    const std::uint32_t stride = rowStride(width, bitCount);
    for (std::int32_t y = 0; y < height; ++y) {
        ByteWriter row;
        if (bitCount <= 8) {
            std::uint32_t accumulator = 0, bits = 0;
            for (std::int32_t x = 0; x < width; ++x) {
                std::uint32_t index = static_cast<std::uint32_t>(x / 2 + y + seed) & ((1u << bitCount) - 1);
                accumulator = (accumulator << bitCount) | index;
                bits += bitCount;
                if (bits == 8) {
                    row.u8(accumulator);
                    accumulator = bits = 0;
                }
            }
            if (bits) row.u8(accumulator << (8 - bits));
        } else {
            for (std::int32_t x = 0; x < width; ++x) {
                std::uint32_t b = static_cast<std::uint32_t>(x * 255 / std::max(width, 1));
                std::uint32_t g = static_cast<std::uint32_t>(y * 255 / std::max(height, 1));
                std::uint32_t r = patternByte(seed, static_cast<std::uint32_t>(x + y * width)) & 0x3F;
                if (bitCount == 16 && bitfields) {
                    row.u16(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
                } else if (bitCount == 16) {
                    row.u16(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                } else {
                    row.u8(b);
                    row.u8(g);
                    row.u8(r);
                    if (bitCount == 32)
                        row.u8(static_cast<std::uint32_t>((x + y) * 255 / std::max(width + height - 2, 1)));
                }
            }
        }
        row.zeros(stride - row.size());
        out.append(asBytes(row.bytes()));
    }
}

IconImage dibIconImage(std::uint16_t size, std::uint16_t bitCount, std::uint32_t seed) {
    DibPlan plan;
    plan.width = size;
    plan.height = size;
    plan.bitCount = bitCount;
    plan.seed = seed;
    const std::uint32_t colourSize = rowStride(size, bitCount) * size;
    const std::uint32_t maskSize = rowStride(size, 1) * size;
    ByteWriter out;
    writeInfoHeader(out, plan, 2 * size, colourSize + maskSize);
    writePalette(out, bitCount, seed);
    writePixels(out, size, size, bitCount, seed);
    // AND mask: the corners transparent.
    const std::uint32_t maskStride = rowStride(size, 1);
    const std::uint32_t border = size / 8u, far = size - border;
    for (std::uint32_t y = 0; y < size; ++y) {
        ByteWriter row;
        std::uint32_t accumulator = 0, bits = 0;
        for (std::uint32_t x = 0; x < size; ++x) {
            bool corner = (x < border || x >= far) && (y < border || y >= far);
            accumulator = (accumulator << 1) | (corner ? 1 : 0);
            if (++bits == 8) {
                row.u8(accumulator);
                accumulator = bits = 0;
            }
        }
        if (bits) row.u8(accumulator << (8 - bits));
        row.zeros(maskStride - row.size());
        out.append(asBytes(row.bytes()));
    }
    IconImage image;
    image.data = std::move(out.bytes());
    image.width = size;
    image.height = size;
    image.bitCount = bitCount;
    image.colorCount = bitCount < 8 ? static_cast<std::uint8_t>(1u << bitCount) : 0;
    return image;
}

ByteVector makeGroup(std::uint16_t type, const std::vector<std::pair<IconImage, std::uint16_t>>& members) {
    ByteWriter out;
    out.u16(0);
    out.u16(type);
    out.u16(static_cast<std::uint32_t>(members.size()));
    for (const auto& [image, id] : members) {
        if (type == 1) {
            out.u8(image.width & 0xFF);  // 256 is written as 0
            out.u8(image.height & 0xFF);
            out.u8(image.colorCount);
            out.u8(0);
        } else {
            out.u16(image.width);
            out.u16(2u * image.height);  // cursor groups count colour and mask rows
        }
        out.u16(1);
        out.u16(image.bitCount);
        out.u32(static_cast<std::uint32_t>(image.data.size()));
        out.u16(id);
    }
    return std::move(out.bytes());
}

// One VS_VERSIONINFO-style block: length, value length, type, key, value, children; each part
// starts on a 4-byte boundary of the block.
ByteVector versionBlock(std::u16string_view key, std::uint16_t type, const ByteVector& value,
                        std::uint16_t valueLength, const std::vector<ByteVector>& children) {
    ByteWriter out;
    out.u16(0);
    out.u16(valueLength);
    out.u16(type);
    writeUtf16z(out, key);
    out.alignTo(4);
    out.append(asBytes(value));
    for (const ByteVector& child : children) {
        out.alignTo(4);
        out.append(asBytes(child));
    }
    out.patchU16(0, static_cast<std::uint32_t>(out.size()));
    return std::move(out.bytes());
}

void writeDialogItems(ByteWriter& out, bool extended) {
    struct Item {
        std::uint32_t style;
        std::int16_t x, y, cx, cy;
        std::uint16_t id;
        std::uint16_t classAtom;
        std::u16string_view text;
    };
    static constexpr Item kItems[] = {
        {0x50020000, 7, 7, 120, 8, 0xFFFF, 0x0082, u"&Name:"},  // static
        {0x50810080, 7, 18, 170, 14, 1001, 0x0081, u""},        // edit
        {0x50010001, 127, 40, 50, 14, 1, 0x0080, u"OK"},        // default push button
    };
    for (const Item& item : kItems) {
        out.alignTo(4);
        if (extended) {
            out.u32(0);  // help ID
            out.u32(0);  // extended style
            out.u32(item.style);
        } else {
            out.u32(item.style);
            out.u32(0);
        }
        out.u16(static_cast<std::uint16_t>(item.x));
        out.u16(static_cast<std::uint16_t>(item.y));
        out.u16(static_cast<std::uint16_t>(item.cx));
        out.u16(static_cast<std::uint16_t>(item.cy));
        if (extended)
            out.u32(item.id == 0xFFFF ? 0xFFFFFFFFu : item.id);
        else
            out.u16(item.id);
        out.u16(0xFFFF);
        out.u16(item.classAtom);
        writeUtf16z(out, item.text);
        out.u16(0);  // no creation data
    }
}

constexpr std::uint32_t kDialogStyle = 0x80C800C0;  // popup, caption, system menu, modal frame, set font

}  // namespace

ByteVector bytesOf(std::string_view text) {
    Bytes bytes = asBytes(text);
    return ByteVector(bytes.begin(), bytes.end());
}

ByteVector utf16Bytes(std::u16string_view text) {
    ByteWriter out;
    for (char16_t unit : text)
        out.u16(unit);
    return std::move(out.bytes());
}

ByteVector makeDib(const DibPlan& plan) {
    const std::int32_t height = plan.height < 0 ? -plan.height : plan.height;
    const std::uint32_t imageSize = rowStride(plan.width, plan.bitCount) * static_cast<std::uint32_t>(height);
    ByteWriter out;
    writeInfoHeader(out, plan, plan.topDown ? -height : height, imageSize);
    writePalette(out, plan.bitCount, plan.seed);
    writePixels(out, plan.width, height, plan.bitCount, plan.seed, plan.bitfields);
    return std::move(out.bytes());
}

ByteVector bmpFileFromDib(const ByteVector& dib) {
    ByteReader reader{asBytes(dib)};
    const std::uint32_t headerSize = reader.u32Or(0, 40);
    const std::uint16_t bitCount = reader.u16Or(14, 0);
    const std::uint32_t compression = reader.u32Or(16, 0);
    std::uint32_t colours = reader.u32Or(32, 0);
    if (colours == 0 && bitCount <= 8) colours = 1u << bitCount;
    const std::uint32_t masks = (headerSize == 40 && compression == kBiBitfields) ? 12 : 0;
    ByteWriter out;
    out.u16(0x4D42);  // "BM"
    out.u32(static_cast<std::uint32_t>(14 + dib.size()));
    out.u32(0);
    out.u32(14 + headerSize + masks + 4 * colours);
    out.append(asBytes(dib));
    return std::move(out.bytes());
}

IconImage makeIconImage(std::uint16_t size, std::uint16_t bitCount, std::uint32_t seed) {
    return dibIconImage(size, bitCount, seed);
}

IconImage makeCursorImage(std::uint16_t size, std::uint16_t bitCount, std::uint16_t hotX, std::uint16_t hotY,
                          std::uint32_t seed) {
    IconImage image = dibIconImage(size, bitCount, seed);
    ByteWriter out;
    out.u16(hotX);
    out.u16(hotY);
    out.append(asBytes(image.data));
    image.data = std::move(out.bytes());
    return image;
}

ByteVector makeIconGroup(const std::vector<std::pair<IconImage, std::uint16_t>>& members) {
    return makeGroup(1, members);
}

ByteVector makeIcoFile(const std::vector<IconImage>& images) {
    ByteWriter out;
    out.u16(0);
    out.u16(1);
    out.u16(static_cast<std::uint16_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (const IconImage& image : images) {
        out.u8(static_cast<std::uint8_t>(image.width));
        out.u8(static_cast<std::uint8_t>(image.height));
        out.u8(image.colorCount);
        out.u8(0);
        out.u16(1);
        out.u16(image.bitCount);
        out.u32(static_cast<std::uint32_t>(image.data.size()));
        out.u32(offset);
        offset += static_cast<std::uint32_t>(image.data.size());
    }
    for (const IconImage& image : images)
        out.append(asBytes(image.data));
    return std::move(out.bytes());
}

ByteVector makeCursorGroup(const std::vector<std::pair<IconImage, std::uint16_t>>& members) {
    return makeGroup(2, members);
}

void addIconGroup(std::vector<Resource>& resources, const ResourceId& groupName, std::uint16_t language,
                  std::uint16_t firstMemberId, const std::vector<IconImage>& images) {
    std::vector<std::pair<IconImage, std::uint16_t>> members;
    for (std::size_t i = 0; i < images.size(); ++i) {
        auto id = static_cast<std::uint16_t>(firstMemberId + i);
        resources.push_back({kRtIcon, id, language, images[i].data});
        members.emplace_back(images[i], id);
    }
    resources.push_back({kRtGroupIcon, groupName, language, makeIconGroup(members)});
}

void addCursorGroup(std::vector<Resource>& resources, const ResourceId& groupName, std::uint16_t language,
                    std::uint16_t firstMemberId, const std::vector<IconImage>& images) {
    std::vector<std::pair<IconImage, std::uint16_t>> members;
    for (std::size_t i = 0; i < images.size(); ++i) {
        auto id = static_cast<std::uint16_t>(firstMemberId + i);
        resources.push_back({kRtCursor, id, language, images[i].data});
        members.emplace_back(images[i], id);
    }
    resources.push_back({kRtGroupCursor, groupName, language, makeCursorGroup(members)});
}

ByteVector makeStringBlock(const std::vector<std::u16string>& slots) {
    ByteWriter out;
    for (std::size_t i = 0; i < 16; ++i) {
        std::u16string_view text = i < slots.size() ? std::u16string_view{slots[i]} : std::u16string_view{};
        out.u16(static_cast<std::uint32_t>(text.size()));
        for (char16_t unit : text)
            out.u16(unit);
    }
    return std::move(out.bytes());
}

void addStrings(std::vector<Resource>& resources, std::uint16_t language,
                const std::map<std::uint16_t, std::u16string>& strings) {
    std::map<std::uint16_t, std::vector<std::u16string>> blocks;
    for (const auto& [id, text] : strings) {
        auto& slots = blocks[static_cast<std::uint16_t>(id / 16 + 1)];
        slots.resize(16);
        slots[id % 16] = text;
    }
    for (const auto& [blockId, slots] : blocks)
        resources.push_back({kRtString, blockId, language, makeStringBlock(slots)});
}

ByteVector makeVersionInfo(const VersionPlan& plan) {
    ByteWriter fixed;
    fixed.u32(0xFEEF04BD);
    fixed.u32(0x00010000);
    fixed.u32((static_cast<std::uint32_t>(plan.fileVersion[0]) << 16) | plan.fileVersion[1]);
    fixed.u32((static_cast<std::uint32_t>(plan.fileVersion[2]) << 16) | plan.fileVersion[3]);
    fixed.u32((static_cast<std::uint32_t>(plan.productVersion[0]) << 16) | plan.productVersion[1]);
    fixed.u32((static_cast<std::uint32_t>(plan.productVersion[2]) << 16) | plan.productVersion[3]);
    fixed.u32(0x3F);  // flags mask
    fixed.u32(plan.fileFlags);
    fixed.u32(plan.fileOs);
    fixed.u32(plan.fileType);
    fixed.u32(0);  // subtype
    fixed.u32(0);  // date
    fixed.u32(0);

    auto stringTable = [](std::uint16_t language, std::uint16_t codePage,
                          const std::vector<std::pair<std::u16string, std::u16string>>& pairs) {
        std::vector<ByteVector> strings;
        for (const auto& [key, value] : pairs) {
            ByteWriter text;
            writeUtf16z(text, value);
            strings.push_back(
                versionBlock(key, 1, text.bytes(), static_cast<std::uint16_t>(value.size() + 1), {}));
        }
        char tableKey[9];
        std::snprintf(tableKey, sizeof tableKey, "%04x%04x", language, codePage);
        return versionBlock(std::u16string(tableKey, tableKey + 8), 1, {}, 0, strings);
    };
    std::vector<ByteVector> tables{stringTable(plan.language, plan.codePage, plan.strings)};
    ByteWriter translation;
    translation.u16(plan.language);
    translation.u16(plan.codePage);
    for (const VersionPlan::Table& table : plan.moreTables) {
        tables.push_back(stringTable(table.language, table.codePage, table.strings));
        translation.u16(table.language);
        translation.u16(table.codePage);
    }
    ByteVector stringInfo = versionBlock(u"StringFileInfo", 1, {}, 0, tables);

    ByteVector var = versionBlock(u"Translation", 0, translation.bytes(),
                                  static_cast<std::uint16_t>(translation.size()), {});
    ByteVector varInfo = versionBlock(u"VarFileInfo", 1, {}, 0, {var});

    return versionBlock(u"VS_VERSION_INFO", 0, fixed.bytes(), static_cast<std::uint16_t>(fixed.size()),
                        {stringInfo, varInfo});
}

VersionPlan defaultVersionPlan() {
    VersionPlan plan;
    plan.strings = {
        {u"CompanyName", u"Kestrel Test Works"},
        {u"FileDescription", u"Kestrel sample library"},
        {u"FileVersion", u"1.0.2.0"},
        {u"InternalName", u"sample"},
        {u"LegalCopyright", u"Copyright (C) Kestrel developers"},
        {u"OriginalFilename", u"sample.dll"},
        {u"ProductName", u"Kestrel Sample"},
        {u"ProductVersion", u"1.0.2.0"},
    };
    return plan;
}

ByteVector makeDialog(std::u16string_view caption) {
    ByteWriter out;
    out.u32(kDialogStyle);
    out.u32(0);  // extended style
    out.u16(3);  // controls
    out.u16(0);
    out.u16(0);
    out.u16(186);
    out.u16(62);
    out.u16(0);  // no menu
    out.u16(0);  // default class
    writeUtf16z(out, caption);
    out.u16(9);
    writeUtf16z(out, u"MS Shell Dlg");
    writeDialogItems(out, false);
    return std::move(out.bytes());
}

ByteVector makeDialogEx(std::u16string_view caption) {
    ByteWriter out;
    out.u16(1);
    out.u16(0xFFFF);
    out.u32(0);  // help ID
    out.u32(0);  // extended style
    out.u32(kDialogStyle);
    out.u16(3);
    out.u16(0);
    out.u16(0);
    out.u16(186);
    out.u16(62);
    out.u16(0);
    out.u16(0);
    writeUtf16z(out, caption);
    out.u16(9);    // point size
    out.u16(400);  // weight
    out.u8(0);     // italic
    out.u8(1);     // default charset
    writeUtf16z(out, u"MS Shell Dlg");
    writeDialogItems(out, true);
    return std::move(out.bytes());
}

ByteVector makeMenu() {
    constexpr std::uint16_t kPopup = 0x10, kEnd = 0x80;
    ByteWriter out;
    out.u16(0);  // version
    out.u16(0);  // header size
    out.u16(kPopup);
    writeUtf16z(out, u"&File");
    out.u16(0);
    out.u16(100);
    writeUtf16z(out, u"&Open...\tCtrl+O");
    out.u16(0);  // separator
    out.u16(0);
    writeUtf16z(out, u"");
    out.u16(kEnd);
    out.u16(101);
    writeUtf16z(out, u"E&xit");
    out.u16(kEnd);
    out.u16(102);
    writeUtf16z(out, u"&About");
    return std::move(out.bytes());
}

ByteVector makeHtml(std::string_view title) {
    std::string text = "<html>\r\n<head><meta charset=\"utf-8\"><title>";
    text += title;
    text += "</title></head>\r\n<body><h1>";
    text += title;
    text += "</h1><p>Kestrel sample page.</p></body>\r\n</html>\r\n";
    return bytesOf(text);
}

ByteVector makeManifest() {
    return bytesOf(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <assemblyIdentity type=\"win32\" name=\"Kestrel.Sample\" version=\"1.0.2.0\" "
        "processorArchitecture=\"x86\"/>\r\n"
        "  <description>Kestrel sample library</description>\r\n"
        "</assembly>\r\n");
}

}  // namespace kestrel::pebuilder

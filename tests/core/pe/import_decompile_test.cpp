// DecompileFile: reading the PE file, the dump, the project file; and a whole import of the rich
// sample compared with the resources the builder put in.
#include <gtest/gtest.h>

#include <set>

#include "core/images/png_codec.h"
#include "core/pe/decompile_file.h"
#include "import_test_support.h"

namespace kestrel::testing {
namespace {

TEST(DecompileFile, WritesTheProjectFile) {
    TempDir dir;
    std::filesystem::path pe = dir.write("in/theme.dll", std::string());
    ASSERT_EQ(WriteWholeFile(pe, asBytes(pb::buildSampleImage())), kOk);
    std::filesystem::path folder = dir / "new" / "work";
    std::filesystem::path project;
    RecordingSink sink;
    ASSERT_EQ(DecompileFile(pe, folder, project), kOk) << reportText();
    EXPECT_EQ(project, folder / "theme.kestrel");
    EXPECT_EQ(readText(project),
              "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n"
              "<ROOT>\r\n"
              "   <PEFILE FileName=\"pe.xml\"/>\r\n"
              "   <RESFILE FileName=\"" +
                  pathToUtf8(pe) +
                  "\"/>\r\n"
                  "</ROOT>\r\n");
    EXPECT_TRUE(std::filesystem::exists(folder / "pe.xml"));
}

// The import reads only the headers and the resource section; the header and section files and
// the overlay are copied from the file. Whatever the layout (headers longer than the first part
// read, a last section cut short, an overlay), those files hold the file's own bytes and the
// resources come out as from a whole read.
TEST(DecompileFile, FilesCopiedFromThePeFileHoldItsBytesWhateverTheLayout) {
    struct Layout {
        const char* what;
        std::uint32_t fileAlignment;
        std::size_t cut;
        const char* overlay;
    };
    for (const Layout& layout : {Layout{"headers past 4 KiB, overlay", 0x2000, 0, "appended payload"},
                                 Layout{"last section cut short", 0x200, 0x20, ""}}) {
        SCOPED_TRACE(layout.what);
        pb::ImagePlan plan;
        plan.resources.push_back({pb::kRtRcData, 1, pb::kLangEnUs, pb::bytesOf("payload")});
        plan.fileAlignment = layout.fileAlignment;
        plan.overlay = pb::bytesOf(layout.overlay);
        pb::BuiltImage built = pb::buildImageWithLayout(plan);
        pb::ByteVector bytes(built.bytes.begin(),
                             built.bytes.end() - static_cast<std::ptrdiff_t>(layout.cut));
        const auto part = [&](std::size_t offset, std::size_t count) {
            std::vector<std::byte> out(
                bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(offset + count, bytes.size())));
            out.resize(count, std::byte{0});  // a section cut short is padded with zeros
            return out;
        };
        TempDir dir;
        const std::filesystem::path pe = dir / "image.dll";
        ASSERT_EQ(WriteWholeFile(pe, asBytes(bytes)), kOk);
        std::filesystem::path project;
        ASSERT_EQ(DecompileFile(pe, dir / "work", project), kOk) << reportText();

        const std::uint32_t headersEnd = built.sections.front().rawOffset;
        EXPECT_EQ(readBytes(dir / "work/DOSHEADER.BIN"), part(0, built.peHeaderOffset));
        EXPECT_EQ(readBytes(dir / "work/NTHEADER.BIN"),
                  part(built.peHeaderOffset, headersEnd - built.peHeaderOffset));
        for (const pb::SectionLayout& section : built.sections) {
            if (section.name == ".rsrc") continue;
            EXPECT_EQ(readBytes(dir / "work" / (section.name.substr(1) + ".BIN")),
                      part(section.rawOffset, section.rawSize))
                << section.name;
        }
        if (*layout.overlay != 0) {
            EXPECT_EQ(readBytes(dir / "work/PEOVERLAY.BIN"),
                      part(built.overlayOffset, bytes.size() - built.overlayOffset));
        }
        bool resourceFound = false;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "work"))
            resourceFound = resourceFound || (entry.is_regular_file() && readText(entry.path()) == "payload");
        EXPECT_TRUE(resourceFound);

        // The same file handed over whole gives the same description.
        TempDir whole;
        ASSERT_EQ(dumpInto(bytes, whole.path()), kOk) << reportText();
        EXPECT_EQ(readText(dir / "work/pe.xml"), readText(whole / "pe.xml"));
    }
}

struct RefusedFileCase {
    const char* what;
    std::string content;
    std::uint32_t code;
    const char* message;
};

class DecompileFileRefuses : public ::testing::TestWithParam<RefusedFileCase> {};

TEST_P(DecompileFileRefuses, WithoutProjectOrDescription) {
    TempDir dir;
    std::filesystem::path pe = dir / "input.exe";
    if (GetParam().content != "<missing>") dir.write("input.exe", GetParam().content);
    std::filesystem::path project;
    EXPECT_EQ(DecompileFile(pe, dir / "work", project).value(), GetParam().code);
    EXPECT_NE(reportText().find(GetParam().message), std::string::npos) << reportText();
    EXPECT_FALSE(std::filesystem::exists(dir / "work" / "pe.xml"));
    EXPECT_FALSE(std::filesystem::exists(dir / "work" / "input.kestrel"));
}

INSTANTIATE_TEST_SUITE_P(Files, DecompileFileRefuses,
                         ::testing::Values(RefusedFileCase{"Missing", "<missing>", 0x80070002u, ""},
                                           RefusedFileCase{"Empty", "", 0x800703EEu, ""},
                                           RefusedFileCase{"NotMz", "ZM not a program", 0x80004005u,
                                                           "的格式无法被识别。"},
                                           RefusedFileCase{"MzOnly", "MZ", 0x80004005u, "e_lfanew"}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(DecompileFile, ProjectFileNameIsNotTakenByAResource) {
    TempDir dir;
    pb::ImagePlan plan;
    plan.resources = {{pb::kRtRcData, u"app.kestrel", 1033, pb::bytesOf("resource")}};
    std::filesystem::path pe = dir / "app.exe";
    ASSERT_EQ(WriteWholeFile(pe, asBytes(pb::buildImage(plan))), kOk);
    std::filesystem::path project;
    ASSERT_EQ(DecompileFile(pe, dir / "work", project), kOk) << reportText();
    EXPECT_EQ(readBytes(dir / "work" / "app~1033.kestrel"), pb::bytesOf("resource"));
    EXPECT_NE(readText(project).find("<PEFILE"), std::string::npos);
}

TEST(DecompileFile, AProjectFileThatCannotBeWrittenFailsTheImport) {
    TempDir dir;
    std::filesystem::path pe = dir / "app.exe";
    ASSERT_EQ(WriteWholeFile(pe, asBytes(pb::buildSampleImage())), kOk);
    // A folder where the project file belongs makes its write fail, also for root.
    std::filesystem::create_directories(dir / "work" / "app.kestrel");
    std::filesystem::path project;
    HResult hr = DecompileFile(pe, dir / "work", project);
    EXPECT_TRUE(hr.failed());
    EXPECT_NE(reportText().find("未能建立文件"), std::string::npos) << reportText();
}

// A failed import leaves the folder as it found it: a new folder is gone again, an existing one
// keeps exactly what it held. A folder that cannot be created fails the import, named.
TEST(DecompileFile, AFailedImportTakesAwayWhatItWrote) {
    pb::ImagePlan packed;
    packed.resources = {{pb::kRtRcData, 1, 1033, pb::bytesOf("one")},
                        {pb::kRtRcData, 2, 1033, pb::bytesOf("two")}};
    packed.resourceOptions.fault = pb::TreeFault::kDataOffsetPastSection;
    pb::ImagePlan broken;
    broken.fault = pb::ImageFault::kSizeOfHeadersTooSmall;
    for (const pb::ImagePlan& plan : {packed, broken}) {
        TempDir dir;
        std::filesystem::path pe = dir / "app.exe";
        ASSERT_EQ(WriteWholeFile(pe, asBytes(pb::buildImage(plan))), kOk);
        std::filesystem::path project;
        EXPECT_TRUE(DecompileFile(pe, dir / "new" / "work", project).failed());
        EXPECT_FALSE(std::filesystem::exists(dir / "new" / "work"));

        dir.write("old/mine.txt", "mine");
        dir.write("old/sub/keep.bin", "keep");
        EXPECT_TRUE(DecompileFile(pe, dir / "old", project).failed());
        std::set<std::string> left;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "old"))
            left.insert(entry.path().lexically_relative(dir / "old").generic_string());
        EXPECT_EQ(left, (std::set<std::string>{"mine.txt", "sub", "sub/keep.bin"}));
    }

    TempDir dir;
    std::filesystem::path pe = dir / "app.exe";
    ASSERT_EQ(WriteWholeFile(pe, asBytes(pb::buildSampleImage())), kOk);
    dir.write("plain", "a file where a folder belongs");
    std::filesystem::path project;
    EXPECT_TRUE(DecompileFile(pe, dir / "plain" / "work", project).failed());
    EXPECT_NE(reportText().find("未能建立目录"), std::string::npos) << reportText();
}

// A PE file imported into the folder it lies in: an output under a fixed name equal to its own
// name would overwrite it, so the import is refused before anything is written; under any other
// name it is imported, and a resource that would take its name gets another one.
class ImportIntoOwnFolder : public ::testing::TestWithParam<const char*> {};

TEST_P(ImportIntoOwnFolder, NeverOverwritesTheFileBeingImported) {
    TempDir dir;
    pb::ImagePlan plan = pb::sampleImagePlan();
    plan.resources.push_back(
        {pb::kRtRcData, u"APP.DLL", 1033, pb::bytesOf("a resource named like the file")});
    const std::vector<std::byte> original = pb::buildImage(plan);
    const std::filesystem::path pe = dir / "work" / GetParam();
    std::filesystem::create_directories(pe.parent_path());
    ASSERT_EQ(WriteWholeFile(pe, asBytes(original)), kOk);
    std::filesystem::path project;
    RecordingSink sink;
    const HResult hr = DecompileFile(pe, dir / "work", project);

    EXPECT_EQ(readBytes(pe), original);
    const std::string name = GetParam();
    if (name == "APP.DLL" || name == "sub/DOSHEADER.BIN") {
        ASSERT_EQ(hr, kOk) << reportText();
        // The resource named like the file is not lost: it went to another name.
        bool found = false;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "work")) {
            if (entry.is_regular_file() && entry.path() != pe &&
                readBytes(entry.path()) == pb::bytesOf("a resource named like the file"))
                found = true;
        }
        EXPECT_TRUE(found);
    } else {
        EXPECT_EQ(hr.value(), 0x80070050u);
        EXPECT_NE(reportText().find("位于工作目录中"), std::string::npos) << reportText();
        // Nothing was written: the folder holds the file being imported and nothing else.
        for (const auto& entry : std::filesystem::directory_iterator(dir / "work"))
            EXPECT_EQ(entry.path(), pe);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ImportIntoOwnFolder,
                         ::testing::Values("APP.DLL", "sub/DOSHEADER.BIN", "DOSHEADER.BIN", "ntheader.bin",
                                           "PEOVERLAY.BIN", "pe.xml", "STRINGS.XML", "text.BIN",
                                           "app.kestrel"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// Every resource the builder put in comes out in a file whose bytes give it back.
TEST(DecompileFile, SampleResourcesComeOutComplete) {
    TempDir dir;
    std::filesystem::path pe = dir / "sample.dll";
    ASSERT_EQ(WriteWholeFile(pe, asBytes(pb::buildSampleImage())), kOk);
    std::filesystem::path project;
    RecordingSink sink;
    ASSERT_EQ(DecompileFile(pe, dir / "work", project), kOk) << reportText();
    auto described = readDescription(dir / "work");
    ASSERT_TRUE(described.has_value());

    std::size_t checked = 0;
    for (const auto& resource : pb::sampleResources()) {
        const DumpedResource* dumped =
            findDumped(*described, resource.type, resource.name, resource.language);
        ASSERT_NE(dumped, nullptr) << keyOf(resource.type) << " " << keyOf(resource.name) << " "
                                   << resource.language;
        if (resource.data.empty()) {
            EXPECT_TRUE(dumped->file.empty());
            continue;
        }
        if (!resource.type.isName && resource.type.id == pb::kRtString) {
            EXPECT_EQ(dumped->file, "STRINGS.XML");
            continue;
        }
        std::filesystem::path path;
        ASSERT_EQ(resolveStored(dir / "work", dumped->file, path), kOk) << dumped->file;
        std::vector<std::byte> file = readBytes(path);
        std::uint16_t type = resource.type.isName ? 0 : resource.type.id;
        if (type == pb::kRtBitmap && dumped->png == 1) {
            std::filesystem::path png;
            ASSERT_EQ(resolveStored(dir / "work", pngSiblingName(dumped->file), png), kOk);
            ImageRecord record;
            EXPECT_EQ(PngConverter().ReadPngFile(png, record), kOk) << dumped->file;
            EXPECT_FALSE(std::filesystem::exists(path));
        } else if (type == pb::kRtBitmap) {
            EXPECT_EQ(tail(file, 14), resource.data) << dumped->file;
        } else if (type == pb::kRtIcon) {
            EXPECT_EQ(tail(file, 22), resource.data) << dumped->file;
        } else if (type == pb::kRtCursor) {
            EXPECT_EQ(tail(file, 22), tail(resource.data, 4)) << dumped->file;
        } else {
            EXPECT_EQ(file, resource.data) << dumped->file;
        }
        ++checked;
    }
    EXPECT_GT(checked, 30u);
}

}  // namespace
}  // namespace kestrel::testing

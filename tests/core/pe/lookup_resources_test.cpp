// The read-only resource lookup over a loaded image.
#include <gtest/gtest.h>

#include "core/pe/resource_reader.h"
#include "import_test_support.h"

namespace kestrel::testing {
namespace {

ResourceKey keyFor(const pb::ResourceId& id) {
    return id.isName ? ResourceKey::ofName(id.name) : ResourceKey::ofId(id.id);
}

TEST(ResourceLookup, FindsEveryResourceOfTheSample) {
    pb::ByteVector image = pb::buildSampleImage();
    ResourceLookup lookup;
    ASSERT_EQ(lookup.open(Bytes(image.data(), image.size())), kOk);
    std::vector<pb::Resource> resources = pb::sampleResources();
    for (const auto& resource : resources) {
        auto found = lookup.find(keyFor(resource.type), keyFor(resource.name), resource.language);
        ASSERT_TRUE(found.has_value()) << keyOf(resource.type) << " " << keyOf(resource.name);
        EXPECT_EQ(std::vector<std::byte>(found->begin(), found->end()), resource.data);
    }
    std::vector<ResourceKey> types = lookup.types();
    for (const auto& resource : resources)
        EXPECT_NE(std::find(types.begin(), types.end(), keyFor(resource.type)), types.end());
}

TEST(ResourceLookup, ListsLanguagesAndDefaultsToTheFirst) {
    std::vector<pb::Resource> resources;
    for (std::uint16_t language : {pb::kLangZhCn, pb::kLangDeDe, pb::kLangEnUs})
        resources.push_back({pb::kRtRcData, u"Data", language, pb::bytesOf(std::to_string(language))});
    pb::ImagePlan plan;
    plan.resources = resources;
    pb::ByteVector image = pb::buildImage(plan);
    ResourceLookup lookup;
    ASSERT_EQ(lookup.open(Bytes(image.data(), image.size())), kOk);
    ResourceKey type = ResourceKey::ofId(pb::kRtRcData);
    EXPECT_EQ(lookup.languages(type, ResourceKey::ofName(u"Data")),
              (std::vector<std::uint16_t>{pb::kLangDeDe, pb::kLangEnUs, pb::kLangZhCn}));
    auto first = lookup.find(type, ResourceKey::ofName(u"DATA"));  // names ignore ASCII case
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(std::vector<std::byte>(first->begin(), first->end()), pb::bytesOf("1031"));
    EXPECT_FALSE(lookup.find(type, ResourceKey::ofName(u"Data"), 1041).has_value());
    EXPECT_FALSE(lookup.find(type, ResourceKey::ofId(1)).has_value());
}

// A crafted section whose 2,000 names all lead to one directory of 2,000 languages: followed from
// every name it made four million resources (a fuzz input ran for minutes). As in the import, the
// shared directory belongs to the first name that leads to it.
TEST(ResourceLookup, ADirectorySharedByManyEntriesIsFollowedOnce) {
    constexpr std::uint32_t kCount = 2000;
    constexpr std::uint32_t kSectionRva = 0x1000;
    constexpr std::uint32_t kTypeDir = 24;
    constexpr std::uint32_t kNameDir = kTypeDir + 16 + kCount * 8;
    constexpr std::uint32_t kDataEntry = kNameDir + 16 + kCount * 8;
    ByteWriter out;
    auto directory = [&](std::uint32_t ids) {
        out.zeros(12);
        out.u16(0);
        out.u16(ids);
    };
    directory(1);
    out.u32(10);
    out.u32(0x80000000u | kTypeDir);
    for (std::uint32_t target : {kNameDir, kDataEntry}) {
        directory(kCount);
        for (std::uint32_t i = 1; i <= kCount; ++i) {
            out.u32(i);
            out.u32(target == kNameDir ? 0x80000000u | kNameDir : kDataEntry);
        }
    }
    out.u32(kSectionRva + kDataEntry + 16);
    out.u32(4);
    out.zeros(8);
    out.append(asBytes(std::string_view("abcd")));

    ResourceLookup lookup;
    lookup.openSection(Bytes(out.bytes().data(), out.bytes().size()), kSectionRva);
    const ResourceKey type = ResourceKey::ofId(10);
    EXPECT_EQ(lookup.names(type).size(), kCount);
    EXPECT_EQ(lookup.languages(type, ResourceKey::ofId(1)).size(), kCount);
    auto found = lookup.find(type, ResourceKey::ofId(1), 1234);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(found->data()), found->size()), "abcd");
    EXPECT_TRUE(lookup.languages(type, ResourceKey::ofId(2)).empty());
    EXPECT_FALSE(lookup.find(type, ResourceKey::ofId(kCount)).has_value());
}

TEST(ResourceLookup, RefusesImagesItCannotRead) {
    pb::ImagePlan noResources;
    noResources.withResourceSection = false;
    pb::ImagePlan rom;
    rom.fault = pb::ImageFault::kRomMagic;
    for (const pb::ByteVector& image :
         {pb::buildImage(noResources), pb::buildImage(rom), pb::bytesOf("MZ")}) {
        ResourceLookup lookup;
        EXPECT_EQ(lookup.open(Bytes(image.data(), image.size())), kFail);
        EXPECT_TRUE(lookup.types().empty());
        EXPECT_FALSE(lookup.find(ResourceKey::ofId(1), ResourceKey::ofId(1)).has_value());
    }
}

class LookupOnMalformedTree : public ::testing::TestWithParam<pb::TreeFault> {};

TEST_P(LookupOnMalformedTree, NeverReadsOutsideTheSection) {
    pb::ImagePlan plan;
    plan.resources = {{pb::kRtRcData, u"NAMED", 1033, pb::bytesOf("a")},
                      {pb::kRtRcData, 2, 1033, pb::bytesOf("b")}};
    plan.resourceOptions.fault = GetParam();
    pb::ByteVector image = pb::buildImage(plan);
    ResourceLookup lookup;
    ASSERT_EQ(lookup.open(Bytes(image.data(), image.size())), kOk);
    for (const auto& type : lookup.types())
        for (const auto& name : lookup.names(type)) {
            for (std::uint16_t language : lookup.languages(type, name))
                (void)lookup.find(type, name, language);
            (void)lookup.find(type, name);
        }
    auto two = lookup.find(ResourceKey::ofId(pb::kRtRcData), ResourceKey::ofId(2), 1033);
    if (two) {
        EXPECT_LE(two->size(), lookup.reader().sectionSize());
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, LookupOnMalformedTree,
                         ::testing::Values(pb::TreeFault::kEntryPointsAtItsOwnDirectory,
                                           pb::TreeFault::kEntryPointsAtRoot,
                                           pb::TreeFault::kDataOffsetPastSection,
                                           pb::TreeFault::kDataSizePastSection, pb::TreeFault::kNamePastEnd,
                                           pb::TreeFault::kCountLargerThanData));

}  // namespace
}  // namespace kestrel::testing

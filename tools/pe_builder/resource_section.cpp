// Resource directory layout: three levels (type, name, language), then data entries and data.
#include <algorithm>
#include <memory>

#include "core/platform/byte_reader.h"
#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {
namespace {

constexpr std::uint32_t kDirectoryHeaderSize = 16;
constexpr std::uint32_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kNameFlag = 0x80000000u;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
    if (alignment <= 1) return value;
    return (value + alignment - 1) / alignment * alignment;
}

// Case folding for the name order: ASCII and Latin-1 letters, which is all our names need.
char16_t foldCase(char16_t unit) {
    if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - 0x20);
    if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return static_cast<char16_t>(unit - 0x20);
    return unit;
}

// Named entries first, compared case-insensitively unit by unit (shorter prefix first), then
// IDs ascending.
bool entryLess(const ResourceId& a, const ResourceId& b) {
    if (a.isName != b.isName) return a.isName;
    if (!a.isName) return a.id < b.id;
    std::size_t common = std::min(a.name.size(), b.name.size());
    for (std::size_t i = 0; i < common; ++i) {
        char16_t left = foldCase(a.name[i]);
        char16_t right = foldCase(b.name[i]);
        if (left != right) return left < right;
    }
    return a.name.size() < b.name.size();
}

// One directory of the tree; leaves (language level) refer to a resource by index.
struct Node {
    ResourceId key;
    std::vector<std::unique_ptr<Node>> children;
    std::size_t resourceIndex = 0;
    std::uint32_t directoryOffset = 0;  // of this node's own table (inner nodes)
    std::uint32_t dataEntryOffset = 0;  // leaves
    std::uint32_t nameOffset = 0;       // of the key's string, when named
};

Node* findOrAdd(Node& parent, const ResourceId& key) {
    for (auto& child : parent.children)
        if (child->key == key) return child.get();
    parent.children.push_back(std::make_unique<Node>());
    parent.children.back()->key = key;
    return parent.children.back().get();
}

void sortTree(Node& node) {
    std::stable_sort(node.children.begin(), node.children.end(),
                     [](const auto& a, const auto& b) { return entryLess(a->key, b->key); });
    for (auto& child : node.children)
        sortTree(*child);
}

std::uint16_t countNamed(const Node& node) {
    return static_cast<std::uint16_t>(std::count_if(node.children.begin(), node.children.end(),
                                                    [](const auto& child) { return child->key.isName; }));
}

}  // namespace

ByteVector buildResourceSection(const std::vector<Resource>& resources, std::uint32_t sectionRva,
                                const ResourceSectionOptions& options) {
    Node root;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const Resource& resource = resources[i];
        Node* type = findOrAdd(root, resource.type);
        Node* name = findOrAdd(*type, resource.name);
        // A repeated (type, name, language) gets an entry of its own: hostile tests want duplicates.
        name->children.push_back(std::make_unique<Node>());
        name->children.back()->key = ResourceId{resource.language};
        name->children.back()->resourceIndex = i;
    }
    if (!options.keepCallerOrder) sortTree(root);

    // Lay out: directory tables breadth first (root, types, names), then name strings, data
    // entries and data.
    std::vector<Node*> typeNodes, nameNodes, leaves;
    for (auto& type : root.children) {
        typeNodes.push_back(type.get());
        for (auto& name : type->children) {
            nameNodes.push_back(name.get());
            for (auto& leaf : name->children)
                leaves.push_back(leaf.get());
        }
    }
    std::uint32_t offset = 0;
    auto placeDirectory = [&offset](Node& node) {
        node.directoryOffset = offset;
        offset +=
            kDirectoryHeaderSize + kDirectoryEntrySize * static_cast<std::uint32_t>(node.children.size());
    };
    placeDirectory(root);
    for (Node* node : typeNodes)
        placeDirectory(*node);
    for (Node* node : nameNodes)
        placeDirectory(*node);

    auto placeName = [&offset](Node& node) {
        if (!node.key.isName) return;
        node.nameOffset = offset;
        offset += 2 + 2 * static_cast<std::uint32_t>(node.key.name.size());
    };
    for (Node* node : typeNodes)
        placeName(*node);
    for (Node* node : nameNodes)
        placeName(*node);
    offset = alignUp(offset, 4);

    for (Node* leaf : leaves) {
        leaf->dataEntryOffset = offset;
        offset += kDataEntrySize;
    }
    std::vector<std::uint32_t> dataOffsets(resources.size(), 0);
    for (Node* leaf : leaves) {
        offset = alignUp(offset, std::max<std::uint32_t>(options.dataAlignment, 1));
        dataOffsets[leaf->resourceIndex] = offset;
        offset += static_cast<std::uint32_t>(resources[leaf->resourceIndex].data.size());
    }
    const std::uint32_t sectionSize = offset;

    // Write.
    ByteWriter out;
    out.bytes().reserve(sectionSize);
    auto writeDirectory = [&out](const Node& node, bool leafLevel) {
        out.u32(0);  // characteristics
        out.u32(0);  // time stamp
        out.u16(0);  // major version
        out.u16(0);  // minor version
        std::uint16_t named = countNamed(node);
        out.u16(named);
        out.u16(static_cast<std::uint32_t>(node.children.size()) - named);
        for (const auto& child : node.children) {
            out.u32(child->key.isName ? (kNameFlag | child->nameOffset) : child->key.id);
            out.u32(leafLevel ? child->dataEntryOffset : (kSubdirectoryFlag | child->directoryOffset));
        }
    };
    writeDirectory(root, false);
    for (Node* node : typeNodes)
        writeDirectory(*node, false);
    for (Node* node : nameNodes)
        writeDirectory(*node, true);
    auto writeName = [&out](const Node& node) {
        if (!node.key.isName) return;
        out.u16(static_cast<std::uint32_t>(node.key.name.size()));
        for (char16_t unit : node.key.name)
            out.u16(unit);
    };
    for (Node* node : typeNodes)
        writeName(*node);
    for (Node* node : nameNodes)
        writeName(*node);
    out.alignTo(4);
    for (Node* leaf : leaves) {
        const Resource& resource = resources[leaf->resourceIndex];
        out.u32(sectionRva + dataOffsets[leaf->resourceIndex]);
        out.u32(static_cast<std::uint32_t>(resource.data.size()));
        out.u32(resource.codePage);
        out.u32(0);
    }
    for (Node* leaf : leaves) {
        out.zeros(dataOffsets[leaf->resourceIndex] - out.size());
        out.append(asBytes(resources[leaf->resourceIndex].data));
    }

    // Deliberate damage, for hostile-input tests. "Far away" lies beyond any image we build.
    const std::uint32_t farAway = alignUp(sectionSize, 0x1000) + 0x100000;
    auto entryTarget = [](const Node& directory) {
        return directory.directoryOffset + kDirectoryHeaderSize + 4;
    };
    switch (options.fault) {
        case TreeFault::kNone:
            break;
        case TreeFault::kEntryPointsAtItsOwnDirectory:
            if (!nameNodes.empty() && !typeNodes.empty()) {
                const Node& directory = *typeNodes.front();
                out.patchU32(entryTarget(directory), kSubdirectoryFlag | directory.directoryOffset);
            }
            break;
        case TreeFault::kEntryPointsAtRoot:
            if (!nameNodes.empty() && !leaves.empty())
                out.patchU32(entryTarget(*nameNodes.front()), kSubdirectoryFlag | root.directoryOffset);
            break;
        case TreeFault::kDataOffsetPastSection:
            if (!leaves.empty()) out.patchU32(leaves.front()->dataEntryOffset, sectionRva + farAway);
            break;
        case TreeFault::kDataSizePastSection:
            if (!leaves.empty()) {
                std::uint32_t start = dataOffsets[leaves.front()->resourceIndex];
                out.patchU32(leaves.front()->dataEntryOffset + 4, sectionSize - start + 0x1000);
            }
            break;
        case TreeFault::kNamePastEnd: {
            auto named =
                std::find_if(typeNodes.begin(), typeNodes.end(), [](Node* n) { return n->key.isName; });
            Node* parent = &root;
            if (named == typeNodes.end()) {
                named =
                    std::find_if(nameNodes.begin(), nameNodes.end(), [](Node* n) { return n->key.isName; });
                if (named == nameNodes.end()) break;
                for (Node* type : typeNodes)
                    for (auto& child : type->children)
                        if (child.get() == *named) parent = type;
            }
            for (std::size_t i = 0; i < parent->children.size(); ++i) {
                if (parent->children[i].get() != *named) continue;
                out.patchU32(parent->directoryOffset + kDirectoryHeaderSize + kDirectoryEntrySize * i,
                             kNameFlag | farAway);
            }
            break;
        }
        case TreeFault::kCountLargerThanData:
            out.patchU16(root.directoryOffset + 14, 0xFFFFu - countNamed(root));
            break;
    }
    return std::move(out.bytes());
}

}  // namespace kestrel::pebuilder

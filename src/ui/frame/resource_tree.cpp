#include "ui/frame/resource_tree.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTreeWidgetItemIterator>
#include <cassert>
#include <cstdint>
#include <optional>

#include "app/ks_doc.h"
#include "core/pe/resource_types.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "ui/frame/app_icons.h"
#include "ui/widgets/language_names.h"

namespace kestrel::ui {

namespace {

constexpr int kHandleIndexRole = Qt::UserRole;
constexpr int kHandleGenerationRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;

struct DisplayName {
    int number;
    const char* name;
};

constexpr DisplayName kDisplayNames[] = {
    {1, "Cursor"},       {2, "Bitmap"},           {3, "Icon"},           {4, "Menu"},
    {5, "Dialog"},       {6, "String Table"},     {7, "Font Dir"},       {8, "Font"},
    {9, "Accelerators"}, {10, "RC Data"},         {11, "Message Table"}, {12, "Cursor Group"},
    {14, "Icon Group"},  {16, "Version Info"},    {17, "Dlg Include"},   {19, "Plug and Play"},
    {20, "VXD"},         {21, "Animated Cursor"}, {22, "Animated Icon"}, {23, "HTML"},
    {24, "Manifest"},
};

// Attribute text, entities decoded; empty when absent.
std::string attributeText(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    return attribute != nullptr ? attribute->value() : std::string();
}

bool hasAttribute(const XmlElement* element, std::string_view name) {
    return XmlDocument::FindAttribute(element, name) != nullptr;
}

// An entry's label: its Name, or its ID when it has no Name.
std::string entryLabel(const XmlElement* entry) {
    if (hasAttribute(entry, "Name")) return attributeText(entry, "Name");
    return attributeText(entry, "ID");
}

bool isEntry(const XmlElement* element) {
    return iequalsAscii(element->name(), "Entry");
}

QString toQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A language entry's ID as a number; nullopt when it is not one.
std::optional<std::uint16_t> languageNumber(const XmlElement* language) {
    std::int64_t number = -1;
    if (!parseInt(attributeText(language, "ID"), number) || number < 0 || number > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(number);
}

// The language as the tree shows it: its name, else the ID as stored.
QString languageLabel(const XmlElement* language) {
    if (std::optional<std::uint16_t> number = languageNumber(language)) return languageDisplayName(*number);
    return toQt(entryLabel(language));
}

// The tooltip of a language item: the whole label (long names do not fit the tree) and the number.
QString languageToolTip(const QString& label, const XmlElement* language) {
    std::optional<std::uint16_t> number = languageNumber(language);
    if (!number) return label;
    return label + QLatin1Char('\n') + QString::number(*number) +
           QStringLiteral(" (0x%1)").arg(*number, 4, 16, QLatin1Char('0'));
}

// Indexed by TreeImage.
constexpr AppIcon kTreeIcons[] = {AppIcon::kFolderClosed, AppIcon::kFolderOpen, AppIcon::kEntry};

}  // namespace

ElementHandle ElementHandles::add(XmlElement* element) {
    elements_.push_back(element);
    return {static_cast<std::uint32_t>(elements_.size() - 1), generation_};
}

XmlElement* ElementHandles::resolve(ElementHandle handle) const {
    if (handle.index == UINT32_MAX) return nullptr;
    if (handle.generation != generation_ || handle.index >= elements_.size()) {
        assert(!"element handle used after the description was reset");
        return nullptr;
    }
    return elements_[handle.index];
}

void ElementHandles::reset() {
    elements_.clear();
    ++generation_;
}

std::string typeDisplayName(std::string_view label) {
    for (const DisplayName& entry : kDisplayNames) {
        if (iequalsAscii(label, std::to_string(entry.number))) return entry.name;
    }
    return std::string(label);
}

ResourceTree::ResourceTree(QWidget* parent) : QTreeWidget(parent) {
    lookUpImages();
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    header()->setStretchLastSection(true);
    // The selection stays as visible while the tree has no focus.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
                onCurrentItemChanged(current, previous);
            });
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { showGroupOpen(item, true); });
    connect(this, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { showGroupOpen(item, false); });
}

bool ResourceTree::lookUpImages() {
    bool changed = false;
    for (std::size_t i = 0; i < images_.size(); ++i) {
        const QIcon& icon = appIcon(kTreeIcons[i], palette());
        changed = changed || icon.cacheKey() != images_[i].cacheKey();
        images_[i] = icon;
    }
    return changed;
}

void ResourceTree::changeEvent(QEvent* event) {
    QTreeWidget::changeEvent(event);
    if (event->type() != QEvent::PaletteChange || !lookUpImages()) return;
    for (QTreeWidgetItemIterator it(this); *it != nullptr; ++it)
        (*it)->setIcon(0, images_[static_cast<std::size_t>(imageOf(*it))]);
}

// Expanding all (the keypad's *) reports every item as expanded, entries included: only groups
// show a folder, open or closed.
void ResourceTree::showGroupOpen(QTreeWidgetItem* item, bool open) {
    if (item == nullptr || imageOf(item) == TreeImage::kEntry) return;
    setImage(item, open ? TreeImage::kOpen : TreeImage::kClosed);
}

void ResourceTree::clearItems() {
    populating_ = true;
    clear();
    populating_ = false;
    handles_.reset();
}

void ResourceTree::Populate(CKsDoc* document) {
    clearItems();
    document_ = document;
    if (document == nullptr || !document->isOpen()) return;
    XmlDocument& description = document->description();
    XmlElement* root = description.documentNode() != nullptr ? description.documentNode()->next() : nullptr;
    if (root == nullptr) return;
    populating_ = true;
    walk(description, root, nullptr);
    populating_ = false;
}

// Elements that are not entries (the Directory levels) are looked through. The walk keeps its own
// stack: a hostile pe.xml may nest directories very deeply.
void ResourceTree::walk(XmlDocument& description, XmlElement* start, QTreeWidgetItem* parent) {
    std::vector<XmlElement*> pending{start};
    std::vector<XmlElement*> children;
    while (!pending.empty()) {
        XmlElement* element = pending.back();
        pending.pop_back();
        if (!isEntry(element)) {
            if (parent != nullptr) setImage(parent, TreeImage::kEntry);
            children.clear();
            for (XmlElement* child = element->firstChild(); child != nullptr; child = child->next())
                children.push_back(child);
            pending.insert(pending.end(), children.rbegin(), children.rend());
        } else if (parent == nullptr) {
            std::string label = entryLabel(element);
            if (label.empty()) {
                // A type without a label adds nothing; its children are looked through.
                children.clear();
                for (XmlElement* child = element->firstChild(); child != nullptr; child = child->next())
                    children.push_back(child);
                pending.insert(pending.end(), children.rbegin(), children.rend());
            } else {
                addType(description, element);
            }
        } else {
            addResource(description, element, parent);
        }
    }
}

void ResourceTree::addType(XmlDocument& description, XmlElement* entry) {
    const std::string label = entryLabel(entry);
    std::int64_t number = -1;
    const bool numbered = parseInt(label, number);
    QTreeWidgetItem* item = insert(nullptr, toQt(typeDisplayName(label)), entry, TreeImage::kClosed);
    item->setToolTip(0, item->text(0));
    if (numbered && number == resource_type::kString) {
        addStringLanguages(description, entry, item);
        return;
    }
    for (XmlElement* child = entry->firstChild(); child != nullptr; child = child->next())
        walk(description, child, item);
    setImage(item, item->childCount() > 0 ? TreeImage::kClosed : TreeImage::kEntry);
}

// One item per language: the first is labelled as it always was; each further language gets an
// item of its own, so that every file the import wrote can be opened.
void ResourceTree::addResource(XmlDocument&, XmlElement* entry, QTreeWidgetItem* typeItem) {
    if (!hasAttribute(entry, "Name") && !hasAttribute(entry, "ID")) return;
    const std::string label = entryLabel(entry);
    XmlElement* languages = entry->firstChild();
    XmlElement* firstLanguage = languages != nullptr ? languages->firstChild() : nullptr;
    if (firstLanguage == nullptr) return;
    for (XmlElement* language = firstLanguage; language != nullptr; language = language->next()) {
        if (language != firstLanguage && !isEntry(language)) continue;
        const QString text = toQt(label) + QStringLiteral(" (") + languageLabel(language) + QLatin1Char(')');
        QTreeWidgetItem* item = insert(typeItem, text, language, TreeImage::kEntry);
        item->setToolTip(0, languageToolTip(text, language));
    }
}

void ResourceTree::addStringLanguages(XmlDocument&, XmlElement* typeEntry, QTreeWidgetItem* typeItem) {
    std::vector<std::string> seen;
    for (XmlElement* directory = typeEntry->firstChild(); directory != nullptr;
         directory = directory->next()) {
        for (XmlElement* resource = directory->firstChild(); resource != nullptr;
             resource = resource->next()) {
            if (!isEntry(resource)) continue;
            // Every language of every block: a language that is never a block's first (a translation
            // added after the original) still gets its item.
            XmlElement* languages = resource->firstChild();
            for (XmlElement* language = languages != nullptr ? languages->firstChild() : nullptr;
                 language != nullptr; language = language->next()) {
                if (!isEntry(language) || !hasAttribute(language, "ID")) continue;
                const std::string id = attributeText(language, "ID");
                bool listed = false;
                for (const std::string& known : seen)
                    listed = listed || iequalsAscii(known, id);
                if (listed) continue;
                seen.push_back(id);
                const QString text = languageLabel(language);
                QTreeWidgetItem* item = insert(typeItem, text, language, TreeImage::kEntry);
                item->setToolTip(0, languageToolTip(text, language));
            }
        }
    }
}

QTreeWidgetItem* ResourceTree::insert(QTreeWidgetItem* parent, const QString& text, XmlElement* element,
                                      TreeImage image) {
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    ElementHandle handle = handles_.add(element);
    item->setData(0, kHandleIndexRole, QVariant::fromValue<quint32>(handle.index));
    item->setData(0, kHandleGenerationRole, QVariant::fromValue<quint64>(handle.generation));
    setImage(item, image);
    return item;
}

void ResourceTree::setImage(QTreeWidgetItem* item, TreeImage image) {
    if (item == nullptr) return;
    item->setData(0, kImageRole, static_cast<int>(image));
    item->setIcon(0, images_[static_cast<std::size_t>(image)]);
}

TreeImage ResourceTree::imageOf(const QTreeWidgetItem* item) const {
    return static_cast<TreeImage>(item->data(0, kImageRole).toInt());
}

ElementHandle ResourceTree::handleOf(const QTreeWidgetItem* item) const {
    if (item == nullptr) return {};
    return {item->data(0, kHandleIndexRole).value<quint32>(),
            item->data(0, kHandleGenerationRole).value<quint64>()};
}

XmlElement* ResourceTree::elementOf(const QTreeWidgetItem* item) const {
    return handles_.resolve(handleOf(item));
}

namespace {

QStringList pathOf(const QTreeWidgetItem* item) {
    QStringList path;
    for (; item != nullptr; item = item->parent())
        path.prepend(item->text(0));
    return path;
}

}  // namespace

ResourceTree::ViewState ResourceTree::saveViewState() const {
    ViewState state;
    for (QTreeWidgetItemIterator it(const_cast<ResourceTree*>(this)); *it != nullptr; ++it)
        if ((*it)->isExpanded()) state.expanded.push_back(pathOf(*it));
    state.current = pathOf(currentItem());
    return state;
}

QTreeWidgetItem* ResourceTree::itemAtPath(const QStringList& path) const {
    QTreeWidgetItem* found = nullptr;
    for (const QString& label : path) {
        QTreeWidgetItem* next = nullptr;
        const int count = found != nullptr ? found->childCount() : topLevelItemCount();
        for (int i = 0; i < count && next == nullptr; ++i) {
            QTreeWidgetItem* candidate = found != nullptr ? found->child(i) : topLevelItem(i);
            if (candidate->text(0) == label) next = candidate;
        }
        if (next == nullptr) return nullptr;
        found = next;
    }
    return found;
}

void ResourceTree::restoreViewState(const ViewState& state) {
    for (const QStringList& path : state.expanded)
        if (QTreeWidgetItem* item = itemAtPath(path)) item->setExpanded(true);
    if (QTreeWidgetItem* item = state.current.isEmpty() ? nullptr : itemAtPath(state.current)) {
        setCurrentItem(item);
        scrollToItem(item);
    }
}

void ResourceTree::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier && currentItem() != nullptr) {
        emit deleteRequested();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier && currentItem() != nullptr) {
        emit renameRequested();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void ResourceTree::onCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (populating_ || !callback_) return;
    if (callback_(document_, elementOf(current)) || previous == nullptr) return;
    // The pane still shows the previous entry: the tree says so too.
    const QSignalBlocker blocker(this);
    setCurrentItem(previous);
}

}  // namespace kestrel::ui

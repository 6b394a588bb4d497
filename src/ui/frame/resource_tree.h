// The resource tree: resource types above resource entries, in the order of pe.xml. Items keep
// handles to description elements, never raw pointers: a handle from before the description was
// reset no longer resolves.
#pragma once

#include <QIcon>
#include <QStringList>
#include <QTreeWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {
class CKsDoc;
class XmlDocument;
class XmlElement;
}  // namespace kestrel

namespace kestrel::ui {

struct ElementHandle {
    std::uint32_t index = UINT32_MAX;
    std::uint64_t generation = 0;
};

// Element pointers of one loaded description, reached through handles. reset() starts a new
// generation; handles of an older generation resolve to null (and fail an assertion in debug
// builds, where they point at a use of a released tree).
class ElementHandles {
  public:
    ElementHandle add(XmlElement* element);
    XmlElement* resolve(ElementHandle handle) const;
    void reset();
    std::uint64_t generation() const { return generation_; }

  private:
    std::vector<XmlElement*> elements_;
    std::uint64_t generation_ = 1;
};

// The label of a type item: the display name of a standard type number, else the label itself.
std::string typeDisplayName(std::string_view label);

// Tree images: closed group, open group, single entry.
enum class TreeImage { kClosed = 0, kOpen = 1, kEntry = 2 };

class ResourceTree : public QTreeWidget {
    Q_OBJECT

  public:
    // select(document, element): the pane host's selection callback.
    // Returns false when the selection was refused (the pane could not store its edits): the
    // previous item is selected again.
    using SelectionCallback = std::function<bool(CKsDoc*, XmlElement*)>;

    explicit ResourceTree(QWidget* parent = nullptr);

    void Populate(CKsDoc* document);
    // Deletes every item and invalidates the handles of the description shown until now.
    void clearItems();

    void setSelectionCallback(SelectionCallback callback) { callback_ = std::move(callback); }
    bool isConnected() const { return static_cast<bool>(callback_); }
    void disconnectCallback() { callback_ = nullptr; }
    CKsDoc* document() const { return document_; }

    // The element an item stands for (null for a stale or foreign item).
    XmlElement* elementOf(const QTreeWidgetItem* item) const;
    ElementHandle handleOf(const QTreeWidgetItem* item) const;
    XmlElement* resolve(ElementHandle handle) const { return handles_.resolve(handle); }
    // Changes whenever the tree is filled again or cleared: what was derived from the shown
    // description (the search index) is out of date then.
    std::uint64_t generation() const { return handles_.generation(); }
    TreeImage imageOf(const QTreeWidgetItem* item) const;

    // Which items are expanded and which is current, by their labels, so that a tree filled again
    // from the same description (after a compile) looks as it did.
    struct ViewState {
        std::vector<QStringList> expanded;
        QStringList current;
        bool empty() const { return expanded.empty() && current.isEmpty(); }
    };
    ViewState saveViewState() const;
    // Expands the items that were expanded and makes the former current item current again (which
    // selects it through the callback).
    void restoreViewState(const ViewState& state);
    QTreeWidgetItem* itemAtPath(const QStringList& path) const;

  signals:
    // The Delete key was pressed on an item.
    void deleteRequested();
    // F2 was pressed on an item.
    void renameRequested();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // Takes the three images for the tree's palette; whether any of them changed.
    bool lookUpImages();
    void showGroupOpen(QTreeWidgetItem* item, bool open);
    void walk(XmlDocument& description, XmlElement* element, QTreeWidgetItem* parent);
    void addType(XmlDocument& description, XmlElement* entry);
    void addResource(XmlDocument& description, XmlElement* entry, QTreeWidgetItem* typeItem);
    void addStringLanguages(XmlDocument& description, XmlElement* typeEntry, QTreeWidgetItem* typeItem);
    QTreeWidgetItem* insert(QTreeWidgetItem* parent, const QString& text, XmlElement* element,
                            TreeImage image);
    void setImage(QTreeWidgetItem* item, TreeImage image);
    void onCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);

    CKsDoc* document_ = nullptr;
    SelectionCallback callback_;
    ElementHandles handles_;
    // Looked up once per tree (again when the palette changes) and shared by every item: a theme
    // lookup of an icon the theme lacks searches the icon folders again on every call.
    std::array<QIcon, 3> images_;
    bool populating_ = false;
};

}  // namespace kestrel::ui

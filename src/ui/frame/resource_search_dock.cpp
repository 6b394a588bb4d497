#include "ui/frame/resource_search_dock.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QThread>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <functional>
#include <set>

#include "app/ks_doc.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "ui/frame/ks_view.h"
#include "ui/frame/resource_tree.h"
#include "ui/panes/hex_wnd.h"
#include "ui/panes/pane_host.h"
#include "ui/panes/text_wnd.h"
#include "ui/widgets/code_editor.h"
#include "ui/widgets/hex_edit.h"
#include "ui/widgets/language_names.h"

namespace kestrel::ui {

namespace {

// Roles of the text column: where the match starts and how long it is.
constexpr int kMatchStartRole = Qt::UserRole + 1;
constexpr int kMatchLengthRole = Qt::UserRole + 2;
constexpr int kRowRole = Qt::UserRole + 3;
// Texts searched per step of the worker between looks at the cancel flag and hand-overs of results.
constexpr std::size_t kTextsPerStep = 2048;
// The resource, language and place columns fit their first results up to this width; the text
// column takes the rest.
constexpr int kMaxColumnWidth = 220;

QString toQt(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString keyText(const ResourceKey& key) {
    return key.isName ? toQt(key.name) : QString::number(key.id);
}

QString resourceText(const SearchResource& resource) {
    const std::string type = resource.type.isName ? utf16ToUtf8(resource.type.name)
                                                  : typeDisplayName(std::to_string(resource.type.id));
    if (!resource.type.isName && resource.type.id == resource_type::kString)
        return QString::fromStdString(type);
    return QString::fromStdString(type) + QLatin1Char(' ') + keyText(resource.name);
}

// The hex search reads every file once; STRINGS.XML holds every string block and is read once.
void searchFiles(const ResourceSearchIndex& index, const SearchQuery& query, const std::atomic<bool>& cancel,
                 const std::function<void(std::vector<SearchHit>)>& deliver) {
    std::set<std::filesystem::path> seen;
    std::vector<std::byte> bytes;
    for (std::uint32_t resource = 0; resource < index.resources().size(); ++resource) {
        if (cancel.load(std::memory_order_relaxed)) return;
        const std::filesystem::path& file = index.fileOf(resource);
        if (file.empty() || !seen.insert(file).second) continue;
        if (ReadWholeFile(file, bytes).failed()) continue;
        std::vector<SearchHit> hits;
        SearchBytes(asBytes(bytes), resource, query.bytes, hits);
        if (!hits.empty()) deliver(std::move(hits));
    }
}

}  // namespace

void MatchDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    const QVariant start = index.data(kMatchStartRole);
    if (!start.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString text = item.text;
    item.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : nullptr;
    if (style != nullptr) style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const int matchStart = std::clamp(start.toInt(), 0, static_cast<int>(text.size()));
    const int matchLength =
        std::clamp(index.data(kMatchLengthRole).toInt(), 0, static_cast<int>(text.size()) - matchStart);
    const QRect area = option.rect.adjusted(4, 0, -4, 0);
    const QFontMetrics metrics(option.font);
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const QColor normal = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);

    painter->save();
    painter->setClipRect(area);
    int x = area.left();
    const int baseline = area.top() + (area.height() + metrics.ascent() - metrics.descent()) / 2;
    auto run = [&](const QString& part, bool match) {
        const int width = metrics.horizontalAdvance(part);
        if (match) {
            painter->fillRect(QRect(x, area.top() + 1, width, area.height() - 2), QColor(255, 214, 0));
            painter->setPen(Qt::black);
        } else {
            painter->setPen(normal);
        }
        painter->drawText(x, baseline, part);
        x += width;
    };
    run(text.left(matchStart), false);
    run(text.mid(matchStart, matchLength), true);
    run(text.mid(matchStart + matchLength), false);
    painter->restore();
}

ResourceSearchDock::ResourceSearchDock(CKsView* view, CKsDoc* document, QWidget* parent)
    : QDockWidget(tr("在资源中查找"), parent), view_(view), document_(document) {
    setObjectName(QStringLiteral("resourceSearch"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* row = new QHBoxLayout;
    query_ = new QLineEdit(body);
    query_->setPlaceholderText(tr("要查找的文本"));
    query_->setClearButtonEnabled(true);
    caseBox_ = new QCheckBox(tr("区分大小写(&C)"), body);
    hexBox_ = new QCheckBox(tr("十六进制字节(&X)"), body);
    row->addWidget(query_, 1);
    row->addWidget(caseBox_);
    row->addWidget(hexBox_);
    layout->addLayout(row);
    results_ = new QTreeWidget(body);
    results_->setColumnCount(4);
    results_->setHeaderLabels({tr("资源"), tr("语言"), tr("位置"), tr("文本")});
    results_->setRootIsDecorated(false);
    results_->setUniformRowHeights(true);
    results_->setAllColumnsShowFocus(true);
    results_->setItemDelegateForColumn(3, new MatchDelegate(results_));
    results_->header()->setStretchLastSection(true);
    layout->addWidget(results_, 1);
    status_ = new QLabel(body);
    layout->addWidget(status_);
    setWidget(body);

    connect(query_, &QLineEdit::textChanged, this, [this] { startSearch(); });
    connect(caseBox_, &QCheckBox::toggled, this, [this] { startSearch(); });
    connect(hexBox_, &QCheckBox::toggled, this, [this] { startSearch(); });
    connect(results_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { choose(item->data(0, kRowRole).toInt()); });
    connect(results_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { choose(item->data(0, kRowRole).toInt()); });
    if (view_ != nullptr && view_->paneHost() != nullptr)
        connect(view_->paneHost(), &PaneHost::editsStored, this, [this] { dropIndex(); });
}

ResourceSearchDock::~ResourceSearchDock() {
    cancelSearch();
    for (const QPointer<QThread>& thread : threads_) {
        if (thread.isNull()) continue;
        thread->wait();
        delete thread.data();
    }
}

void ResourceSearchDock::activate() {
    show();
    raise();
    query_->setFocus(Qt::ShortcutFocusReason);
    query_->selectAll();
}

void ResourceSearchDock::dropIndex() {
    index_.reset();
    indexGeneration_ = 0;
}

void ResourceSearchDock::cancelSearch() {
    if (cancel_) cancel_->store(true);
    cancel_.reset();
    running_ = false;
}

void ResourceSearchDock::startSearch() {
    cancelSearch();
    const std::uint64_t generation = ++generation_;
    results_->clear();
    hits_.clear();
    shownIndex_.reset();
    std::erase_if(threads_, [](const QPointer<QThread>& thread) { return thread.isNull(); });

    const std::optional<SearchQuery> query =
        MakeSearchQuery(query_->text().toStdU16String(), {caseBox_->isChecked(), hexBox_->isChecked()});
    ResourceTree* tree = view_ != nullptr ? view_->tree() : nullptr;
    if (!query || document_ == nullptr || !document_->isOpen() || tree == nullptr) {
        status_->setText(query || query_->text().isEmpty() ? QString()
                                                           : tr("请以十六进制写出整字节，如 4D 5A"));
        emit searchFinished();
        return;
    }
    // The index belongs to the description the tree shows; a new tree (another project, an added or
    // deleted resource) needs a new one.
    if (indexGeneration_ != tree->generation()) dropIndex();
    std::shared_ptr<const ResourceSearchIndex> index = index_;
    std::vector<SearchSource> sources;
    if (!index)
        sources = ListSearchSources(document_->description(), document_->descriptionPath().parent_path());
    indexGeneration_ = tree->generation();

    auto cancel = std::make_shared<std::atomic<bool>>(false);
    cancel_ = cancel;
    running_ = true;
    status_->setText(tr("正在查找…"));
    auto post = [this, generation](std::shared_ptr<const ResourceSearchIndex> found,
                                   std::vector<SearchHit> hits, bool done) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, found = std::move(found), hits = std::move(hits), done]() mutable {
                receive(generation, std::move(found), std::move(hits), done);
            },
            Qt::QueuedConnection);
    };
    // A complete index is handed over even when its search is cancelled later: the next search, one
    // key later, needs it too.
    auto offer = [this,
                  treeGeneration = tree->generation()](std::shared_ptr<const ResourceSearchIndex> built) {
        QMetaObject::invokeMethod(
            this,
            [this, treeGeneration, built = std::move(built)]() mutable {
                keepIndex(treeGeneration, std::move(built));
            },
            Qt::QueuedConnection);
    };
    QThread* thread =
        QThread::create([index, sources = std::move(sources), query = *query, cancel, post, offer]() mutable {
            if (!index) {
                auto built = std::make_shared<ResourceSearchIndex>();
                if (!BuildSearchIndex(sources, *built, cancel.get())) return;
                index = std::move(built);
                offer(index);
            }
            if (query.options.hexBytes) {
                searchFiles(*index, query, *cancel,
                            [&](std::vector<SearchHit> hits) { post(index, std::move(hits), false); });
            } else {
                const std::size_t count = index->texts().size();
                for (std::size_t begin = 0; begin < count; begin += kTextsPerStep) {
                    if (cancel->load(std::memory_order_relaxed)) return;
                    std::vector<SearchHit> hits;
                    index->search(query, begin, begin + kTextsPerStep, hits);
                    if (!hits.empty()) post(index, std::move(hits), false);
                }
            }
            if (!cancel->load()) post(index, {}, true);
        });
    threads_.emplace_back(thread);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void ResourceSearchDock::receive(std::uint64_t generation, std::shared_ptr<const ResourceSearchIndex> index,
                                 std::vector<SearchHit> hits, bool done) {
    if (generation != generation_) return;
    shownIndex_ = std::move(index);
    const std::size_t first = hits_.size();
    hits_.insert(hits_.end(), std::make_move_iterator(hits.begin()), std::make_move_iterator(hits.end()));
    addRows(hits_, first);
    if (!done) return;
    running_ = false;
    cancel_.reset();
    status_->setText(hits_.empty() ? tr("没有找到。") : tr("找到 %1 处。").arg(hits_.size()));
    emit searchFinished();
}

void ResourceSearchDock::keepIndex(std::uint64_t treeGeneration,
                                   std::shared_ptr<const ResourceSearchIndex> index) {
    if (index_ || view_ == nullptr || view_->tree()->generation() != treeGeneration) return;
    index_ = std::move(index);
    indexGeneration_ = treeGeneration;
}

void ResourceSearchDock::addRows(const std::vector<SearchHit>& hits, std::size_t first) {
    QList<QTreeWidgetItem*> items;
    for (std::size_t row = first; row < hits.size(); ++row) {
        const SearchHit& hit = hits[row];
        const SearchResource& resource = shownIndex_->resources().at(hit.resource);
        auto* item = new QTreeWidgetItem;
        item->setText(0, resourceText(resource));
        item->setData(0, kRowRole, static_cast<int>(row));
        item->setText(1, languageDisplayName(resource.language));
        item->setToolTip(1, QString::number(resource.language));
        item->setText(2, placeText(hit));
        // Line ends and tabs would break the row; they show as spaces, one unit for one.
        QString excerpt = toQt(hit.excerpt);
        for (QChar& unit : excerpt)
            if (unit == QLatin1Char('\n') || unit == QLatin1Char('\t') || unit == QLatin1Char('\r'))
                unit = QLatin1Char(' ');
        item->setText(3, excerpt);
        item->setToolTip(3, excerpt);
        item->setData(3, kMatchStartRole, static_cast<int>(hit.matchStart));
        item->setData(3, kMatchLengthRole, static_cast<int>(hit.matchLength));
        items.append(item);
    }
    results_->addTopLevelItems(items);
    if (first == 0 && !items.isEmpty()) {
        // Later batches may hold longer language names and places than the first one.
        const QFontMetrics metrics(results_->font());
        const int least[3] = {0, metrics.horizontalAdvance(QStringLiteral("English (United States)")),
                              metrics.horizontalAdvance(tr("控件 %1 (ID %2)").arg(99).arg(99999))};
        for (int column = 0; column < 3; ++column) {
            results_->resizeColumnToContents(column);
            const int wanted = std::max(results_->columnWidth(column), least[column] + 12);
            results_->setColumnWidth(column, std::min(wanted, kMaxColumnWidth));
        }
    }
}

QString ResourceSearchDock::placeText(const SearchHit& hit) const {
    switch (hit.place) {
        case SearchPlace::kName:
            return tr("名称");
        case SearchPlace::kString:
            return tr("字符串 %1").arg(hit.detail);
        case SearchPlace::kVersionString:
            return toQt(hit.label);
        case SearchPlace::kDialogCaption:
            return tr("标题");
        case SearchPlace::kDialogControl:
            return tr("控件 %1 (ID %2)").arg(hit.detail).arg(toQt(hit.label));
        case SearchPlace::kMenuItem:
            return tr("菜单项 %1").arg(hit.detail);
        case SearchPlace::kText:
            return tr("文本");
        case SearchPlace::kBytes:
            return tr("偏移 0x%1").arg(hit.detail, 0, 16);
    }
    return {};
}

QTreeWidgetItem* ResourceSearchDock::treeItemOf(const SearchResource& resource) const {
    ResourceTree* tree = view_->tree();
    const bool stringBlock = !resource.type.isName && resource.type.id == resource_type::kString;
    XmlDocument& description = document_->description();
    // The tree lists a string-table language under the first block it comes first in; every one of
    // them shows STRINGS.XML, which holds the strings of all languages. A language that comes first
    // in no block is reached through the first string-table item.
    QTreeWidgetItem* anyStringTable = nullptr;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        XmlElement* element = tree->elementOf(*it);
        if (element == nullptr) continue;
        const std::optional<DescribedResource> described = DescribeResourceEntry(description, element);
        if (!described || described->type != resource.type) continue;
        if (stringBlock && anyStringTable == nullptr) anyStringTable = *it;
        if (described->language != resource.language) continue;
        if (stringBlock || described->name == resource.name) return *it;
    }
    return anyStringTable;
}

void ResourceSearchDock::choose(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= hits_.size() || !shownIndex_ || view_ == nullptr) return;
    const SearchHit hit = hits_[static_cast<std::size_t>(row)];
    QTreeWidgetItem* item = treeItemOf(shownIndex_->resources().at(hit.resource));
    if (item == nullptr) {
        status_->setText(tr("这个资源已不在项目中。"));
        return;
    }
    ResourceTree* tree = view_->tree();
    tree->scrollToItem(item);
    if (tree->currentItem() != item) tree->setCurrentItem(item);
    if (tree->currentItem() != item) return;  // the pane kept its edits
    selectMatch(hit);
}

void ResourceSearchDock::selectMatch(const SearchHit& hit) {
    if (hit.paneStart < 0) return;
    PaneHost* host = view_->paneHost();
    if (hit.place == SearchPlace::kBytes && host->kind() != PaneKind::kHex && !host->currentPath().empty()) {
        XmlElement* entry = view_->tree()->elementOf(view_->tree()->currentItem());
        host->ShowFile(document_, pathToUtf8(host->currentPath()),
                       entry != nullptr ? entry->firstChild() : nullptr, ShowMode::kHexFromText);
    }
    if (auto* hex = qobject_cast<HexWnd*>(host->activeWidget());
        hex != nullptr && hit.place == SearchPlace::kBytes) {
        hex->hexEdit()->selectBytes(hit.paneStart, hit.paneEnd);
        return;
    }
    auto* text = qobject_cast<TextWnd*>(host->activeWidget());
    if (text == nullptr || hit.place == SearchPlace::kBytes) return;
    QPlainTextEdit* editor = text->editor();
    QTextDocument* shown = editor->document();
    const QString match =
        toQt(hit.excerpt)
            .mid(static_cast<qsizetype>(hit.matchStart), static_cast<qsizetype>(hit.matchLength));
    QTextCursor cursor(shown);
    cursor.setPosition(std::min<int>(static_cast<int>(hit.paneStart), shown->characterCount() - 1));
    cursor.setPosition(std::min<int>(static_cast<int>(hit.paneEnd), shown->characterCount() - 1),
                       QTextCursor::KeepAnchor);
    // The file may have changed since it was indexed: then the first occurrence of the text is
    // selected instead. (A string written with escapes selects its escapes, found by offset only.)
    if (cursor.selectedText().compare(match, Qt::CaseInsensitive) != 0) {
        const QTextCursor found = shown->find(match);
        if (!found.isNull()) cursor = found;
    }
    editor->setTextCursor(cursor);
    editor->centerCursor();
}

}  // namespace kestrel::ui

// Find in resources: a dockable list of every place in the open project's resources that holds the
// typed text (or bytes, given in hex). The search runs in a worker thread while the user types; a
// new text cancels the search before it. Choosing a result selects its resource in the tree and, in
// the text and hex panes, the match.
#pragma once

#include <QDockWidget>
#include <QPointer>
#include <QStyledItemDelegate>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/pe/resource_search.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrel {
class CKsDoc;
}

namespace kestrel::ui {

class CKsView;

// Paints a result's text with the match highlighted.
class MatchDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

class ResourceSearchDock : public QDockWidget {
    Q_OBJECT

  public:
    ResourceSearchDock(CKsView* view, CKsDoc* document, QWidget* parent = nullptr);
    ~ResourceSearchDock() override;

    // Shows the dock and puts the caret into the search box with its text selected.
    void activate();
    // Forgets the index (the project changed); the next search builds it again.
    void dropIndex();

    QLineEdit* queryBox() const { return query_; }
    QCheckBox* caseBox() const { return caseBox_; }
    QCheckBox* hexBox() const { return hexBox_; }
    QTreeWidget* results() const { return results_; }
    QLabel* status() const { return status_; }
    bool isSearching() const { return running_; }
    // Selects the resource of result `row` and its match.
    void choose(int row);

  signals:
    // A search ended (all its results are listed).
    void searchFinished();

  private:
    void startSearch();
    void cancelSearch();
    void receive(std::uint64_t generation, std::shared_ptr<const ResourceSearchIndex> index,
                 std::vector<SearchHit> hits, bool done);
    // Keeps an index a worker completed, when the tree still shows the description it was built from.
    void keepIndex(std::uint64_t treeGeneration, std::shared_ptr<const ResourceSearchIndex> index);
    void addRows(const std::vector<SearchHit>& hits, std::size_t first);
    QString placeText(const SearchHit& hit) const;
    QTreeWidgetItem* treeItemOf(const SearchResource& resource) const;
    void selectMatch(const SearchHit& hit);

    CKsView* view_ = nullptr;
    CKsDoc* document_ = nullptr;
    QLineEdit* query_ = nullptr;
    QCheckBox* caseBox_ = nullptr;
    QCheckBox* hexBox_ = nullptr;
    QLabel* status_ = nullptr;
    QTreeWidget* results_ = nullptr;

    // The index of the description the tree shows (its generation); built by the first search.
    std::shared_ptr<const ResourceSearchIndex> index_;
    std::uint64_t indexGeneration_ = 0;
    // The results shown, from the index they were found in.
    std::shared_ptr<const ResourceSearchIndex> shownIndex_;
    std::vector<SearchHit> hits_;

    std::uint64_t generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::vector<QPointer<QThread>> threads_;
    bool running_ = false;
};

}  // namespace kestrel::ui

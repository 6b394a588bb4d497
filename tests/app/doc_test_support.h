// Shared pieces of the document tests: a UI sink that answers from a script and records what was
// shown, a view that records its calls, and a small PE file.
#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ks_doc.h"
#include "core/errors/errors.h"
#include "core/platform/ui_sink.h"
#include "pe_builder/pe_builder.h"
#include "support/scripted_sink.h"

namespace kestrel::testing {

class RecordingView : public DocumentView {
  public:
    explicit RecordingView(CKsDoc& document) : document_(document) { document_.setView(this); }
    ~RecordingView() override { document_.setView(nullptr); }
    RecordingView(const RecordingView&) = delete;
    RecordingView& operator=(const RecordingView&) = delete;

    void ClearView() override {
        calls.push_back("clear");
        showing = false;
    }
    bool CommitPane() override {
        calls.push_back("commit");
        return commitSucceeds;
    }
    bool StorePaneEdits() override {
        calls.push_back("store");
        return commitSucceeds;
    }
    bool commitSucceeds = true;
    // Like the real view, the rebuild walks the description: it must be loaded whenever a project
    // is open.
    void OnInitialUpdate() override {
        calls.push_back("rebuild");
        showing = document_.isOpen();
        if (showing) {
            EXPECT_TRUE(document_.description().hasSource());
            EXPECT_NE(document_.description().FindElement("\\Directory"), nullptr);
        }
    }
    int count(const std::string& call) const {
        int n = 0;
        for (const std::string& entry : calls)
            n += entry == call;
        return n;
    }

    std::vector<std::string> calls;
    bool showing = false;

  private:
    CKsDoc& document_;
};

// A small DLL with a bitmap, a string table and a version resource.
inline std::vector<std::byte> smallPe(std::uint32_t seed = 0) {
    pebuilder::ImagePlan plan;
    plan.resources.push_back({pebuilder::kRtBitmap, std::uint16_t{101}, pebuilder::kLangEnUs,
                              pebuilder::makeDib({16, 16, 8, false, false, false, seed}), 0});
    pebuilder::addStrings(plan.resources, pebuilder::kLangEnUs, {{1, u"hello"}, {2, u"世界"}});
    plan.resources.push_back({pebuilder::kRtVersion, std::uint16_t{1}, pebuilder::kLangEnUs,
                              pebuilder::makeVersionInfo(pebuilder::defaultVersionPlan()), 0});
    return pebuilder::buildImage(plan);
}

}  // namespace kestrel::testing

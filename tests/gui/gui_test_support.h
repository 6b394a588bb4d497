// Shared pieces of the GUI tests: isolated settings and data folders, a UI sink that answers from a
// script, a project made from the sample or from a pe.xml text, and screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/ks_doc.h"
#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "core/xml/xml_document.h"
#include "pe_builder/pe_builder.h"
#include "support/scripted_sink.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

using GuiScriptedSink = ScriptedSink;

// A file of the real-file corpus (a path under its unpacked root), fetched with tests/corpus/fetch
// when it is missing; empty when it is still missing afterwards (no network).
inline std::filesystem::path corpusFile(const std::string& relative) {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const std::filesystem::path root =
        (cache != nullptr && *cache != '\0'
             ? std::filesystem::path(cache)
             : std::filesystem::path(std::getenv("HOME") ? std::getenv("HOME") : "/") / ".cache" /
                   "kestrel-corpus") /
        "root";
    std::filesystem::path file = root / relative;
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        const std::string command = "\"" KESTREL_SOURCE_DIR "/tests/corpus/fetch\" >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        (void)status;
    }
    return std::filesystem::exists(file, error) ? file : std::filesystem::path();
}

// Runs the event loop (timers included) until `condition` holds; false when `timeoutMs` passed first.
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Every File element of a project's description with its resource type and stored name, and the
// full path it names under `folder`.
struct ProjectFile {
    std::filesystem::path path;
    XmlElement* element = nullptr;
    int type = 0;
    std::string name;
};
inline std::vector<ProjectFile> projectFiles(XmlDocument& description, const std::filesystem::path& folder,
                                             int (*typeOf)(XmlDocument&, XmlElement*)) {
    std::vector<ProjectFile> files;
    std::function<void(XmlElement*)> walk = [&](XmlElement* element) {
        for (XmlElement* child = element->firstChild(); child != nullptr; child = child->next()) {
            if (child->name() == "File") {
                const XmlAttribute* name = XmlDocument::FindAttribute(child, "Name");
                std::filesystem::path path;
                if (name != nullptr && resolveStored(folder, name->value(), path).succeeded())
                    files.push_back({path, child, typeOf(description, child), name->value()});
            }
            walk(child);
        }
    };
    // The top-level elements follow the document node.
    for (XmlElement* top = description.documentNode()->next(); top != nullptr; top = top->next())
        walk(top);
    return files;
}

// Points settings and data at temporary folders for the test's lifetime.
class IsolatedGuiTest : public ::testing::Test {
  protected:
    IsolatedGuiTest() {
        save("XDG_CONFIG_HOME");
        save("XDG_DATA_HOME");
        ::setenv("XDG_CONFIG_HOME", (temp_ / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (temp_ / "data").c_str(), 1);
        std::filesystem::create_directories(dataFolder() / "Temp");
        settings_ = std::make_unique<SettingsStore>();
    }
    ~IsolatedGuiTest() override {
        settings_.reset();
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    std::filesystem::path dataFolder() const { return temp_ / "data" / "Quillon" / "Kestrel"; }

    // Imports the sample DLL into `folder` and returns the project file.
    std::filesystem::path importSample(const std::string& folder = "work") {
        std::filesystem::path dll = temp_.write("in/sample.dll", pebuilder::buildSampleImage());
        std::filesystem::path project;
        EXPECT_TRUE(DecompileProject(dll, temp_ / folder, project).succeeded());
        return project;
    }

    // A project whose pe.xml is `description`, with an existing (dummy) PE file.
    std::filesystem::path projectWith(const std::string& description) {
        std::filesystem::path pe = temp_.write("p/x.dll", "MZ");
        temp_.write("p/pe.xml", description);
        return temp_.write(
            "p/x.kestrel",
            "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<ROOT>\r\n   <PEFILE FileName=\"pe.xml\"/>\r\n"
            "   <RESFILE FileName=\"" +
                pe.string() + "\"/>\r\n</ROOT>\r\n");
    }

    static void screenshot(QWidget& widget, const std::string& name) {
        std::filesystem::path folder = std::filesystem::path(KESTREL_BINARY_DIR) / "screenshots";
        std::filesystem::create_directories(folder);
        widget.grab().save(QString::fromStdString((folder / (name + ".png")).string()));
    }

    TempDir temp_;
    std::unique_ptr<SettingsStore> settings_;

  private:
    void save(const std::string& name) {
        const char* value = std::getenv(name.c_str());
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace kestrel::testing

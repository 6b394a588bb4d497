#include "ui/panes/pane_host.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <cstdint>

#include "app/ks_doc.h"
#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/pe/described_file.h"
#include "core/pe/resource_types.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "ui/panes/image_wnd.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "PaneHost";

bool isAnyOf(std::string_view extension, std::initializer_list<std::string_view> candidates) {
    for (std::string_view candidate : candidates) {
        if (iequalsAscii(extension, candidate)) return true;
    }
    return false;
}

// The stored name with its extension replaced by ".PNG".
std::string withPngExtension(std::string_view name) {
    std::string extension = extensionOf(name);
    return std::string(name.substr(0, name.size() - extension.size())) + ".PNG";
}

}  // namespace

PaneChoice choosePane(ShowMode mode, int resourceType, std::string_view fileName, bool pngFlag) {
    PaneChoice choice;
    if (mode == ShowMode::kHexFromText || mode == ShowMode::kHexFromImage) {
        choice.kind = PaneKind::kHex;
        choice.hexMode = mode;
        return choice;
    }
    if (mode == ShowMode::kTextFromHex) {
        choice.kind = PaneKind::kText;
        return choice;
    }
    switch (resourceType) {
        case resource_type::kGroupCursor:
            choice.kind = PaneKind::kCursorGroup;
            return choice;
        case resource_type::kGroupIcon:
            choice.kind = PaneKind::kIconGroup;
            return choice;
        case resource_type::kDialog:
            choice.kind = PaneKind::kDialog;
            return choice;
        case resource_type::kVersion:
            choice.kind = PaneKind::kVersion;
            return choice;
        case resource_type::kMenu:
            choice.kind = PaneKind::kMenu;
            return choice;
        case resource_type::kAccelerator:
        case resource_type::kMessageTable:
            // Shown as script text; the text pane falls back to the bytes when they do not decode.
            choice.kind = PaneKind::kText;
            return choice;
        default:
            break;
    }
    // HTML and manifest resources are text whatever their file is called.
    const bool textType = resourceType == resource_type::kHtml || resourceType == resource_type::kManifest;
    const std::string name = fileNameOf(fileName);
    const std::string extension = extensionOf(name);
    if (extension.empty()) {
        const bool textName = istartsWithAscii(name, "reginst") || istartsWithAscii(name, "uifile");
        choice.kind = textType || textName ? PaneKind::kText : PaneKind::kHex;
    } else if (iequalsAscii(extension, ".cur")) {
        choice.kind = PaneKind::kCursor;
    } else if (iequalsAscii(extension, ".ico")) {
        choice.kind = PaneKind::kIcon;
    } else if (isAnyOf(extension, {".ini", ".htm", ".xml", ".css"})) {
        choice.kind = PaneKind::kText;
    } else if (isAnyOf(extension, {".bmp", ".png", ".gif", ".avi", ".jpg"})) {
        choice.kind = PaneKind::kImage;
        choice.usePngFile = pngFlag;
    } else {
        choice.kind = textType ? PaneKind::kText : PaneKind::kHex;
    }
    return choice;
}

int resourceTypeOf(XmlDocument&, XmlElement* fileElement) {
    const std::int64_t type = DescribedFile::ofFileElement(fileElement).directoryType();
    return type >= INT32_MIN && type <= INT32_MAX ? static_cast<int>(type) : 0;
}

PaneHost::PaneHost(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(false);
}

PaneHost::~PaneHost() {
    // Whoever closes the window commits first; whatever is still pending is written now, and a
    // failure has been shown by the time the host is gone.
    [[maybe_unused]] const bool committed = CommitPane();
    if (active_ != nullptr) active_->widgetDestroyed();
}

Pane& PaneHost::pane(PaneType type) {
    auto& slot = panes_[static_cast<std::size_t>(type)];
    if (!slot) {
        if (PaneFactory factory = paneFactory(type)) slot = factory(*this);
        if (!slot) slot = std::make_unique<PlaceholderPane>(type);
    }
    return *slot;
}

bool PaneHost::Select(CKsDoc* document, XmlElement* element) {
    const bool committed = CommitPane();
    if (document != nullptr && element != nullptr) {
        // Edits that could not be written stay in their pane: the user has seen why and can try
        // again or take them back.
        if (!committed) return false;
        XmlDocument& description = document->description();
        description.SetCurrent(element);
        std::int32_t directory = 0;
        if (description.GetAttributeInt("", "Directory", directory).succeeded() && directory == 0) {
            XmlElement* file = element->firstChild();
            if (file != nullptr && iequalsAscii(file->name(), "File")) {
                description.SetCurrent(file);
                if (auto name = DescribedFile::ofFileElement(file).storedName()) {
                    ShowFile(document, *name, file, ShowMode::kTreeSelection);
                    return true;
                }
            }
        }
    }
    ClosePane();
    return true;
}

void PaneHost::ShowFile(CKsDoc* document, std::string_view nameOrPath, XmlElement* fileElement,
                        ShowMode mode) {
    if (document == nullptr) {
        ClosePane();
        return;
    }
    int type = fileElement != nullptr ? resourceTypeOf(document->description(), fileElement) : 0;
    const bool pngFlag = DescribedFile::ofFileElement(fileElement).png();
    if (mode != ShowMode::kTreeSelection && !CommitPane()) return;

    PaneChoice choice = choosePane(mode, type, nameOrPath, pngFlag);
    std::string name(nameOrPath);
    if (choice.usePngFile) name = withPngExtension(name);

    std::filesystem::path fullPath;
    if (mode == ShowMode::kTreeSelection) {
        // Names in pe.xml are stored names: they go through the resolver, which refuses absolute
        // names and ".." and finds ".PNG" as ".png".
        const std::filesystem::path folder = document->descriptionPath().parent_path();
        if (resolveStored(folder, name, fullPath).failed()) {
            RecordError(true, kSource, __LINE__, msg::kInvalidPath, {name});
            ClosePane();
            ShowErrorDialog();
            return;
        }
    } else {
        fullPath = pathFromUtf8(name);
        if (choice.usePngFile) {
            std::filesystem::path resolved;
            if (resolveStored(fullPath.parent_path(), pathToUtf8(fullPath.filename()), resolved)
                    .succeeded()) {
                fullPath = resolved;
            }
        }
    }

    // A file the extension does not tell as a picture shows as one when its bytes are one (a PNG or
    // GIF stored as RC data, a named type's picture).
    if (choice.kind == PaneKind::kHex &&
        (mode == ShowMode::kTreeSelection || mode == ShowMode::kChooseAgain) && isPictureFile(fullPath))
        choice.kind = PaneKind::kImage;

    PaneRequest request;
    request.kind = choice.kind;
    request.path = fullPath;
    request.resourceFile = document->resourceFilePath();
    request.fileElement = fileElement;
    request.document = document;
    request.mode = choice.hexMode;
    if (choice.kind == PaneKind::kIconGroup) request.imageSubMode = 9;
    if (choice.kind == PaneKind::kCursorGroup) request.imageSubMode = 10;
    show(request);
}

void PaneHost::show(const PaneRequest& request) {
    Pane& next = pane(paneTypeOf(request.kind));
    if (active_ != nullptr && active_ != &next) {
        active_->widgetDestroyed();
        delete activeWidget_;
        activeWidget_ = nullptr;
        active_ = nullptr;
    }
    if (activeWidget_ == nullptr) {
        activeWidget_ = next.createWidget(this);
        if (activeWidget_ != nullptr) {
            activeWidget_->setGeometry(rect());
            activeWidget_->show();
        }
    }
    active_ = &next;
    kind_ = request.kind;
    next.showFile(request);
    currentPath_ = request.path;
    emit statusMessage(QString::fromStdString(pathToUtf8(currentPath_)));
    update();
}

bool PaneHost::CommitPane() {
    if (active_ == nullptr) return true;
    // Only the panes that edit in place write back, and only what was edited: an unchanged pane
    // must not overwrite its file (an external editor may have changed it meanwhile).
    if (kind_ != PaneKind::kHex && kind_ != PaneKind::kText && kind_ != PaneKind::kVersion &&
        kind_ != PaneKind::kDialog && kind_ != PaneKind::kMenu)
        return true;
    if (!active_->isModified()) return true;
    // The pane recorded why its file could not be written; the user learns it here, once.
    if (active_->commit().failed()) {
        ShowErrorDialog();
        return false;
    }
    emit editsStored();
    return true;
}

void PaneHost::ClosePane() {
    if (active_ != nullptr) {
        active_->widgetDestroyed();
        delete activeWidget_;
    }
    activeWidget_ = nullptr;
    active_ = nullptr;
    kind_ = PaneKind::kNone;
    currentPath_.clear();
    emit statusMessage(QString());
    update();
}

bool PaneHost::canEdit(EditCommand command) const {
    return active_ != nullptr && active_->canEdit(command);
}

void PaneHost::edit(EditCommand command) {
    if (canEdit(command)) active_->edit(command);
}

void PaneHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (activeWidget_ != nullptr) activeWidget_->setGeometry(rect());
}

void PaneHost::paintEvent(QPaintEvent*) {
    if (activeWidget_ != nullptr) return;
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
}

}  // namespace kestrel::ui

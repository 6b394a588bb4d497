#include "core/images/png_codec.h"

namespace kestrel {

HResult WritePng(const ImageRecord&, std::vector<std::byte>& out, const PngWriteSettings&) {
    out.clear();
    return kFail;
}

std::filesystem::path replaceLastThree(const std::filesystem::path&, std::string_view) {
    return {};
}

HResult PngConverter::ReadPng(Bytes, ImageRecord& record) const {
    FreeImageRecord(record);
    return kFail;
}
HResult PngConverter::ReadPngFile(const std::filesystem::path&, ImageRecord& record) const {
    FreeImageRecord(record);
    return kFail;
}
HResult PngConverter::WriteBmp(const ImageRecord&, std::vector<std::byte>&) const {
    return kFail;
}
HResult PngConverter::WriteBmpFile(const std::filesystem::path&, ImageRecord& record) const {
    FreeImageRecord(record);
    return kFail;
}
HResult PngConverter::WritePng(const ImageRecord& record, std::vector<std::byte>& out) const {
    return kestrel::WritePng(record, out, settings_);
}
HResult PngConverter::WritePngFile(const std::filesystem::path&, ImageRecord& record) const {
    FreeImageRecord(record);
    return kFail;
}
HResult PngConverter::ConvertPngToBmp(const std::filesystem::path&) const {
    return kFail;
}
HResult PngConverter::ConvertPngToBmpBytes(Bytes, std::vector<std::byte>&) const {
    return kFail;
}
HResult PngConverter::ConvertPngFileToBmpBytes(const std::filesystem::path&, std::vector<std::byte>&) const {
    return kFail;
}
HResult PngConverter::LoadPngAsDib(const std::filesystem::path&, std::vector<std::byte>&) const {
    return kFail;
}
HResult PngConverter::ImageRecordToDib(const ImageRecord&, std::vector<std::byte>&) const {
    return kFail;
}

}  // namespace kestrel

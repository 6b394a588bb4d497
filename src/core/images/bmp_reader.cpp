#include "core/images/bmp_reader.h"

#include <utility>

namespace kestrel {

namespace {
ConverterLogHook& logHook() {
    static ConverterLogHook hook;
    return hook;
}
}  // namespace

ConverterLogHook SetConverterLogHook(ConverterLogHook hook) {
    return std::exchange(logHook(), std::move(hook));
}

std::string_view ReadBmp(std::string_view, Bytes, ImageRecord& record) {
    FreeImageRecord(record);
    return bmp_skip::kNotBmp;
}
HResult ReadBmpFile(const std::filesystem::path&, ImageRecord& record) {
    FreeImageRecord(record);
    return kFail;
}
HResult WritePngFile(const std::filesystem::path&, ImageRecord& record) {
    FreeImageRecord(record);
    return kFail;
}
HResult ConvertBmpToPng(const std::filesystem::path&) {
    return kFail;
}

}  // namespace kestrel
